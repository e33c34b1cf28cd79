// Downloads over TLS from the hostile test server, trusting the test CA through the option
// "CaFile": a transfer cut without close_notify is continued with a Range, and a handshake
// that never ends is given up by the stall watch.
#include "download/DownloadJob.h"
#include "platform/SettingsFile.h"
#include "support/DownloadHelpers.h"
#include "support/EventLoopWait.h"
#include "support/FakeJobTimers.h"
#include "support/HostileTlsServer.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

using Outcome = DownloadJob::Outcome;

TEST(DownloadsOverTls, CutTransferResumesAndStalledHandshakeIsGivenUp) {
    TestCertificates certificates;
    QString failure = certificates.make();
    ASSERT_TRUE(failure.isEmpty()) << qPrintable(failure);
    HostileTlsServer server(certificates);
    failure = server.start();
    ASSERT_TRUE(failure.isEmpty()) << qPrintable(failure);

    struct Row {
        QByteArray url;
        Outcome outcome;
        QStringList waits;
        QByteArray file;
        QByteArray events; // what the server noted
    };
    const QByteArray base = "https://127.0.0.1:";
    const QList<Row> rows = {
        {base + QByteArray::number(server.port()) + "/flaky",
         Outcome::Complete,
         {"Retrying (1 of 1) in 0 s"},
         PatternBytes(100000, 1),
         ""},
        {base + QByteArray::number(server.stallPort()) + "/song.mp3",
         Outcome::TooSmall,
         {"Retrying (1 of 1) in 0 s"},
         "",
         "hello held\nhello held\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.url.constData());
        TempHome home;
        SettingsFile ini(home.file(QStringLiteral("Pellmar.ini")));
        ini.writeString(QStringLiteral("Options"), QStringLiteral("RetryCount"),
                        QStringLiteral("1"));
        // The test CA comes from the options, as the window's users give theirs.
        ini.writeString(QStringLiteral("Options"), QStringLiteral("CaFile"), certificates.caFile());
        FakeJobTimers timers;
        DownloadJob job(ini);
        job.SetTimerFactory(timers.factory());
        job.StartTransfer(home.file(QStringLiteral("song.mp3")), row.url,
                          DownloadJob::TargetMode::Replace);
        QStringList waits;
        qsizetype held = 0;
        while (job.outcome() == Outcome::Pending) {
            ASSERT_TRUE(WaitFor([&] {
                return job.outcome() != Outcome::Pending || job.Waiting() ||
                       server.events().count("hello held") > held;
            }));
            if (server.events().count("hello held") > held) {
                ++held; // the handshake hangs: nothing comes, the watch gives the try up
                timers.stall().fire();
            }
            while (timers.wait().active) {
                waits << job.status();
                timers.wait().fire();
            }
        }
        EXPECT_EQ(job.outcome(), row.outcome) << qPrintable(job.status());
        EXPECT_EQ(waits, row.waits);
        EXPECT_TRUE(home.read(QStringLiteral("song.mp3")) == row.file);
        EXPECT_EQ(server.events(), row.events);
    }
}
