#include "controls/AdImage.h"
#include "support/FakeAdvertLog.h"
#include "support/FakePlatform.h"
#include "support/TempHome.h"

#include <QCoreApplication>
#include <QFile>
#include <gtest/gtest.h>

namespace {

class AdImageTest : public ::testing::Test {
protected:
    // Puts a test library into the program folder under the banner's library name.
    std::unique_ptr<TAdImage> create(const char* library) {
        if (library)
            QFile::copy(QString::fromUtf8(library), home.file(QStringLiteral("advert.dll")));
        auto banner = std::make_unique<TAdImage>(fake.messages);
        fakeLib = std::make_unique<FakeAdvertLog>(home.file(QStringLiteral("advert.dll")));
        return banner;
    }
    QStringList messageTexts() const {
        QStringList texts;
        for (const RecordedMessage& shown : fake.messages.shown) {
            EXPECT_EQ(shown.caption, QStringLiteral("Assertion Failed"));
            EXPECT_EQ(shown.buttons, MessageButtons::Ok);
            texts << shown.text;
        }
        return texts;
    }

    TempHome home;
    FakePlatform fake;
    std::unique_ptr<FakeAdvertLog> fakeLib;
};

const QString kStartCalls = QStringLiteral("_SetCallback set\n_SetNetworkCallback set\n"
                                           "_SetAdRecordedCallback set\n");

} // namespace

// What the library itself does without its exports or after a failed start is tested with
// AdvertLibrary; here the banner must draw and take clicks without a library.
TEST_F(AdImageTest, MissingLibraryIsReportedOnceAndNothingIsCalled) {
    auto banner = create(nullptr);
    EXPECT_EQ(messageTexts(), QStringList{QStringLiteral("Couldn't load advert.dll")});
    banner->Loaded();
    EXPECT_FALSE(banner->started());
    EXPECT_FALSE(banner->NetworkIsUp());
    EXPECT_FALSE(banner->SetProxy(QByteArray("host"), 1, QByteArray()));
    banner->click();
    EXPECT_FALSE(banner->grab().isNull());
}

TEST_F(AdImageTest, StartPassesIdentitySizeOptionsAndStoredValues) {
    struct Row {
        TAdOptionSet options;
        const char* word;
        TAdOptionSet readBack;
    };
    const TAdOptionSet all = {adoNoConnect, adoNoDialOnDemand, adoDelayedStartup, adoAll};
    for (const Row& row :
         {Row{{}, "0", {}},
          Row{{adoNoConnect, adoDelayedStartup}, "5", {adoNoConnect, adoDelayedStartup}},
          Row{{adoAll}, "4294967295", all}, Row{{adoNoDialOnDemand, adoAll}, "4294967295", all}}) {
        TempHome rowHome;
        FakePlatform rowFake;
        QFile::copy(QStringLiteral(PELLMAR_FAKE_ADVERT),
                    rowHome.file(QStringLiteral("advert.dll")));
        TAdImage banner(rowFake.messages);
        FakeAdvertLog lib(rowHome.file(QStringLiteral("advert.dll")));
        EXPECT_TRUE(rowFake.messages.shown.isEmpty());
        banner.setOptions(row.options);
        EXPECT_EQ(banner.Options(), row.readBack) << row.word;
        banner.setProgramID(107);
        banner.setSize(ADS234x60);
        banner.setMinimumAdDisplayTime(250);
        banner.setBandwidthThrottle(4000);
        banner.setNetworkIsUp(true); // no effect before the start
        banner.Loaded();
        EXPECT_TRUE(banner.started());
        EXPECT_EQ(lib.log(), QStringLiteral("_Startup module 0 107 6 %1 fresh-context\n")
                                     .arg(QLatin1String(row.word)) +
                                 kStartCalls +
                                 QStringLiteral("_SetBandwidthThrottle 4000\n"
                                                "_SetMinimumAdDisplayTime 250\n"));
    }
}

