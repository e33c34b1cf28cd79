#include "core/UserOptions.h"
#include "platform/Errors.h"
#include "platform/SettingsFile.h"
#include "support/TempHome.h"

#include <QFile>
#include <functional>
#include <gtest/gtest.h>

TEST(UserOptions, NoSettingsFileGivesTheDefaultsOfAFirstStart) {
    TempHome home;
    const SettingsFile ini(home.file(QStringLiteral("Pellmar.ini")));
    EXPECT_EQ(UserOptions::TimeLimit(ini), 180);
    EXPECT_EQ(UserOptions::MinSizeToAdd(ini), 30);
    EXPECT_EQ(UserOptions::StallSeconds(ini), 30);
    EXPECT_EQ(UserOptions::RetryCount(ini), 5);
    EXPECT_FALSE(UserOptions::ProxyForRequests(ini));
    EXPECT_FALSE(UserOptions::ProxyChecked(ini));
    EXPECT_FALSE(UserOptions::UseGoZilla(ini));
    EXPECT_FALSE(UserOptions::LimitApplies(ini));
    EXPECT_EQ(UserOptions::LimitNumber(ini), 0);
    EXPECT_EQ(UserOptions::MinBitrate(ini), 128);
    EXPECT_EQ(UserOptions::MinFrequency(ini), 44);
    EXPECT_TRUE(UserOptions::NeedStereo(ini));
    EXPECT_FALSE(UserOptions::UseFtp(ini));
    EXPECT_EQ(UserOptions::ProxyPortText(ini), QStringLiteral("80"));
    const UserOptions::BannerProxy banner = UserOptions::ProxyForBanner(ini);
    EXPECT_TRUE(banner.host.isEmpty());
    EXPECT_EQ(banner.port, 80);
}

TEST(UserOptions, TextFlagsAreComparedExactlyAndReadersDisagreeOnOtherText) {
    TempHome home;
    home.write(QStringLiteral("Pellmar.ini"),
               "[Options]\r\nUseProxy=yes\r\nLimit=true\r\nProxyServer=proxy.lan\r\n"
               "ProxyPort=3128\r\n");
    const SettingsFile ini(home.file(QStringLiteral("Pellmar.ini")));
    EXPECT_TRUE(UserOptions::ProxyForRequests(ini));
    EXPECT_FALSE(UserOptions::ProxyChecked(ini));
    EXPECT_TRUE(UserOptions::ProxyForBanner(ini).host.isEmpty());
    EXPECT_TRUE(UserOptions::LimitApplies(ini));
    EXPECT_FALSE(UserOptions::LimitChecked(ini));

    home.write(QStringLiteral("Pellmar.ini"),
               "[Options]\r\nUseProxy=True\r\nProxyServer=proxy.lan\r\nProxyPort=3128\r\n");
    const UserOptions::BannerProxy banner = UserOptions::ProxyForBanner(ini);
    EXPECT_EQ(banner.host, QStringLiteral("proxy.lan"));
    EXPECT_EQ(banner.port, 3128);
}

TEST(UserOptions, FlagsAndNumbersFollowTheLenientAndStrictRules) {
    TempHome home;
    home.write(QStringLiteral("Pellmar.ini"),
               "[Options]\r\nNeedStereo=True\r\nTimeLimit=0x1E\r\nMinBitrate=128k\r\n"
               "LimitNumber=\r\nProxyPort=eighty\r\nUseProxy=True\r\n");
    const SettingsFile ini(home.file(QStringLiteral("Pellmar.ini")));
    EXPECT_TRUE(UserOptions::NeedStereo(ini));
    EXPECT_EQ(UserOptions::TimeLimit(ini), 30);
    try {
        UserOptions::MinBitrate(ini);
        FAIL();
    } catch (const EConvertError& error) {
        EXPECT_EQ(error.message(), QStringLiteral("'128k' is not a valid integer value"));
    }
    EXPECT_THROW(UserOptions::LimitNumber(ini), EConvertError);
    EXPECT_THROW(UserOptions::ProxyForBanner(ini), EConvertError);
    home.write(QStringLiteral("Pellmar.ini"), "[Options]\r\nNeedStereo=0\r\n");
    EXPECT_FALSE(UserOptions::NeedStereo(ini));
    // Zero turns stall detection and retries off; a negative value is no choice of the user.
    home.write(QStringLiteral("Pellmar.ini"), "[Options]\r\nStallSeconds=-4\r\nRetryCount=0\r\n");
    EXPECT_EQ(UserOptions::StallSeconds(ini), 30);
    EXPECT_EQ(UserOptions::RetryCount(ini), 0);
    home.write(QStringLiteral("Pellmar.ini"), "[Options]\r\nStallSeconds=0\r\nRetryCount=x\r\n");
    EXPECT_EQ(UserOptions::StallSeconds(ini), 0);
    EXPECT_EQ(UserOptions::RetryCount(ini), 5);
}

