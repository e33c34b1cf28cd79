#include "app/GetNewPagesVersion.h"
#include "app/SubmitPage.h"
#include "controls/HarmFade.h"
#include "platform/SettingsFile.h"
#include "service/PagesRefresh.h"
#include "service/SiteSubmission.h"
#include "support/EventLoopWait.h"
#include "support/FakePlatform.h"
#include "support/ScriptedServer.h"
#include "support/TempHome.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <gtest/gtest.h>

namespace {

const QString kThanks = QStringLiteral("Thank you for submitting your site!");

} // namespace

TEST(SubmitPage, EveryGroupButtonSendsAllFormsThenThanksAndEmpties) {
    ScriptedServer service(ScriptedServer::reply("HTTP/1.0 200 OK\r\n\r\nThanks"));
    TempHome home;
    SettingsFile ini(home.file(QStringLiteral("Pellmar.ini")));
    FakePlatform fake;
    TSubmitPage::Context context;
    context.settings = [&ini]() -> const SettingsFile& { return ini; };
    context.homeUrl = [&service] { return QString::fromLatin1(service.url("")); };
    TSubmitPage page(fake.messages, context);

    struct Row {
        const char* name;
        THarmFade* button;
        QString ftp;
        QString web;
        QList<QByteArray> requests;
    };
    const QList<Row> rows = {
        {"web button sends FTP first",
         page.HarmFade12,
         "Ftp.Example.com",
         "www.Example.com",
         {"GET /cgi-bin/ftpaddsite?site_info=anonymous:guest%40pellmar.net@ftp.example.com:21 ",
          "GET /cgi-bin/httpaddsite?site_info=www.example.com "}},
        {"nothing filled in sends nothing", page.HarmFade13, "", "", {}},
        {"own shared folders", page.HarmFade11, "", "", {"GET /cgi-bin/addmysmbsite "}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const int before = int(service.requests().size());
        fake.messages.shown.clear();
        page.IPEdit->setText(row.ftp);
        page.HTTPEdit->setText(row.web);
        page.PassEdit->setText(QString());
        row.button->click();
        ASSERT_TRUE(WaitFor([&] { return page.submission().pendingCount() == 0; }));
        QList<QByteArray> lines;
        for (const QByteArray& request : service.requests().mid(before))
            lines << request.left(request.indexOf("HTTP/1.0"));
        std::sort(lines.begin(), lines.end()); // separate connections: any order
        EXPECT_EQ(lines, row.requests);
        ASSERT_EQ(fake.messages.shown.size(), 1);
        EXPECT_EQ(fake.messages.shown[0].text, kThanks);
        EXPECT_EQ(fake.messages.shown[0].caption, QStringLiteral("Pellmar"));
        if (row.button != page.HarmFade11) {
            EXPECT_TRUE(page.IPEdit->text().isEmpty());
            EXPECT_TRUE(page.HTTPEdit->text().isEmpty());
        }
    }
}

TEST(GetNewPagesVersion, CancelClosesWhileTheRequestRunsOn) {
    ScriptedServer server([](ScriptedServer::Connection& connection) {
        connection.readRequest();
        connection.waitUntilReleased();
    });
    TempHome home;
    SettingsFile ini(home.file(QStringLiteral("Pellmar.ini")));
    home.write(QStringLiteral("Pellmar.dat"), "old");
    int reloads = 0;
    TGetNewPagesVersion window(ini, home.file(QStringLiteral("Pellmar.dat")), [&] { ++reloads; });
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Update"));
    EXPECT_EQ(window.Label1->text(), QStringLiteral("Updating search engine..."));
    window.setUrl(server.url("/Pellmar.dat"));
    QTimer::singleShot(0, &window, [&] {
        ASSERT_TRUE(WaitFor([&] { return server.connections() == 1; }));
        window.CancelButton->click();
    });
    EXPECT_EQ(window.exec(), QDialog::Rejected);
    EXPECT_EQ(window.refresh().runningRequests(), 1);
    server.release();
    ASSERT_TRUE(WaitFor([&] { return window.refresh().runningRequests() == 0; }));
    EXPECT_EQ(home.read(QStringLiteral("Pellmar.dat")), "old");
    EXPECT_EQ(reloads, 0);
}
