#include "service/UpdateCheck.h"
#include "PellmarVersion.h"
#include "SearchdRunner.h"
#include "core/DataFileConfig.h"
#include "platform/SettingsFile.h"
#include "service/PagesRefresh.h"
#include "support/EventLoopWait.h"
#include "support/FakePlatform.h"
#include "support/ScriptedServer.h"
#include "support/TempHome.h"

#include <QEventLoop>
#include <gtest/gtest.h>

namespace {

// One program start: the data file, the check and the refresh window's logic, run the way
// the window runs them (the refresh in a modal loop of its own).
struct CheckRun {
    TempHome home;
    FakePlatform desktop;
    SettingsFile ini{home.file(QStringLiteral("Pellmar.ini"))};
    DataFileConfig data;
    QStringList statuses;
    QList<QByteArray> refreshUrls;
    QList<bool> refreshSaved;
    UpdateCheck check{ini, desktop.messages, desktop.shell};
    PagesRefresh refresh{ini, home.file(QStringLiteral("Pellmar.dat")),
                         [this] { data.load(home.file(QStringLiteral("Pellmar.dat"))); }};

    QByteArray dataFile() const { return home.read(QStringLiteral("Pellmar.dat")); }

    void writeDataFile(const QString& homeUrl, int dataVersion) {
        DataFileConfig config;
        config.DataVersion = dataVersion;
        config.HomeUrl = homeUrl;
        WriteDataFile(home.file(QStringLiteral("Pellmar.dat")), config.plainLines());
    }

    void run() {
        data.load(home.file(QStringLiteral("Pellmar.dat")));
        UpdateCheck::Hooks hooks;
        hooks.homeUrl = data.HomeUrl;
        hooks.dataVersion = [this] { return data.DataVersion; };
        hooks.setStatus = [this](const QString& text) { statuses << text; };
        hooks.refresh = [this](const QByteArray& url) {
            refreshUrls << url;
            refresh.setUrl(url);
            QEventLoop modal;
            QObject::connect(&refresh, &PagesRefresh::finished, &modal, [&](bool saved) {
                refreshSaved << saved;
                modal.quit();
            });
            refresh.start();
            modal.exec();
        };
        check.StartCheck(hooks);
        ASSERT_TRUE(WaitFor([this] { return !check.running(); }));
    }
};

// An answer read to the close, as HTTP/1.0 allows.
QByteArray answer(const QByteArray& statusLine, const QByteArray& body) {
    return "HTTP/1.0 " + statusLine + "\r\n\r\n" + body;
}

const QByteArray kErrorPage = "<html><head><title>Not here</title></head><body><h1>This page "
                              "is not what you asked for</h1><p>Try again later.</p></body>"
                              "</html>\r\n";

} // namespace

