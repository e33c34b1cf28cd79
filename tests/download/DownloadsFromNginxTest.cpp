#include "download/DownloadJob.h"
#include "download/DownloadQueue.h"
#include "platform/SettingsFile.h"
#include "support/DownloadHelpers.h"
#include "support/EventLoopWait.h"
#include "support/FakeJobTimers.h"
#include "support/LocalServerProcess.h"
#include "support/TempHome.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using Outcome = DownloadJob::Outcome;

// Downloads from a real server: nothing that happens meanwhile (other transfers, timer ticks,
// redraws) may corrupt a file, however large.

namespace {

// The offset of the first byte where the two files differ, or -1 when they are equal.
qint64 firstDifference(const QString& a, const QString& b) {
    QFile left(a);
    QFile right(b);
    if (!left.open(QIODevice::ReadOnly) || !right.open(QIODevice::ReadOnly))
        return 0;
    if (left.size() != right.size())
        return std::min(left.size(), right.size());
    constexpr qint64 kChunk = 4 << 20;
    for (qint64 offset = 0; offset < left.size(); offset += kChunk) {
        const QByteArray x = left.read(kChunk);
        const QByteArray y = right.read(kChunk);
        if (x != y)
            return offset;
    }
    return -1;
}

struct NginxRun {
    // extra goes into nginx's server block.
    explicit NginxRun(const QString& extra = QString())
        : nginx(QStringLiteral("/usr/sbin/nginx"), NginxConfig(documents.path(), extra)) {}

    QTemporaryDir documents;
    LocalServerProcess nginx;
    TempHome home;
    SettingsFile ini{home.file(QStringLiteral("Pellmar.ini"))};
    FakeJobTimers pump; // no tick removes a finished job while the test reads it
    DownloadQueue queue{ini, nullptr, pump.factory()};

    QString document(const QString& name) const { return documents.filePath(name); }
    QByteArray url(const QString& name) const {
        return "http://127.0.0.1:" + QByteArray::number(nginx.port()) + "/" + name.toUtf8();
    }
    bool allEnded() const {
        for (DownloadJob* job : queue.ActiveDownloads()) {
            if (job->outcome() == DownloadJob::Outcome::Pending)
                return false;
        }
        return true;
    }
};

} // namespace

TEST(DownloadsFromNginx, TenAtOnceArriveByteIdentical) {
    NginxRun run;
    for (int i = 0; i < 10; ++i) {
        QFile file(run.document(QStringLiteral("song%1.mp3").arg(i)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(PatternBytes(3 * 1024 * 1024 + i * 4099, unsigned(i + 20)));
    }
    const QString failure = run.nginx.start();
    ASSERT_TRUE(failure.isEmpty()) << qPrintable(failure);
    for (int i = 0; i < 10; ++i) {
        const QString name = QStringLiteral("song%1.mp3").arg(i);
        run.queue.StartDownload(run.home.file(name), run.url(name));
    }
    ASSERT_EQ(run.queue.ActiveDownloads().size(), 10);
    ASSERT_TRUE(WaitFor([&] { return run.allEnded(); }, 120000));
    for (int i = 0; i < 10; ++i) {
        const QString name = QStringLiteral("song%1.mp3").arg(i);
        SCOPED_TRACE(name.toStdString());
        EXPECT_EQ(run.queue.ActiveDownloads()[i]->outcome(), DownloadJob::Outcome::Complete);
        EXPECT_EQ(firstDifference(run.document(name), run.home.file(name)), -1);
    }
}

TEST(DownloadsFromNginx, ThreeGigabyteFileArrivesByteIdentical) {
    NginxRun run;
    const qint64 size = (qint64(3) << 30) + 12345;
    {
        // Sparse on the server's side, with marks around the 2 and 3 GiB boundaries.
        QFile file(run.document(QStringLiteral("big.mp3")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.resize(size));
        for (const qint64 at :
             {qint64(0), (qint64(2) << 30) - 7000, (qint64(3) << 30) - 10, size - 5000}) {
            file.seek(at);
            file.write(PatternBytes(5000, unsigned(at % 1000)));
        }
    }
    const QString failure = run.nginx.start();
    ASSERT_TRUE(failure.isEmpty()) << qPrintable(failure);
    DownloadJob* job = run.queue.StartDownload(run.home.file("big.mp3"), run.url("big.mp3"));
    ASSERT_TRUE(WaitFor([&] { return run.allEnded(); }, 900000));
    EXPECT_EQ(job->outcome(), DownloadJob::Outcome::Complete);
    EXPECT_EQ(job->fileLengthText(), QString::number(size));
    EXPECT_EQ(job->AnnouncedLength(), size);
    EXPECT_EQ(job->caption(), "100% big");
    EXPECT_EQ(firstDifference(run.document("big.mp3"), run.home.file("big.mp3")), -1);
}

TEST(DownloadsFromNginx, ABusyServerIsTriedAgainAndARedirectFollowed) {
    // nginx sends its own text/html pages with a 503 and a 302, the latter before the
    // Location.
    NginxRun run(QStringLiteral("location = /busy.mp3 {\n"
                                "  if (!-f $document_root/ready) { return 503; }\n"
                                "  rewrite ^ /song.mp3 last;\n}\n"
                                "location = /old.mp3 { return 302 /song.mp3; }\n"));
    const QByteArray body = PatternBytes(200000, 30);
    QFile song(run.document(QStringLiteral("song.mp3")));
    ASSERT_TRUE(song.open(QIODevice::WriteOnly) && song.write(body) == body.size());
    song.close();
    const QString failure = run.nginx.start();
    ASSERT_TRUE(failure.isEmpty()) << qPrintable(failure);

    FakeJobTimers timers;
    DownloadJob busy(run.ini);
    busy.SetTimerFactory(timers.factory());
    busy.StartTransfer(run.home.file("busy.mp3"), run.url("busy.mp3"));
    ASSERT_TRUE(WaitFor([&] { return busy.Waiting() || busy.outcome() != Outcome::Pending; }));
    EXPECT_EQ(busy.status(), "Retrying (1 of 5) in 1 s");
    QFile(run.document(QStringLiteral("ready"))).open(QIODevice::WriteOnly);
    timers.wait().fire();
    ASSERT_TRUE(WaitFor([&] { return busy.outcome() != Outcome::Pending; }));
    EXPECT_EQ(busy.outcome(), Outcome::Complete);
    EXPECT_TRUE(run.home.read("busy.mp3") == body);

    DownloadJob moved(run.ini);
    moved.StartTransfer(run.home.file("old.mp3"), run.url("old.mp3"));
    ASSERT_TRUE(WaitFor([&] { return moved.outcome() != Outcome::Pending; }));
    EXPECT_EQ(moved.outcome(), Outcome::Complete);
    EXPECT_TRUE(run.home.read("old.mp3") == body);
}
