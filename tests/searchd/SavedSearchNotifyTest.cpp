// Saved searches the whole way: pellmar-searchd crawls nginx, a file appears there, a crawl
// asked for finds it, the desktop is told over the session bus and pellmar-cli lists it.
// Runs under dbus-run-session: a private session bus where this test plays the desktop's
// notification service.
#include "searchd/library/SampleLibrary.h"
#include "searchd/notify/DesktopNotifier.h"
#include "support/CliProcess.h"
#include "support/EventLoopWait.h"
#include "support/LocalServerProcess.h"

#include <QDBusConnection>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QVariantMap>
#include <gtest/gtest.h>
#include <thread>

// The desktop's notification service: keeps what it is asked to show.
class NotificationListener : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public slots:
    uint Notify(const QString& app, uint, const QString&, const QString& summary,
                const QString& body, const QStringList&, const QVariantMap&, int) {
        shown.append({app, summary, body});
        return static_cast<uint>(shown.size());
    }

public:
    QList<QStringList> shown;

    bool listen() {
        QDBusConnection bus = QDBusConnection::sessionBus();
        return bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), this,
                                  QDBusConnection::ExportAllSlots) &&
               bus.registerService(QStringLiteral("org.freedesktop.Notifications"));
    }
};

namespace {

// A sample without tags, so that its file name is its name; large enough for its head to be
// read.
SampleLibrary::SampleFile untaggedSample() {
    for (const SampleLibrary::SampleFile& sample : SampleLibrary::plan(8))
        if (sample.wrapping == SampleLibrary::Wrapping::None && sample.size > 100000)
            return sample;
    return {};
}

void writeSong(const QString& folder, const QString& name) {
    QFile file(QDir(folder).filePath(name));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(SampleLibrary::content(untaggedSample()));
}

struct Answer {
    QString status; // and the Location header, if any: "303 /saved"
    QByteArray body;
};

Answer curl(const QStringList& args) {
    QProcess process;
    process.start("curl", QStringList{"-s", "-w", "\n%{http_code} %header{location}"} + args);
    process.waitForFinished(30000);
    const QByteArray out = process.readAllStandardOutput();
    const qsizetype end = out.lastIndexOf('\n');
    return {QString::fromUtf8(out.mid(end + 1)).trimmed(), out.left(end)};
}

Answer post(const QString& url) {
    return curl({"--data", "", url});
}

// The service and what it has said so far.
struct RunningService {
    QProcess process;
    QByteArray out, err;

    bool waitUntilSaid(const QByteArray& text, int times = 1) {
        return WaitFor(
                   [&] {
                       out += process.readAllStandardOutput();
                       err += process.readAllStandardError();
                       return (out + err).count(text) >= times ||
                              process.state() == QProcess::NotRunning;
                   },
                   60000) &&
               (out + err).count(text) >= times;
    }
    QString baseUrl() const {
        const auto found = QRegularExpression("listening on (\\S+)").match(QString::fromUtf8(out));
        return found.captured(1);
    }
};

QJsonArray newMatches(const QString& base) {
    const QJsonObject list = QJsonDocument::fromJson(curl({base + "/api/saved"}).body).object();
    return list.value("searches").toArray().first().toObject().value("newMatches").toArray();
}

} // namespace