TEST(UpdateCheck, AgainstTheService) {
    struct Row {
        const char* name;
        QStringList serviceArgs;
        QList<MessageResult> answers;
        int questions;
        bool opensDownloadPage;
        bool refreshes;
    };
    const QList<Row> rows = {
        {"same version and pages", {}, {}, 0, false, false},
        {"newer version, No", {"--newest-version", "3.3"}, {MessageResult::No}, 1, false, false},
        {"newer version, Yes", {"--newest-version", "3.3"}, {MessageResult::Yes}, 1, true, false},
        {"older version", {"--newest-version", "3.1"}, {}, 0, false, false},
        {"new pages", {"--data-version", "2"}, {}, 0, false, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        SearchdRunner service(row.serviceArgs);
        ASSERT_FALSE(service.baseUrl().isEmpty());
        CheckRun run;
        service.writeStaleDataFile(run.home.file(QStringLiteral("Pellmar.dat")), 1);
        const QByteArray before = run.dataFile();
        run.desktop.messages.answers = row.answers;
        run.run();

        EXPECT_TRUE(run.check.checkDone());
        EXPECT_EQ(run.statuses,
                  QStringList({QStringLiteral("Looking for new version"), QString()}));
        ASSERT_EQ(run.desktop.messages.shown.size(), row.questions);
        if (row.questions) {
            const RecordedMessage& question = run.desktop.messages.shown[0];
            EXPECT_EQ(question.caption, QStringLiteral("Pellmar"));
            EXPECT_EQ(question.text,
                      QStringLiteral("New version of Pellmar found. Do you want to get it now?"));
            EXPECT_EQ(question.icon, MessageIcon::Question);
            EXPECT_EQ(question.buttons, MessageButtons::YesNo);
        }
        EXPECT_EQ(run.desktop.shell.opened,
                  row.opensDownloadPage ? QStringList{service.baseUrl() + QStringLiteral("/")}
                                        : QStringList());
        if (!row.refreshes) {
            EXPECT_TRUE(run.refreshUrls.isEmpty());
            EXPECT_EQ(run.dataFile(), before);
            continue;
        }
        EXPECT_EQ(run.refreshUrls, QList<QByteArray>{service.baseUrl().toUtf8() + "/Pellmar.dat"});
        EXPECT_EQ(run.refreshSaved, QList<bool>{true});
        // The service's file, read at once: the next search asks the service's engines.
        EXPECT_EQ(run.data.DataVersion, 2);
        EXPECT_EQ(run.data.HttpQueryUrl1.left(service.baseUrl().size() + 1),
                  service.baseUrl() + QStringLiteral("/"));
        EXPECT_EQ(run.data.FtpQueryUrl.left(service.baseUrl().size() + 1),
                  service.baseUrl() + QStringLiteral("/"));
    }
}

TEST(UpdateCheck, OddVersionFilesAndFailedRequests) {
    struct Row {
        const char* name;
        QByteArray versionAnswer;
        QByteArray dataAnswer;
        bool done;
        QStringList statuses;
        QStringList errors;
        int refreshes;
    };
    // Whatever the answer, the status says no more that a version is looked for.
    const QStringList answered = {QStringLiteral("Looking for new version"), QString()};
    const QByteArray goodData = answer("200 OK", "x");
    DataFileConfig newer;
    newer.DataVersion = 7;
    newer.HomeUrl = QStringLiteral("http://new.example");
    const QByteArray hugeData =
        ScrambledDataFile(newer.plainLines()) + QByteArray(DataFileConfig::kMaxFileBytes, 'x');
    const QByteArray hugeVersion = "Version=3.3\r\nGet=http://x/\r\n7\r\nDATA\r\n" +
                                   QByteArray(UpdateCheck::kMaxVersionFileBytes, 'x');
    const QList<Row> rows = {
        {"a version file over 64 KiB is refused",
         answer("200 OK", hugeVersion),
         goodData,
         true,
         answered,
         {},
         0},
        {"a data file that CR LF ends would take past 1 MiB is refused",
         answer("200 OK", "Version=3.2\r\nGet=x\r\n7\r\nDATA\r\n"),
         answer("200 OK", ScrambledDataFile(newer.plainLines()) + QByteArray(600000, '\n')),
         true,
         answered,
         {},
         1},
        {"a data file over 1 MiB is refused",
         answer("200 OK", "Version=3.2\r\nGet=x\r\n7\r\nDATA\r\n"),
         answer("200 OK", hugeData),
         true,
         answered,
         {},
         1},
        {"no Version= on line 1",
         answer("200 OK", "Versoin=3.9\r\nGet=http://x/\r\n7\r\nDATA\r\n"),
         goodData,
         true,
         answered,
         {},
         0},
        {"3.10 sorts below 3.2",
         answer("200 OK", "Version=3.10\r\nGet=http://x/\r\n1\r\n"),
         goodData,
         true,
         answered,
         {},
         0},
        {"404 ends the check",
         answer("404 Not Found", kErrorPage),
         goodData,
         true,
         answered,
         {},
         0},
        {"an error page is no version file",
         answer("500 Internal Server Error", kErrorPage),
         goodData,
         false,
         answered,
         {},
         0},
        {"line 3 not an integer",
         answer("200 OK", "Version=3.2\nGet=x\nabc\nDATA\n"),
         goodData,
         true,
         answered,
         {QStringLiteral("'abc' is not a valid integer value")},
         0},
        {"a long line 3 is quoted by its start",
         answer("200 OK", "Version=3.2\n\n" + QByteArray(300, '7') + "x\n"),
         goodData,
         true,
         answered,
         {QStringLiteral("'%1...' is not a valid integer value")
              .arg(QString(200, QLatin1Char('7')))},
         0},
        {"line 3 missing",
         answer("200 OK", "Version=3.2\rGet=x\r"),
         goodData,
         true,
         answered,
         {QStringLiteral("List index out of bounds (2)")},
         0},
        {"refresh gets a 404 page",
         answer("200 OK", "Version=3.2\r\nGet=x\r\n7\r\nDATA\r\n"),
         answer("404 Not Found", kErrorPage),
         true,
         answered,
         {},
         1},
        {"refresh gets a page that is no data file",
         answer("200 OK", "Version=3.2\r\nGet=x\r\n7\r\nDATA\r\n"),
         answer("200 OK", kErrorPage),
         true,
         answered,
         {},
         1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        QByteArray dataUrl; // DATA in a version file stands for this server's data file
        ScriptedServer server([&row, &dataUrl](ScriptedServer::Connection& connection) {
            const QByteArray request = connection.readRequest();
            connection.send(request.startsWith("GET /version2.txt ")
                                ? QByteArray(row.versionAnswer).replace("DATA", dataUrl)
                                : row.dataAnswer);
        });
        dataUrl = server.url("/Pellmar.dat");
        CheckRun run;
        run.writeDataFile(QString::fromLatin1(server.url("")), 1);
        const QByteArray before = run.dataFile();
        run.run();

        EXPECT_EQ(run.check.checkDone(), row.done);
        EXPECT_EQ(run.statuses, row.statuses);
        QStringList errors;
        for (const RecordedMessage& message : run.desktop.messages.shown) {
            EXPECT_EQ(message.icon, MessageIcon::Error);
            errors << message.text;
        }
        EXPECT_EQ(errors, row.errors);
        EXPECT_EQ(run.refreshUrls.size(), row.refreshes);
        EXPECT_EQ(run.refreshSaved, QList<bool>(row.refreshes, false));
        EXPECT_EQ(run.dataFile(), before);
        EXPECT_TRUE(run.desktop.shell.opened.isEmpty());
    }
}

// The version file is asked for as the program, and the proxy's name and password never go
// to the service.
TEST(UpdateCheck, RequestCarriesTheAgentAndNoCredentials) {
    ScriptedServer server(ScriptedServer::reply(answer("404 Not Found", kErrorPage)));
    CheckRun run;
    run.ini.writeString(QStringLiteral("Options"), QStringLiteral("UseProxy"),
                        QStringLiteral("False"));
    run.ini.writeString(QStringLiteral("Options"), QStringLiteral("ProxyName"),
                        QStringLiteral("me"));
    run.ini.writeString(QStringLiteral("Options"), QStringLiteral("ProxyPass"),
                        QStringLiteral("secret"));
    run.writeDataFile(QString::fromLatin1(server.url("")), 1);
    run.run();
    ASSERT_EQ(server.requests().size(), 1);
    EXPECT_EQ(server.requests()[0].toStdString(),
              "GET /version2.txt HTTP/1.0\r\nUser-Agent: Pellmar " + std::string(kPellmarVersion) +
                  "\r\nHost: 127.0.0.1:" + std::to_string(server.port()) + "\r\n\r\n");
    // Done: a second start asks nothing.
    run.run();
    EXPECT_EQ(server.requests().size(), 1);
}

// The version file comes over plain HTTP: only a web page is opened as the download page.
TEST(UpdateCheck, OnlyAnHttpOrHttpsDownloadPageIsOpened) {
    struct Row {
        QByteArray line2;
        QStringList opened;
        std::string err;
    };
    const QList<Row> rows = {
        {"Get=https://new.example/get", {"https://new.example/get"}, ""},
        {"Get=HTTP://new.example/", {"HTTP://new.example/"}, ""},
        {"Get=file:///usr/bin/xterm",
         {},
         "Pellmar: the download page \"file:///usr/bin/xterm\" is not an http or https address "
         "and is not opened\n"},
        {"Get=/usr/bin/xterm",
         {},
         "Pellmar: the download page \"/usr/bin/xterm\" is not an http or https address and is "
         "not opened\n"},
        {"Get=\x1b]0;title\x07",
         {},
         "Pellmar: the download page \"?]0;title?\" is not an http or https address and is not "
         "opened\n"},
        {"Get=javascript:alert(1)",
         {},
         "Pellmar: the download page \"javascript:alert(1)\" is not an http or https address and "
         "is not opened\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line2.toStdString());
        FakePlatform desktop;
        TempHome home;
        SettingsFile ini(home.file(QStringLiteral("Pellmar.ini")));
        UpdateCheck check(ini, desktop.messages, desktop.shell);
        desktop.messages.answers = {MessageResult::Yes};
        testing::internal::CaptureStderr();
        check.handleVersionFile("Version=3.3\r\n" + row.line2 + "\r\n0\r\n");
        EXPECT_EQ(testing::internal::GetCapturedStderr(), row.err);
        EXPECT_EQ(desktop.messages.shown.size(), 1);
        EXPECT_EQ(desktop.shell.opened, row.opened);
    }
}
