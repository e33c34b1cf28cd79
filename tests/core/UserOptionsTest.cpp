#include "core/UserOptions.h"
#include "platform/Errors.h"
#include "platform/SettingsFile.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

using namespace UserOptions;

TEST(UserOptions, NoSettingsFileGivesTheDefaultsOfAFirstStart) {
    TempHome home;
    const SettingsFile ini(home.file(QStringLiteral("Pellmar.ini")));
    EXPECT_EQ(TimeLimit(ini), 180);
    EXPECT_EQ(MinSizeToAdd(ini), 30);
    EXPECT_EQ(StallSeconds(ini), 30);
    EXPECT_EQ(RetryCount(ini), 5);
    EXPECT_FALSE(ProxyForRequests(ini));
    EXPECT_FALSE(ProxyChecked(ini));
    EXPECT_FALSE(UseGoZilla(ini));
    EXPECT_FALSE(LimitApplies(ini));
    EXPECT_EQ(LimitNumber(ini), 0);
    EXPECT_EQ(MinBitrate(ini), 128);
    EXPECT_EQ(MinFrequency(ini), 44);
    EXPECT_TRUE(NeedStereo(ini));
    EXPECT_FALSE(UseFtp(ini));
    EXPECT_EQ(ProxyPortText(ini), QStringLiteral("80"));
    const BannerProxy banner = ProxyForBanner(ini);
    EXPECT_TRUE(banner.host.isEmpty());
    EXPECT_EQ(banner.port, 80);
}

TEST(UserOptions, TextFlagsAreComparedExactlyAndReadersDisagreeOnOtherText) {
    TempHome home;
    home.write(QStringLiteral("Pellmar.ini"),
               "[Options]\r\nUseProxy=yes\r\nLimit=true\r\nProxyServer=proxy.lan\r\n"
               "ProxyPort=3128\r\n");
    const SettingsFile ini(home.file(QStringLiteral("Pellmar.ini")));
    EXPECT_TRUE(ProxyForRequests(ini));
    EXPECT_FALSE(ProxyChecked(ini));
    EXPECT_TRUE(ProxyForBanner(ini).host.isEmpty());
    EXPECT_TRUE(LimitApplies(ini));
    EXPECT_FALSE(LimitChecked(ini));

    home.write(QStringLiteral("Pellmar.ini"),
               "[Options]\r\nUseProxy=True\r\nProxyServer=proxy.lan\r\nProxyPort=3128\r\n");
    const BannerProxy banner = ProxyForBanner(ini);
    EXPECT_EQ(banner.host, QStringLiteral("proxy.lan"));
    EXPECT_EQ(banner.port, 3128);
}

TEST(UserOptions, FlagsAndNumbersFollowTheLenientAndStrictRules) {
    TempHome home;
    home.write(QStringLiteral("Pellmar.ini"),
               "[Options]\r\nNeedStereo=True\r\nTimeLimit=0x1E\r\nMinBitrate=128k\r\n"
               "LimitNumber=\r\nProxyPort=eighty\r\nUseProxy=True\r\n");
    const SettingsFile ini(home.file(QStringLiteral("Pellmar.ini")));
    EXPECT_TRUE(NeedStereo(ini));
    EXPECT_EQ(TimeLimit(ini), 30);
    try {
        MinBitrate(ini);
        FAIL();
    } catch (const EConvertError& error) {
        EXPECT_EQ(error.message(), QStringLiteral("'128k' is not a valid integer value"));
    }
    EXPECT_THROW(LimitNumber(ini), EConvertError);
    EXPECT_THROW(ProxyForBanner(ini), EConvertError);
    home.write(QStringLiteral("Pellmar.ini"), "[Options]\r\nNeedStereo=0\r\n");
    EXPECT_FALSE(NeedStereo(ini));
    // Zero turns stall detection and retries off; a negative value is no choice of the user.
    home.write(QStringLiteral("Pellmar.ini"), "[Options]\r\nStallSeconds=-4\r\nRetryCount=0\r\n");
    EXPECT_EQ(StallSeconds(ini), 30);
    EXPECT_EQ(RetryCount(ini), 0);
    home.write(QStringLiteral("Pellmar.ini"), "[Options]\r\nStallSeconds=0\r\nRetryCount=x\r\n");
    EXPECT_EQ(StallSeconds(ini), 0);
    EXPECT_EQ(RetryCount(ini), 5);
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
        EXPECT_EQ(ProxyForRequests(ini), row.requests);
        const StartupProxy proxy = ProxyForBannerAtStart(ini);
        EXPECT_EQ(proxy.host, row.host);
        EXPECT_EQ(proxy.port, row.port);
        EXPECT_EQ(proxy.portRefused, row.refused);
    }
}