// A port that is not an integer means no proxy for the requests and for the banner at start.
TEST(UserOptions, AMistypedProxyPortMeansNoProxy) {
    struct Row {
        const char* options;
        bool requests;
        std::optional<QString> host;
        int port;
        bool refused;
    };
    const Row rows[] = {
        {"UseProxy=True\r\nProxyServer=p\r\nProxyPort=3128\r\n", true, "p", 3128, false},
        {"UseProxy=True\r\nProxyServer=p\r\nProxyPort=80a\r\n", false, {}, 80, true},
        {"UseProxy=yes\r\nProxyServer=p\r\nProxyPort=80a\r\n", false, {}, 80, false},
        {"UseProxy=False\r\nProxyServer=p\r\nProxyPort=80a\r\n", false, {}, 80, false},
        {"UseProxy=True\r\nProxyServer=p\r\n", true, "p", 80, false},
    };
    TempHome home;
    const SettingsFile ini(home.file(QStringLiteral("Pellmar.ini")));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.options);
        home.write(QStringLiteral("Pellmar.ini"), QByteArray("[Options]\r\n") + row.options);
        EXPECT_EQ(UserOptions::ProxyForRequests(ini), row.requests);
        const UserOptions::StartupProxy proxy = UserOptions::ProxyForBannerAtStart(ini);
        EXPECT_EQ(proxy.host, row.host);
        EXPECT_EQ(proxy.port, row.port);
        EXPECT_EQ(proxy.portRefused, row.refused);
    }
}

// ---- the options dialog's whole set ----------------------------------------------------------

namespace {

struct BannerCall {
    std::optional<QString> host;
    int port;
};

// Saves and records what the banner was told.
QList<BannerCall> save(const UserOptions& options, SettingsFile& ini) {
    QList<BannerCall> calls;
    options.Save(ini, [&calls](const std::optional<QString>& host, int port) {
        calls.append({host, port});
    });
    return calls;
}

} // namespace

TEST(UserOptionsSet, AnEmptySettingsFileLoadsTheDefaultsAndWritesNothing) {
    TempHome home;
    const SettingsFile ini(home.file(QStringLiteral("Pellmar.ini")));
    const UserOptions options = UserOptions::Load(ini);
    EXPECT_EQ(options.timeLimit, QStringLiteral("180"));
    EXPECT_EQ(options.minSizeToAdd, QStringLiteral("30"));
    EXPECT_FALSE(options.useGoZilla);
    EXPECT_FALSE(options.useFtp);
    EXPECT_EQ(options.ftpPath, QString());
    EXPECT_FALSE(options.limit);
    EXPECT_EQ(options.limitNumber, QStringLiteral("0"));
    EXPECT_EQ(options.stallSeconds, QStringLiteral("30"));
    EXPECT_EQ(options.retryCount, QStringLiteral("5"));
    EXPECT_FALSE(options.useProxy);
    EXPECT_EQ(options.proxyPort, QStringLiteral("80"));
    EXPECT_EQ(options.minBitrate, QStringLiteral("128"));
    EXPECT_EQ(options.minFrequency, QStringLiteral("44"));
    EXPECT_TRUE(options.needStereo);
    EXPECT_TRUE(options.skipId3Tags);
    EXPECT_FALSE(QFile::exists(home.file(QStringLiteral("Pellmar.ini"))));
}

