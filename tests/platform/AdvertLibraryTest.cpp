#include "platform/AdvertLibrary.h"
#include "support/FakeAdvertLog.h"
#include "support/FakePlatform.h"
#include "support/TempHome.h"

#include <QCoreApplication>
#include <QFile>
#include <gtest/gtest.h>
#include <vector>

namespace {

// The loader without a banner: a test library in the program folder under the banner's
// library name, its calls read from its log.
class AdvertLibraryTest : public ::testing::Test {
protected:
    std::unique_ptr<AdvertLibrary> load(const char* library) {
        if (library)
            QFile::copy(QString::fromUtf8(library), home.file(QStringLiteral("advert.dll")));
        auto loaded = std::make_unique<AdvertLibrary>(fake.messages);
        log = std::make_unique<FakeAdvertLog>(home.file(QStringLiteral("advert.dll")));
        return loaded;
    }
    QStringList messageTexts() const {
        QStringList texts;
        for (const RecordedMessage& shown : fake.messages.shown) {
            EXPECT_EQ(shown.caption, QStringLiteral("Assertion Failed"));
            EXPECT_EQ(shown.icon, MessageIcon::None);
            EXPECT_EQ(shown.buttons, MessageButtons::Ok);
            texts << shown.text;
        }
        return texts;
    }

    TempHome home;
    FakePlatform fake;
    std::unique_ptr<FakeAdvertLog> log;
};

const QString kCallbacks = QStringLiteral("_SetCallback set\n_SetNetworkCallback set\n"
                                          "_SetAdRecordedCallback set\n");

} // namespace

TEST_F(AdvertLibraryTest, AMissingLibraryIsOneMessageAndNothingIsCalled) {
    auto library = load(nullptr);
    EXPECT_EQ(messageTexts(), QStringList{QStringLiteral("Couldn't load advert.dll")});
    EXPECT_FALSE(library->start({}));
    EXPECT_FALSE(library->started());
    EXPECT_FALSE(library->isConnectOkay());
    EXPECT_FALSE(library->setProxy(QByteArray("host"), 1, QByteArray()));
    std::vector<uint8_t> pixels(12 * 2, 7);
    AdSurface surface{4, 2, 12, pixels.data()};
    library->paint(surface);
    library->click();
    EXPECT_EQ(pixels, std::vector<uint8_t>(12 * 2, 7));
}

TEST_F(AdvertLibraryTest, MissingExportsAreReportedByNameAndNeverCalled) {
    auto library = load(PELLMAR_FAKE_ADVERT_INCOMPLETE);
    EXPECT_EQ(
        messageTexts(),
        QStringList({"Couldn't find address of _Paint", "Couldn't find address of _OnClick",
                     "Couldn't find address of _IsConnectOkay",
                     "Couldn't find address of _AdSetNetworkState",
                     "Couldn't find address of _SetProxy", "Couldn't find address of _Shutdown"}));
    EXPECT_TRUE(library->start({107, 1, 0, 2147483647, 9}));
    std::vector<uint8_t> pixels(12 * 2, 7);
    AdSurface surface{4, 2, 12, pixels.data()};
    library->paint(surface);
    library->click();
    library->setNetworkState(true);
    EXPECT_FALSE(library->isConnectOkay());
    EXPECT_FALSE(library->setProxy(std::nullopt, 80, QByteArray()));
    library.reset();
    EXPECT_EQ(log->log(), QStringLiteral("_Startup module 0 107 1 0 fresh-context\n") + kCallbacks +
                              QStringLiteral("_SetBandwidthThrottle 2147483647\n"
                                             "_SetMinimumAdDisplayTime 9\n"));
}

TEST_F(AdvertLibraryTest, StartPassesTheValuesInOrderOnce) {
    auto library = load(PELLMAR_FAKE_ADVERT);
    EXPECT_TRUE(fake.messages.shown.isEmpty());
    library->setBandwidthThrottle(1); // not started: kept from the library
    library->setNetworkState(true);
    EXPECT_TRUE(library->start({107, 6, 5, 4000, 250}));
    EXPECT_TRUE(library->started());
    EXPECT_TRUE(library->start({1, 1, 1, 1, 1}));
    EXPECT_EQ(log->log(), QStringLiteral("_Startup module 0 107 6 5 fresh-context\n") + kCallbacks +
                              QStringLiteral("_SetBandwidthThrottle 4000\n"
                                             "_SetMinimumAdDisplayTime 250\n"));
}