TEST_F(AdImageTest, PropertiesReachAStartedLibrary) {
    auto banner = create(PELLMAR_FAKE_ADVERT);
    banner->setAutoLoad(false);
    banner->Loaded();
    EXPECT_FALSE(banner->started());
    EXPECT_TRUE(banner->Start());
    const qsizetype started = fakeLib->log().size();

    struct Connect {
        int32_t result, value;
        bool up;
    };
    for (const Connect& row : {Connect{1, 1, true}, Connect{0x10000, 1, false},
                               Connect{1, 0, false}, Connect{0x00FF0001, -7, true}}) {
        fakeLib->setConnect(row.result, row.value);
        EXPECT_EQ(banner->NetworkIsUp(), row.up) << row.result;
    }
    banner->setNetworkIsUp(true);
    banner->setNetworkIsUp(false);
    banner->setBandwidthThrottle(77);
    banner->setMinimumAdDisplayTime(88);
    EXPECT_TRUE(banner->SetProxy(QByteArray("proxy.example"), 3128, QByteArray()));
    EXPECT_TRUE(banner->SetProxy(std::nullopt, 80, QByteArray()));
    EXPECT_TRUE(banner->SetProxy(QByteArray(1500, 'p'), 1, QByteArray()));
    banner.reset();
    EXPECT_EQ(fakeLib->log().mid(started),
              QStringLiteral("_IsConnectOkay\n_IsConnectOkay\n_IsConnectOkay\n_IsConnectOkay\n"
                             "_SetNetworkState -1\n_SetNetworkState 0\n"
                             "_SetBandwidthThrottle 77\n_SetMinimumAdDisplayTime 88\n"
                             "_SetProxy [proxy.example] 3128 []\n_SetProxy null 80 []\n"
                             "_SetProxy [") +
                  QString(1024, QLatin1Char('p')) + QStringLiteral("] 1 []\n_Shutdown\n"));
}

TEST_F(AdImageTest, PaintClickAndCallbacks) {
    auto banner = create(PELLMAR_FAKE_ADVERT);
    banner->Loaded();
    int requests = 0, counted = 0;
    QString logAtClick;
    banner->OnNetworkRequest = [&](TAdImage* sender) { requests += sender == banner.get(); };
    banner->OnAdCounted = [&](TAdImage* sender) { counted += sender == banner.get(); };
    banner->OnClick = [&](TAdImage*) { logAtClick = fakeLib->log(); };
    const qsizetype started = fakeLib->log().size();

    const QImage shot = banner->grab().toImage();
    EXPECT_EQ(shot.pixel(0, 0) & 0xFFFFFF, 0xFF0000u);
    EXPECT_EQ(shot.pixel(467, 59) & 0xFFFFFF, 0x0000FFu);
    banner->click();
    EXPECT_EQ(logAtClick.size(), fakeLib->log().size() - 9); // OnClick ran before _OnClick

    fakeLib->fire(1);
    fakeLib->fire(2);
    fakeLib->fire(2);
    EXPECT_EQ(requests, 1);
    EXPECT_EQ(counted, 2);
    fakeLib->fireFromThread(2); // handed over to the window thread
    EXPECT_EQ(counted, 2);
    QCoreApplication::processEvents();
    EXPECT_EQ(counted, 3);
    EXPECT_EQ(fakeLib->log().mid(started),
              QStringLiteral("_Paint 468x60 stride 1404 at 0,0\n_OnClick\n"));
}

TEST_F(AdImageTest, BoundsSnapToTheNearestStandardSize) {
    struct Row {
        QSize requested, snapped;
        TAdImageSize size;
    };
    auto banner = create(PELLMAR_FAKE_ADVERT);
    banner->show();
    for (const Row& row :
         {Row{{200, 100}, {234, 60}, ADS234x60}, Row{{120, 200}, {120, 240}, ADS120x240},
          Row{{40, 40}, {50, 200}, ads50x200}, Row{{120, 182}, {125, 125}, ADS125x125},
          Row{{104, 74}, {120, 60}, ADS120x60}, Row{{134, 107}, {120, 90}, ADS120x90},
          Row{{78, 5}, {70, 70}, ads70x70}, Row{{79, 500}, {88, 31}, ADS88x31},
          Row{{191, 1}, {150, 40}, ads150x40}, Row{{345, 60}, {300, 50}, ads300x50},
          Row{{429, 60}, {392, 72}, ADS392x72}, Row{{900, 60}, {468, 60}, ADS468x60}}) {
        banner->move(3, 4);
        banner->resize(row.requested);
        EXPECT_EQ(banner->size(), row.snapped)
            << row.requested.width() << "x" << row.requested.height();
        EXPECT_EQ(banner->Size(), row.size);
        EXPECT_EQ(banner->pos(), QPoint(3, 4));
    }
}