// Texts are shown as stored, integers as read leniently, text flags only for exactly "True".
TEST(UserOptionsSet, LoadShowsTextsAsStoredAndReadsTheFlagsByTheirRules) {
    TempHome home;
    home.write(QStringLiteral("Pellmar.ini"),
               "[Options]\r\nTimeLimit=0x1E\r\nMinSizeToAdd=0x1E\r\nLimit=true\r\n"
               "LimitNumber=two\r\nUseProxy=True\r\nProxyServer=p.lan\r\nProxyPort=80a\r\n"
               "ProxyName=ann\r\nProxyPass=secret\r\nMinBitrate=19x\r\nNeedStereo=True\r\n"
               "SkipId3Tags=0\r\nUseGo!Zilla=1\r\nUseFtp=1\r\nFtpPath=/usr/bin/ftp\r\n"
               "StallSeconds=-4\r\nRetryCount=x\r\nCaFile=/etc/ssl/our-ca.pem\r\n");
    const SettingsFile ini(home.file(QStringLiteral("Pellmar.ini")));
    const UserOptions options = UserOptions::Load(ini);
    EXPECT_EQ(options.timeLimit, QStringLiteral("0x1E"));
    EXPECT_EQ(options.minSizeToAdd, QStringLiteral("30"));
    EXPECT_FALSE(options.limit);
    EXPECT_EQ(options.limitNumber, QStringLiteral("two"));
    EXPECT_TRUE(options.useProxy);
    EXPECT_EQ(options.proxyServer, QStringLiteral("p.lan"));
    EXPECT_EQ(options.proxyPort, QStringLiteral("80a"));
    EXPECT_EQ(options.proxyName, QStringLiteral("ann"));
    EXPECT_EQ(options.proxyPass, QStringLiteral("secret"));
    EXPECT_EQ(options.minBitrate, QStringLiteral("19x"));
    EXPECT_TRUE(options.needStereo);
    EXPECT_FALSE(options.skipId3Tags);
    EXPECT_TRUE(options.useGoZilla);
    EXPECT_TRUE(options.useFtp);
    EXPECT_EQ(options.ftpPath, QStringLiteral("/usr/bin/ftp"));
    EXPECT_EQ(options.stallSeconds, QStringLiteral("-4"));
    EXPECT_EQ(options.retryCount, QStringLiteral("x"));
    EXPECT_EQ(options.caFile, QStringLiteral("/etc/ssl/our-ca.pem"));
}