TEST_F(AdvertLibraryTest, AFailedStartupLeavesTheLibraryQuiet) {
    auto library = load(PELLMAR_FAKE_ADVERT);
    log->setStartupResult(0x10000); // only the low 16 bits count
    EXPECT_FALSE(library->start({}));
    EXPECT_FALSE(library->started());
    library->setBandwidthThrottle(5);
    library->setMinimumAdDisplayTime(5);
    library->setNetworkState(false);
    EXPECT_FALSE(library->isConnectOkay());
    EXPECT_FALSE(library->setProxy(std::nullopt, 80, QByteArray()));
    library.reset();
    EXPECT_EQ(log->log(), QStringLiteral("_Startup module 0 0 1 0 fresh-context\n"));
}

TEST_F(AdvertLibraryTest, AStartedLibraryIsToldTheValuesAndShutDown) {
    auto library = load(PELLMAR_FAKE_ADVERT);
    ASSERT_TRUE(library->start({}));
    const qsizetype started = log->log().size();
    struct Connect {
        int32_t result, value;
        bool up;
    };
    for (const Connect& row : {Connect{1, 1, true}, Connect{0x10000, 1, false},
                               Connect{1, 0, false}, Connect{0x00FF0001, -7, true}}) {
        log->setConnect(row.result, row.value);
        EXPECT_EQ(library->isConnectOkay(), row.up) << row.result;
    }
    library->setNetworkState(true);
    library->setNetworkState(false);
    library->setBandwidthThrottle(77);
    library->setMinimumAdDisplayTime(88);
    EXPECT_TRUE(library->setProxy(QByteArray("proxy.example"), 3128, QByteArray()));
    EXPECT_TRUE(library->setProxy(std::nullopt, 80, QByteArray()));
    EXPECT_TRUE(library->setProxy(QByteArray(1500, 'p'), 1, QByteArray()));
    library.reset();
    EXPECT_EQ(log->log().mid(started),
              QStringLiteral("_IsConnectOkay\n_IsConnectOkay\n_IsConnectOkay\n_IsConnectOkay\n"
                             "_SetNetworkState -1\n_SetNetworkState 0\n"
                             "_SetBandwidthThrottle 77\n_SetMinimumAdDisplayTime 88\n"
                             "_SetProxy [proxy.example] 3128 []\n_SetProxy null 80 []\n"
                             "_SetProxy [") +
                  QString(1024, QLatin1Char('p')) + QStringLiteral("] 1 []\n_Shutdown\n"));
}

TEST_F(AdvertLibraryTest, PaintClickAndNoticesOnTheOwnThread) {
    auto library = load(PELLMAR_FAKE_ADVERT);
    ASSERT_TRUE(library->start({}));
    int repaints = 0, requests = 0, counted = 0;
    QObject::connect(library.get(), &AdvertLibrary::repaintRequested, [&] { ++repaints; });
    QObject::connect(library.get(), &AdvertLibrary::networkRequested, [&] { ++requests; });
    QObject::connect(library.get(), &AdvertLibrary::adRecorded, [&] { ++counted; });
    const qsizetype started = log->log().size();

    std::vector<uint8_t> pixels(8 * 3, 0);
    AdSurface surface{2, 3, 8, pixels.data()};
    library->paint(surface);
    EXPECT_EQ(std::vector<uint8_t>(pixels.begin(), pixels.begin() + 3),
              (std::vector<uint8_t>{255, 0, 0}));
    EXPECT_EQ(std::vector<uint8_t>(pixels.begin() + 19, pixels.begin() + 22),
              (std::vector<uint8_t>{0, 0, 255}));
    library->click();
    EXPECT_EQ(log->log().mid(started), QStringLiteral("_Paint 2x3 stride 8 at 0,0\n_OnClick\n"));

    log->fire(0);
    log->fire(1);
    log->fire(2);
    log->fire(2);
    EXPECT_EQ(repaints, 1);
    EXPECT_EQ(requests, 1);
    EXPECT_EQ(counted, 2);
    log->fireFromThread(1); // handed over to the library's own thread
    EXPECT_EQ(requests, 1);
    QCoreApplication::processEvents();
    EXPECT_EQ(requests, 2);
}