TEST(SavedSearchNotify, ANewFileOnACrawledServerIsListedNotifiedAndPrinted) {
    NotificationListener listener;
    ASSERT_TRUE(listener.listen());
    QTemporaryDir music, home;
    writeSong(music.path(), "Miles Davis - So What.mp3");
    writeSong(music.path(), "Chet Baker - Alone Together.mp3");
    LocalServerProcess nginx("/usr/sbin/nginx", NginxConfig(music.path(), "    autoindex on;"));
    ASSERT_EQ(nginx.start(), QString());
    const QString server = QStringLiteral("http://127.0.0.1:%1/").arg(nginx.port());

    RunningService service;
    service.process.start(PELLMAR_SEARCHD_BINARY,
                          {"--port", "0", "--db", home.filePath("searchd.db"), "--write-datafile",
                           home.filePath("Pellmar.dat"), "--crawl", server});
    ASSERT_TRUE(service.waitUntilSaid("finished after")) << service.err.constData();
    const QString base = service.baseUrl();

    // Saved with the search page's button; saving it again or with bad values is refused.
    const QByteArray searchPage = curl({base + "/?q=miles+davis"}).body;
    QString action = QRegularExpression("<form method=\"post\" action=\"(/api/saved[^\"]*)\">")
                         .match(QString::fromUtf8(searchPage))
                         .captured(1);
    action.replace("&amp;", "&");
    EXPECT_EQ(post(base + action).status, "303 /saved?said=saved") << searchPage.constData();
    EXPECT_EQ(post(base + "/api/saved?q=Miles+Davis").status, "409");
    EXPECT_EQ(post(base + "/api/saved?q=miles&kind=gopher").status, "400");
    // What was there when it was saved is not new.
    EXPECT_EQ(newMatches(base), QJsonArray());

    const QString added = "Miles Davis - <Blue> & Green.mp3"; // names come from anywhere
    writeSong(music.path(), added);
    // The first crawl's round may still be closing: 409 until it has.
    EXPECT_TRUE(WaitFor([&] { return post(base + "/api/crawl").status == "202"; }));
    ASSERT_TRUE(service.waitUntilSaid("Pellmar: 1 new file for \"miles davis\""))
        << service.out.constData() << service.err.constData();

    const QJsonArray found = newMatches(base);
    ASSERT_EQ(found.size(), 1);
    const QJsonObject match = found.first().toObject();
    EXPECT_EQ(match.value("name").toString(), added);
    EXPECT_EQ(match.value("kind").toString(), "http");
    EXPECT_EQ(match.value("url").toString(),
              server + "Miles%20Davis%20-%20%3CBlue%3E%20%26%20Green.mp3");
    EXPECT_EQ(match.value("size").toInteger(), untaggedSample().size);
    EXPECT_EQ(match.value("bitrate").toInt(), 112); // silent frames: the verdict is open
    EXPECT_EQ(match.value("mode").toString(), "CBR");
    EXPECT_EQ(match.value("verdict").toString(), "unknown");

    ASSERT_TRUE(WaitFor([&] { return !listener.shown.isEmpty(); }));
    EXPECT_EQ(listener.shown,
              (QList<QStringList>{{"Pellmar", "Pellmar: 1 new file for \"miles davis\"",
                                   "Miles Davis - &lt;Blue&gt; &amp; Green.mp3"}}));

    const QByteArray page = curl({base + "/saved"}).body;
    EXPECT_TRUE(page.contains("Miles Davis - &lt;Blue&gt; &amp; Green.mp3")) << page.constData();
    EXPECT_FALSE(page.contains("<Blue>"));

    EXPECT_EQ(cli(home.path(), {"saved"}).join('\n').toStdString(),
              QStringLiteral("saved\t1\tmiles davis\tall\t0\tany\t1 new\n"
                             "new\t1\thttp\t%1\t%2\t%3\t%4")
                  .arg(added)
                  .arg(untaggedSample().size)
                  .arg("112 kbit/s CBR", match.value("url").toString())
                  .toStdString());

    EXPECT_EQ(post(base + "/api/saved/1/seen").status, "200");
    EXPECT_EQ(newMatches(base), QJsonArray());
    EXPECT_EQ(post(base + "/api/saved/1/delete?then=saved").status, "303 /saved");
    EXPECT_EQ(post(base + "/api/saved/1/delete").status, "404");
    service.process.terminate();
    EXPECT_TRUE(service.process.waitForFinished(10000));
}

TEST(SavedSearchNotify, NotificationTextsAndWithoutABus) {
    EXPECT_EQ(DesktopNotifier::summaryFor("kind of blue", 1),
              "Pellmar: 1 new file for \"kind of blue\"");
    EXPECT_EQ(DesktopNotifier::summaryFor("kind of blue", 7),
              "Pellmar: 7 new files for \"kind of blue\"");
    EXPECT_EQ(DesktopNotifier::bodyFor({"a", "b", "c", "d", "e", "f", "g"}),
              "a\nb\nc\nd\ne\nand 2 more");

    NotificationListener listener;
    ASSERT_TRUE(listener.listen());
    EXPECT_FALSE(DesktopNotifier(false).notify("off", "nothing"));
    bool shown = false;
    std::thread sender([&] { shown = DesktopNotifier(true).notify("on", "x < y"); });
    WaitFor([&] { return !listener.shown.isEmpty(); });
    sender.join();
    EXPECT_TRUE(shown);
    EXPECT_EQ(listener.shown, (QList<QStringList>{{"Pellmar", "on", "x &lt; y"}}));

    const QByteArray address = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    qunsetenv("XDG_RUNTIME_DIR");
    EXPECT_FALSE(DesktopNotifier(true).notify("no bus", "nothing"));
    qputenv("DBUS_SESSION_BUS_ADDRESS", address);
    qputenv("XDG_RUNTIME_DIR", runtime);
}

#include "SavedSearchNotifyTest.moc"