TEST(UserOptionsSet, SaveWritesEveryKeyInItsOrderAndEncoding) {
    TempHome home;
    SettingsFile ini(home.file(QStringLiteral("Pellmar.ini")));
    UserOptions options;
    options.timeLimit = QStringLiteral("$1E");
    options.minSizeToAdd = QStringLiteral("-2");
    options.useGoZilla = true;
    options.useFtp = true;
    options.ftpPath = QStringLiteral("/opt/ftp");
    options.limit = true;
    options.limitNumber = QStringLiteral("3x");
    options.stallSeconds = QStringLiteral("0");
    options.retryCount = QStringLiteral("9");
    options.useProxy = true;
    options.proxyServer = QStringLiteral("proxy.example");
    options.proxyPort = QStringLiteral("3128");
    options.proxyName = QStringLiteral("ann");
    options.proxyPass = QStringLiteral("secret");
    options.minBitrate = QStringLiteral("19x");
    options.minFrequency = QStringLiteral("48");
    options.needStereo = false;
    options.skipId3Tags = false;
    options.caFile = QStringLiteral("/etc/ssl/our-ca.pem");
    const QList<BannerCall> calls = save(options, ini);
    EXPECT_EQ(
        home.read(QStringLiteral("Pellmar.ini")),
        "[Options]\r\nNeedStereo=0\r\nMinBitrate=19x\r\nMinFrequency=48\r\n"
        "SkipId3Tags=0\r\nHideSongsIHave=0\r\nUseGo!Zilla=1\r\nTimeLimit=30\r\nMinSizeToAdd=-2\r\n"
        "Limit=True\r\nLimitNumber=3x\r\nUseProxy=True\r\nProxyServer=proxy.example\r\n"
        "ProxyPort=3128\r\nProxyName=ann\r\nProxyPass=secret\r\nUseFtp=1\r\n"
        "FtpPath=/opt/ftp\r\nStallSeconds=0\r\nRetryCount=9\r\n"
        "CaFile=/etc/ssl/our-ca.pem\r\n");
    ASSERT_EQ(calls.size(), 1);
    EXPECT_EQ(calls[0].host, QStringLiteral("proxy.example"));
    EXPECT_EQ(calls[0].port, 3128);

    // What was saved loads back, but for the number the limit switched off.
    options.limit = false;
    options.useProxy = false;
    const QList<BannerCall> offCalls = save(options, ini);
    const UserOptions back = UserOptions::Load(ini);
    EXPECT_EQ(back.limitNumber, QStringLiteral("0"));
    EXPECT_FALSE(back.useProxy);
    EXPECT_EQ(back.proxyServer, QStringLiteral("proxy.example"));
    EXPECT_EQ(back.timeLimit, QStringLiteral("30"));
    EXPECT_EQ(back.ftpPath, QStringLiteral("/opt/ftp"));
    ASSERT_EQ(offCalls.size(), 1);
    EXPECT_EQ(offCalls[0].host, std::nullopt);
    EXPECT_EQ(offCalls[0].port, 80);
}

// A number that is not one stops the save at its key; what came before stays written.
TEST(UserOptionsSet, ABadNumberStopsTheSaveAtItsKey) {
    struct Row {
        const char* name;
        std::function<void(UserOptions&)> mistype;
        const char* error;
        const char* lastKey;
        int bannerCalls;
    };
    const Row rows[] = {
        {"time limit", [](UserOptions& o) { o.timeLimit = QStringLiteral("abc"); },
         "'abc' is not a valid integer value", "UseGo!Zilla=0\r\n", 0},
        {"minimum size", [](UserOptions& o) { o.minSizeToAdd = QStringLiteral("1.5"); },
         "'1.5' is not a valid integer value", "TimeLimit=180\r\n", 0},
        {"proxy port while the proxy is on",
         [](UserOptions& o) {
             o.useProxy = true;
             o.proxyPort = QStringLiteral("80a");
         },
         "'80a' is not a valid integer value", "ProxyPass=\r\n", 0},
        {"retry count", [](UserOptions& o) { o.retryCount = QStringLiteral("-"); },
         "'-' is not a valid integer value", "StallSeconds=30\r\n", 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempHome home;
        SettingsFile ini(home.file(QStringLiteral("Pellmar.ini")));
        UserOptions options;
        row.mistype(options);
        int bannerCalls = 0;
        try {
            options.Save(ini,
                         [&bannerCalls](const std::optional<QString>&, int) { ++bannerCalls; });
            ADD_FAILURE() << "no error";
        } catch (const EConvertError& error) {
            EXPECT_EQ(error.message(), QString::fromLatin1(row.error));
        }
        EXPECT_TRUE(home.read(QStringLiteral("Pellmar.ini")).endsWith(row.lastKey))
            << home.read(QStringLiteral("Pellmar.ini")).constData();
        EXPECT_EQ(bannerCalls, row.bannerCalls);
    }
    // A mistyped port with the proxy off is no number anybody converts.
    TempHome home;
    SettingsFile ini(home.file(QStringLiteral("Pellmar.ini")));
    UserOptions options;
    options.proxyPort = QStringLiteral("80a");
    EXPECT_EQ(save(options, ini).size(), 1);
}
