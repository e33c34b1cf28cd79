#include "service/SiteSubmission.h"
#include "SearchdRunner.h"
#include "platform/SettingsFile.h"
#include "support/EventLoopWait.h"
#include "support/ScriptedServer.h"
#include "support/TempHome.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace {

const QByteArray kHome = "http://127.0.0.1:8790";

SiteSubmission::Forms ftpOnly(const QByteArray& address) {
    SiteSubmission::Forms forms;
    forms.ftpAddress = address;
    return forms;
}

} // namespace

TEST(SiteSubmission, ReportUrlsInOrderWithDefaults) {
    SiteSubmission::Forms all;
    all.ftpAddress = "10.0.0.5";
    all.ftpPort = "2121";
    all.ftpLogin = "MyLogin";
    all.ftpPass = "Se cret&x";
    all.httpAddress = "www.MP3 Site.com/music";
    all.smbAddress = "My Box";
    SiteSubmission::Forms webOnly;
    webOnly.httpAddress = "Music.Example.ORG";
    const QList<std::pair<SiteSubmission::Forms, QList<QByteArray>>> rows = {
        {ftpOnly("FTP.Example.com"),
         {kHome +
          "/cgi-bin/ftpaddsite?site_info=anonymous:guest%40pellmar.net@ftp.example.com:21"}},
        {all,
         {kHome + "/cgi-bin/ftpaddsite?site_info=mylogin:se%20cret%26x@10.0.0.5:2121",
          kHome + "/cgi-bin/httpaddsite?site_info=www.mp3%20site.com%2Fmusic",
          "Http://127.0.0.1:8790/cgi-bin/smbaddsite?ip=my%20box"}},
        {webOnly, {kHome + "/cgi-bin/httpaddsite?site_info=music.example.org"}},
        {SiteSubmission::Forms(), {}},
    };
    for (const auto& [forms, urls] : rows)
        EXPECT_EQ(SiteSubmission::reportUrls(kHome, forms), urls);
    EXPECT_EQ(SiteSubmission::ownShareUrl(kHome), kHome + "/cgi-bin/addmysmbsite");
}

TEST(SiteSubmission, TheServiceReceivesEveryReport) {
    SearchdRunner service;
    ASSERT_FALSE(service.baseUrl().isEmpty());
    TempHome home;
    SettingsFile ini(home.file(QStringLiteral("Pellmar.ini")));
    SiteSubmission submission;
    SiteSubmission::Forms forms;
    forms.ftpAddress = "Ftp.Example.com";
    forms.ftpPass = "Pa ss";
    forms.httpAddress = "www.mp3 site.com";
    forms.smbAddress = "Fileserver";
    const QByteArray home8 = service.baseUrl().toUtf8();
    submission.send(ini, SiteSubmission::reportUrls(home8, forms) +
                             QList<QByteArray>{SiteSubmission::ownShareUrl(home8)});
    ASSERT_TRUE(WaitFor([&] { return submission.pendingCount() == 0; }));

    // Each report has a connection of its own, so the log may list them in any order.
    QList<QByteArray> logged;
    for (int i = 0; i < 4; ++i) {
        const QByteArray line = service.nextLogLine();
        logged << line.left(line.lastIndexOf(' '));
    }
    std::sort(logged.begin(), logged.end());
    EXPECT_EQ(logged,
              QList<QByteArray>(
                  {"127.0.0.1 \"GET /cgi-bin/addmysmbsite\" 200",
                   "127.0.0.1 \"GET /cgi-bin/ftpaddsite?site_info=anonymous:pa%20ss@"
                   "ftp.example.com:21\" 200",
                   "127.0.0.1 \"GET /cgi-bin/httpaddsite?site_info=www.mp3%20site.com\" 200",
                   "127.0.0.1 \"GET /cgi-bin/smbaddsite?ip=fileserver\" 200"}));
}

// The proxy server of the options is used even while it is switched off for searches, and
// only the proxy sees the proxy's name and password.
TEST(SiteSubmission, GoesThroughTheStoredProxy) {
    ScriptedServer proxy(ScriptedServer::reply("HTTP/1.0 200 OK\r\n\r\nThanks"));
    TempHome home;
    SettingsFile ini(home.file(QStringLiteral("Pellmar.ini")));
    const QString options = QStringLiteral("Options");
    ini.writeString(options, QStringLiteral("UseProxy"), QStringLiteral("False"));
    ini.writeString(options, QStringLiteral("ProxyServer"), QStringLiteral("127.0.0.1"));
    ini.writeString(options, QStringLiteral("ProxyPort"), QString::number(proxy.port()));
    ini.writeString(options, QStringLiteral("ProxyName"), QStringLiteral("pu"));
    ini.writeString(options, QStringLiteral("ProxyPass"), QStringLiteral("pp"));
    SiteSubmission submission;
    submission.send(ini, {SiteSubmission::ownShareUrl("http://service.example")});
    ASSERT_TRUE(WaitFor([&] { return submission.pendingCount() == 0; }));
    EXPECT_EQ(proxy.requests(),
              QList<QByteArray>{"GET http://service.example/cgi-bin/addmysmbsite HTTP/1.0\r\n"
                                "Host: service.example\r\n"
                                "Proxy-Authorization: Basic cHU6cHA=\r\n\r\n"});
}
