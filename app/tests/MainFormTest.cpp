#include "app/MainForm.h"
#include "PellmarVersion.h"
#include "app/BannerClickPage.h"
#include "controls/AdImage.h"
#include "controls/HarmFade.h"
#include "controls/UrlLabel.h"
#include "core/DataFileConfig.h"
#include "download/DownloadJob.h"
#include "download/DownloadQueue.h"
#include "platform/SettingsFile.h"
#include "platform/widgets/WidgetPlatform.h"
#include "support/EventLoopWait.h"
#include "support/FakeAdvertLog.h"
#include "support/FakePlatform.h"
#include "support/ScriptedServer.h"
#include "support/TempHome.h"
#include "support/TestSeed.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QEnterEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QTreeView>
#include <gtest/gtest.h>
#include <random>

namespace {

const QString kMail = QStringLiteral(
    "mailto:?subject=Check out Pellmar!&body=The easiest way to find mp3 files on the net. "
    "It's freeware! You can download it from http://home.example");

QList<QString> dataLines() {
    return {QStringLiteral("3"),
            QStringLiteral("http://home.example"),
            QStringLiteral("x"),
            QStringLiteral("0"),
            QStringLiteral("http://127.0.0.1:1/a?w="),
            QStringLiteral("http://127.0.0.1:1/b?w="),
            QStringLiteral("y"),
            QStringLiteral("http://127.0.0.1:1/smb?q="),
            QStringLiteral("http://127.0.0.1:1/ftp?q=")};
}

class MainFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteDataFile(home.file(QStringLiteral("Pellmar.dat")), dataLines());
        QFile::copy(QStringLiteral(PELLMAR_FAKE_ADVERT), home.file(QStringLiteral("advert.dll")));
    }

    std::unique_ptr<TMainForm> create(int draw = 5) {
        TMainForm::Options options;
        options.random = [draw](int range) {
            EXPECT_EQ(range, 20);
            return draw;
        };
        return std::make_unique<TMainForm>(fake.platform, options);
    }

    // The settings file the program uses: named after the running binary.
    QString iniPath() const {
        return home.file(QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName() +
                         QStringLiteral(".ini"));
    }

    TempHome home;
    FakePlatform fake;
};

QStringList visibleButtons(TMainForm& form) {
    QStringList names;
    for (THarmFade* button : form.NavigationButtons) {
        if (!button->isHidden())
            names.append(button->objectName());
    }
    return names;
}

} // namespace

TEST_F(MainFormTest, CreationReadsTheDataFileAndRecordsTheProgram) {
    auto form = create();
    EXPECT_EQ(form->dataFile().HomeUrl, QStringLiteral("http://home.example"));
    EXPECT_EQ(form->AboutUrl->text(), QStringLiteral("http://home.example"));
    EXPECT_EQ(form->versionlabel->text(), QStringLiteral("v") + QLatin1String(kPellmarVersion));
    EXPECT_EQ(form->SearchFound->text(), QStringLiteral("0"));
    EXPECT_TRUE(form->SearchStatus->text().isEmpty());
    EXPECT_EQ(form->programFolder(), home.path());
    // The real binary, not a name inside the program folder.
    const QString exe = QCoreApplication::applicationFilePath();
    EXPECT_EQ(fake.registry.values.value(QStringLiteral("Software\\Pellmar\\Version|Module Name")),
              exe);
    EXPECT_EQ(fake.registry.values.value(QStringLiteral("Software\\Pellmar\\Version|revision")),
              QLatin1String(kPellmarVersion));
    EXPECT_EQ(fake.registry.values.value(
                  QStringLiteral("Software\\VB and VBA Program Settings\\Tunebin\\Startup|vesk")),
              exe);
    EXPECT_TRUE(fake.messages.shown.isEmpty());
}

TEST_F(MainFormTest, FirstRunNeverAsksTheTellAFriendQuestion) {
    auto form = create(0);
    EXPECT_TRUE(fake.messages.shown.isEmpty());
    // A settings file named after the binary is not the fixed name.
    form.reset();
    SettingsFile(iniPath()).writeString(QStringLiteral("Options"), QStringLiteral("X"), {});
    if (QFileInfo(iniPath()).fileName() != QStringLiteral("Pellmar.ini")) {
        form = create(0);
        EXPECT_TRUE(fake.messages.shown.isEmpty());
    }
}

TEST_F(MainFormTest, LaterStartsAskOneTimeInTwenty) {
    home.write(QStringLiteral("Pellmar.ini"), "[Options]\r\nFirstTime=0\r\n");
    create(1);
    EXPECT_TRUE(fake.messages.shown.isEmpty());

    fake.messages.answers = {MessageResult::Yes};
    create(0);
    ASSERT_EQ(fake.messages.shown.size(), 1);
    const RecordedMessage& question = fake.messages.shown[0];
    EXPECT_EQ(question.caption, QStringLiteral("Pellmar"));
    EXPECT_EQ(question.text, QStringLiteral("Do you know anyone who would like Pellmar?"));
    EXPECT_EQ(question.icon, MessageIcon::Warning);
    EXPECT_EQ(question.buttons, MessageButtons::YesNo);
    EXPECT_EQ(fake.shell.opened, QStringList{kMail});

    fake.messages.answers = {MessageResult::No};
    create(0);
    EXPECT_EQ(fake.shell.opened.size(), 1);
}

TEST_F(MainFormTest, SeededDrawsAskAboutOnceInTwenty) {
    home.write(QStringLiteral("Pellmar.ini"), "[Options]\r\nFirstTime=0\r\n");
    const TestSeed seed(2026);
    std::mt19937 generator(seed.value());
    TMainForm::Options options;
    options.random = [&generator](int range) {
        return std::uniform_int_distribution<int>(0, range - 1)(generator);
    };
    for (int i = 0; i < 200; ++i)
        TMainForm form(fake.platform, options);
    EXPECT_GE(fake.messages.shown.size(), 3);
    EXPECT_LE(fake.messages.shown.size(), 25);
}

TEST_F(MainFormTest, MissingDataFileIsReportedAndTheWindowStillOpens) {
    QFile::remove(home.file(QStringLiteral("Pellmar.dat")));
    auto form = create();
    ASSERT_EQ(fake.messages.shown.size(), 1);
    EXPECT_EQ(fake.messages.shown[0].text,
              QStringLiteral("Cannot open file ") + home.file(QStringLiteral("Pellmar.dat")));
    EXPECT_EQ(fake.messages.shown[0].icon, MessageIcon::Error);
    EXPECT_TRUE(fake.registry.values.isEmpty());
    EXPECT_TRUE(form->SearchFound->text().isEmpty());
    EXPECT_TRUE(form->dataFile().HttpQueryUrl1.isEmpty());
    form->show();
    EXPECT_TRUE(form->isVisible());
}

TEST_F(MainFormTest, EmptyDataFileAsksForAReinstallAndCreationGoesOn) {
    home.write(QStringLiteral("Pellmar.dat"), QByteArray());
    bool updateStarted = false;
    TMainForm::Options options;
    options.startUpdateCheck = [&] { updateStarted = true; };
    TMainForm form(fake.platform, options);
    ASSERT_EQ(fake.messages.shown.size(), 1);
    EXPECT_EQ(fake.messages.shown[0].caption, QStringLiteral("Pellmar"));
    EXPECT_EQ(fake.messages.shown[0].text,
              QStringLiteral("Couldn't find Pellmar.dat. Please reinstall Pellmar."));
    EXPECT_FALSE(updateStarted);
    EXPECT_FALSE(form.updateCheckStarted());
    EXPECT_EQ(form.SearchFound->text(), QStringLiteral("0"));
    EXPECT_FALSE(fake.registry.values.isEmpty());
}

TEST_F(MainFormTest, BadLineFourStopsTheCreationAfterTheDataFile) {
    QList<QString> lines = dataLines();
    lines[3] = QStringLiteral("four");
    WriteDataFile(home.file(QStringLiteral("Pellmar.dat")), lines);
    auto form = create();
    ASSERT_EQ(fake.messages.shown.size(), 1);
    EXPECT_EQ(fake.messages.shown[0].text, QStringLiteral("'four' is not a valid integer value"));
    EXPECT_EQ(form->dataFile().HomeUrl, QStringLiteral("http://home.example"));
    EXPECT_TRUE(form->dataFile().HttpQueryUrl1.isEmpty());
    EXPECT_TRUE(fake.registry.values.isEmpty());
}

TEST_F(MainFormTest, UpdateCheckStartsOnceAfterTheDataFileIsRead) {
    int starts = 0;
    TMainForm::Options options;
    options.startUpdateCheck = [&] { ++starts; };
    TMainForm form(fake.platform, options);
    form.LoadDataFile();
    EXPECT_EQ(starts, 1);
    EXPECT_TRUE(form.updateCheckStarted());
}

TEST_F(MainFormTest, FirstShowOpensMaximizedWithEverySourceOn) {
    auto form = create();
    form->SearchFtpCheck->setChecked(false);
    form->show();
    EXPECT_TRUE(form->isMaximized());
    EXPECT_TRUE(form->SearchHttpCheck->isChecked());
    EXPECT_TRUE(form->SearchFtpCheck->isChecked());
    EXPECT_TRUE(form->SearchSMBCheck->isChecked());
    EXPECT_TRUE(form->OnlyLeechCheck->isChecked());
    EXPECT_EQ(form->SearchListview->columnWidth(0), 250);
    EXPECT_EQ(form->HostListView->columnWidth(1), 35);
    EXPECT_EQ(form->HostListView->width(), 200);
    EXPECT_EQ(visibleButtons(*form).size(), 8);
    EXPECT_TRUE(form->HarmFade1->isHidden());
    EXPECT_TRUE(form->AbortButton->isHidden());
}

TEST_F(MainFormTest, PagesHideExactlyTheirButtonAndTheBannerShowsAll) {
    auto form = create();
    form->show();
    form->HarmFade9->click();
    EXPECT_TRUE(form->HarmFade9->isHidden());
    EXPECT_EQ(visibleButtons(*form).size(), 8);
    EXPECT_EQ(form->panel_About->geometry(), form->PageArea->rect());
    form->HarmFade5->click();
    EXPECT_TRUE(form->HarmFade5->isHidden());
    EXPECT_FALSE(form->HarmFade9->isHidden());
    EXPECT_EQ(visibleButtons(*form).size(), 8);
    form->AdImage1Click();
    EXPECT_EQ(visibleButtons(*form).size(), 9);
    EXPECT_EQ(form->panel_BannerClick->geometry(), form->PageArea->rect());
    EXPECT_EQ(form->PageArea->childAt(form->PageArea->rect().center())->window(), form.get());
}

TEST_F(MainFormTest, LinkButtonsOpenTheirTargets) {
    auto form = create();
    form->HarmFade4->click();
    form->HarmFade7->click();
    form->HarmFade6->click();
    form->HarmFade8->click();
    EXPECT_EQ(fake.shell.opened, (QStringList{QStringLiteral("http://home.example"), kMail,
                                              QStringLiteral("http://www.pellmar.net/mp3/contact/"),
                                              home.file(QStringLiteral("help/index.htm"))}));
}

TEST_F(MainFormTest, ResizeCentresTheBannerAndSizesTheLists) {
    home.write(QStringLiteral("Pellmar.ini"),
               "[Options]\r\nFirstTime=0\r\n[WinPos]\r\nLeft=10\r\nTop=20\r\nWidth=900\r\n"
               "Height=700\r\n");
    auto form = create();
    form->show();
    const int area = form->PageArea->width();
    EXPECT_EQ(form->AdImage1->x(), static_cast<int>(std::lround((area - 468) / 2.0)));
    EXPECT_EQ(form->ListsArea->width(), form->panel_Search->width() - 15);
    EXPECT_EQ(form->ListsArea->height(), form->panel_Search->height() - 90);
}

TEST_F(MainFormTest, SplitterRefusesNarrowHostListsAndNarrowHitLists) {
    auto form = create();
    form->resize(800, 600);
    EXPECT_FALSE(form->Splitter1CanResize(129));
    EXPECT_TRUE(form->Splitter1CanResize(130));
    EXPECT_TRUE(form->Splitter1CanResize(570));
    EXPECT_FALSE(form->Splitter1CanResize(571));
}

TEST_F(MainFormTest, CloseWithARunningDownloadAsksAndNoKeepsTheWindow) {
    auto form = create();
    form->show();
    form->downloads().StartDownload(home.file("a.mp3"), "http://127.0.0.1:1/a.mp3");
    fake.messages.answers = {MessageResult::No};
    EXPECT_FALSE(form->close());
    ASSERT_EQ(fake.messages.shown.size(), 1);
    EXPECT_EQ(fake.messages.shown[0].caption, QStringLiteral("Warning"));
    EXPECT_EQ(fake.messages.shown[0].text,
              QStringLiteral("Downloads in progress. Are you sure you want to quit?"));
    EXPECT_EQ(fake.messages.shown[0].icon, MessageIcon::Warning);
    EXPECT_EQ(fake.messages.shown[0].buttons, MessageButtons::YesNo);
    EXPECT_FALSE(QFile::exists(iniPath()));

    fake.messages.answers = {MessageResult::Yes};
    EXPECT_TRUE(form->close());
    EXPECT_TRUE(QFile::exists(iniPath()));
}

// "Yes, quit" ends the program: download windows do not keep it running, a running job
// stops with what arrived on disk, and a queued one never starts.
TEST_F(MainFormTest, QuittingWithDownloadsEndsTheProgramAndKeepsPartialFiles) {
    const QByteArray part(40000, 'm');
    ScriptedServer server([&part](ScriptedServer::Connection& c) {
        c.readRequest();
        c.send("HTTP/1.0 200 OK\r\nContent-Length: 100000\r\n\r\n" + part);
        c.waitForPeerClose();
    });
    auto form = create();
    form->show();
    form->settings().writeString("Options", "Limit", "True");
    form->settings().writeString("Options", "LimitNumber", "1");
    DownloadJob* running = form->downloads().StartDownload(home.file("a.mp3"), server.url("/a"));
    form->downloads().StartDownload(home.file("b.mp3"), server.url("/b"));
    ASSERT_EQ(form->downloadWindows().size(), 2);
    ASSERT_TRUE(WaitFor([&] { return running->BytesReceived() == part.size(); }));

    // The program's loop ends when its last window closes; the guard only keeps a broken
    // build from hanging.
    fake.messages.answers = {MessageResult::Yes};
    QTimer::singleShot(0, form.get(), [&form] { EXPECT_TRUE(form->close()); });
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    guard.start(20000);
    EXPECT_EQ(QCoreApplication::exec(), 0);
    for (DownloadJob* job : form->downloads().ActiveDownloads())
        EXPECT_EQ(job->client(), nullptr);
    EXPECT_TRUE(form->downloads().QueuedDownloads().isEmpty());
    EXPECT_EQ(home.read("a.mp3"), part);
    EXPECT_EQ(home.read("b.mp3"), QByteArray());
    EXPECT_EQ(server.connections(), 1);
}

TEST_F(MainFormTest, CloseWithoutDownloadsDoesNotAsk) {
    auto form = create();
    form->show();
    // A queued download does not count.
    form->settings().writeString("Options", "Limit", "True");
    form->downloads().StartDownload(home.file("a.mp3"), "http://127.0.0.1:1/a.mp3");
    EXPECT_EQ(form->downloadWindows().size(), 1);
    EXPECT_TRUE(form->close());
    EXPECT_TRUE(fake.messages.shown.isEmpty());
}

TEST_F(MainFormTest, CloseSavesPlacementAndTheNextStartRestoresIt) {
    home.write(QStringLiteral("temp/1.tmp"), "x");
    home.write(QStringLiteral("temp/keep.txt"), "x");
    {
        auto form = create();
        form->show();
        form->showNormal();
        form->setGeometry(30, 40, 820, 610);
        form->SearchListview->setColumnWidth(0, 300);
        form->HostListView->setColumnWidth(1, 44);
        form->HostListView->setFixedWidth(180);
        form->SearchFtpCheck->setChecked(false);
        form->close();
    }
    EXPECT_FALSE(QFile::exists(home.file(QStringLiteral("temp/1.tmp"))));
    SettingsFile ini(iniPath());
    EXPECT_EQ(ini.readString(QStringLiteral("Options"), QStringLiteral("FirstTime"), {}),
              QStringLiteral("0"));
    EXPECT_EQ(ini.readString(QStringLiteral("Options"), QStringLiteral("SearchFtp"), {}),
              QStringLiteral("0"));
    EXPECT_EQ(ini.readString(QStringLiteral("Options"), QStringLiteral("SearchHttp"), {}),
              QStringLiteral("1"));
    EXPECT_EQ(ini.readInteger(QStringLiteral("WinPos"), QStringLiteral("Width"), 0), 820);
    EXPECT_EQ(ini.readInteger(QStringLiteral("WinPos"), QStringLiteral("Col1"), 0), 300);
    EXPECT_EQ(ini.readInteger(QStringLiteral("WinPos"), QStringLiteral("Col5"), 0), 44);
    EXPECT_EQ(ini.readInteger(QStringLiteral("WinPos"), QStringLiteral("HostWidth"), 0), 180);

    auto form = create();
    form->show();
    EXPECT_FALSE(form->isMaximized());
    EXPECT_EQ(form->width(), 820);
    EXPECT_EQ(form->height(), 610);
    EXPECT_EQ(form->SearchListview->columnWidth(0), 300);
    EXPECT_EQ(form->HostListView->columnWidth(1), 44);
    EXPECT_EQ(form->HostListView->width(), 180);
    EXPECT_FALSE(form->SearchFtpCheck->isChecked());
    EXPECT_TRUE(form->SearchSMBCheck->isChecked());
}

TEST_F(MainFormTest, MaximizedCloseWritesMinusOneAndReopensMaximized) {
    {
        auto form = create();
        form->show();
        ASSERT_TRUE(form->isMaximized());
        form->close();
    }
    SettingsFile ini(iniPath());
    EXPECT_EQ(ini.readInteger(QStringLiteral("WinPos"), QStringLiteral("Width"), 0), -1);
    ini.writeInteger(QStringLiteral("WinPos"), QStringLiteral("Height"), 5);
    auto form = create();
    form->show();
    EXPECT_TRUE(form->isMaximized());
}

TEST_F(MainFormTest, EnterInTheSearchBoxSearchesAndKeepsElevenNewestFirst) {
    auto form = create();
    form->show();
    auto enter = [&form](const QString& text) {
        form->ComboBox1->setEditText(text);
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
        QCoreApplication::sendEvent(form->ComboBox1->lineEdit(), &press);
    };
    for (int i = 1; i <= 12; ++i)
        enter(QStringLiteral("Song %1").arg(i));
    EXPECT_TRUE(form->SearchButton->isHidden());
    EXPECT_FALSE(form->SearchFtpCheck->isEnabled());
    EXPECT_EQ(form->SearchStatus->text(), QStringLiteral("Searching..."));
    enter(QStringLiteral("sONG 5"));
    EXPECT_EQ(form->ComboBox1->currentText(), QStringLiteral("sONG 5"));
    QStringList shown;
    for (int i = 0; i < form->ComboBox1->count(); ++i)
        shown.append(form->ComboBox1->itemText(i));
    EXPECT_EQ(shown.size(), 11);
    EXPECT_EQ(shown.first(), QStringLiteral("Song 12"));
    EXPECT_EQ(shown.last(), QStringLiteral("Song 2"));
    form->AbortButton->click();
    EXPECT_EQ(form->SearchStatus->text(), QStringLiteral("Search aborted"));
    EXPECT_FALSE(form->SearchButton->isHidden());
    EXPECT_TRUE(form->SearchFtpCheck->isEnabled());

    auto next = create();
    next->show();
    EXPECT_EQ(next->ComboBox1->count(), 11);
    EXPECT_EQ(next->ComboBox1->itemText(1), QStringLiteral("Song 11"));
}

TEST_F(MainFormTest, GarbageSettingsNeverStopTheWindow) {
    QByteArray garbage;
    for (int i = 0; i < 20000; ++i)
        garbage.append(static_cast<char>((i * 131 + 7) % 256));
    home.write(QFileInfo(iniPath()).fileName(),
               garbage + "\n[Searches]\nCount=999999\nSearch0=ok\n[WinPos]\nWidth=abc\n");
    auto form = create();
    form->show();
    EXPECT_EQ(form->ComboBox1->itemText(0), QStringLiteral("ok"));
    EXPECT_TRUE(form->close());
}

TEST_F(MainFormTest, BannerStartsAtCreationAndLearnsTheProxyWhenShown) {
    struct Row {
        QByteArray options;
        QString proxyCall;
    };
    for (const Row& row :
         {Row{"", "_SetProxy null 80 []"},
          Row{"UseProxy=true\r\nProxyServer=proxy.example\r\n", "_SetProxy null 80 []"},
          Row{"UseProxy=True\r\nProxyServer=proxy.example\r\nProxyPort=3128\r\n",
              "_SetProxy [proxy.example] 3128 []"},
          Row{"UseProxy=True\r\nProxyServer=proxy.example\r\n",
              "_SetProxy [proxy.example] 80 []"}}) {
        TempHome rowHome;
        FakePlatform rowFake;
        WriteDataFile(rowHome.file(QStringLiteral("Pellmar.dat")), dataLines());
        QFile::copy(QStringLiteral(PELLMAR_FAKE_ADVERT),
                    rowHome.file(QStringLiteral("advert.dll")));
        rowHome.write(QFileInfo(iniPath()).fileName(), "[Options]\r\n" + row.options);
        TMainForm form(rowFake.platform);
        FakeAdvertLog lib(rowHome.file(QStringLiteral("advert.dll")));
        const QString started = QStringLiteral(
            "_Startup module 0 107 1 0 fresh-context\n_SetCallback set\n_SetNetworkCallback "
            "set\n_SetAdRecordedCallback set\n_SetBandwidthThrottle 2147483647\n"
            "_SetMinimumAdDisplayTime 0\n");
        EXPECT_EQ(lib.log(), started);
        form.show();
        EXPECT_TRUE(lib.log().startsWith(started + row.proxyCall + QLatin1Char('\n')))
            << qPrintable(lib.log());
        EXPECT_EQ(form.AdImage1->size(), QSize(468, 60));
    }
}

// A mistyped proxy port is said once per start and means no proxy; the start goes on, so
// the close writes back the sources the user chose, start after start.
TEST_F(MainFormTest, AMistypedProxyPortMeansNoProxyAndTheStartFinishes) {
    home.write(QFileInfo(iniPath()).fileName(),
               "[Options]\r\nFirstTime=0\r\nUseProxy=True\r\nProxyServer=proxy.example\r\n"
               "ProxyPort=80a\r\nSearchFtp=0\r\nSearchSMB=0\r\n");
    for (int start = 0; start < 2; ++start) {
        SCOPED_TRACE(start);
        fake.messages.shown.clear();
        auto form = create();
        FakeAdvertLog lib(home.file(QStringLiteral("advert.dll")));
        form->show();
        EXPECT_TRUE(lib.log().contains(QStringLiteral("\n_SetProxy null 80 []\n")))
            << qPrintable(lib.log());
        ASSERT_EQ(fake.messages.shown.size(), 1);
        EXPECT_EQ(fake.messages.shown[0].text,
                  QStringLiteral("The proxy port \"80a\" is not a number, so Pellmar connects "
                                 "without a proxy. Correct the port in Options."));
        EXPECT_EQ(fake.messages.shown[0].icon, MessageIcon::Warning);
        EXPECT_TRUE(form->HarmFade1->isHidden()); // the search page is in front
        EXPECT_TRUE(form->SearchHttpCheck->isChecked());
        EXPECT_FALSE(form->SearchFtpCheck->isChecked());
        EXPECT_FALSE(form->SearchSMBCheck->isChecked());
        EXPECT_TRUE(form->close());
    }
    const SettingsFile ini(iniPath());
    EXPECT_EQ(ini.readString(QStringLiteral("Options"), QStringLiteral("SearchFtp"), {}),
              QStringLiteral("0"));
    EXPECT_EQ(ini.readString(QStringLiteral("Options"), QStringLiteral("ProxyPort"), {}),
              QStringLiteral("80a"));
}

TEST_F(MainFormTest, PictureButtonsLightUpUnderThePointer) {
    auto form = create();
    form->show();
    for (THarmFade* button : {form->HarmFade2, form->HarmFade16}) {
        EXPECT_EQ(button->BlendRate(), 1);
        const QImage rest = button->displayImage().copy();
        QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
        QCoreApplication::sendEvent(button, &enter);
        EXPECT_NE(button->displayImage(), rest) << qPrintable(button->objectName());
        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(button, &leave);
        EXPECT_EQ(button->displayImage(), rest);
    }
}

TEST_F(MainFormTest, AboutLinkAndBannerClick) {
    auto form = create();
    form->show();
    form->AboutUrl->click();
    EXPECT_EQ(fake.shell.opened, QStringList{QStringLiteral("http://home.example")});
    form->HarmFade9->click();
    form->AdImage1->click();
    EXPECT_EQ(visibleButtons(*form).size(), 9);
    EXPECT_EQ(form->panel_BannerClick->geometry(), form->PageArea->rect());
    // The thank-you page links to the makers' site.
    form->BannerClickPage->MakerLabel->click();
    EXPECT_EQ(fake.shell.opened.last(), QStringLiteral("http://www.pellmar.net/"));
}

// The last column of each list stretches over the rest of the list; what a start reads must
// be what the close writes, start after start.
TEST_F(MainFormTest, ColumnWidthsRoundTripWhileTheLastColumnsStretch) {
    struct Row {
        const char* name;
        QByteArray columns;
        QList<int> expected;
    };
    const QList<Row> rows = {
        {"defaults", "", {250, 80, 200, 120, 35, 35}},
        {"narrow",
         "Col1=12\r\nCol2=3\r\nCol3=7\r\nCol4=9\r\nCol5=1\r\nCol6=2\r\n",
         {12, 3, 7, 9, 1, 2}},
        {"wide",
         "Col1=500\r\nCol2=90\r\nCol3=700\r\nCol4=150\r\nCol5=60\r\nCol6=400\r\n",
         {500, 90, 700, 150, 60, 400}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        QFile::remove(iniPath());
        home.write(QFileInfo(iniPath()).fileName(),
                   "[Options]\r\nFirstTime=0\r\n[WinPos]\r\nWidth=900\r\nHeight=600\r\n"
                   "HostWidth=260\r\n" +
                       row.columns);
        for (int start = 0; start < 2; ++start) {
            auto form = create();
            form->show();
            const QHeaderView* hosts = form->HostListView->header();
            if (row.expected[3] + row.expected[4] + row.expected[5] < 200) {
                EXPECT_EQ(hosts->length(), form->HostListView->viewport()->width());
            }
            form->close();
        }
        SettingsFile ini(iniPath());
        QList<int> written;
        for (int i = 1; i <= 6; ++i)
            written.append(
                ini.readInteger(QStringLiteral("WinPos"), QStringLiteral("Col%1").arg(i), -9));
        EXPECT_EQ(written, row.expected);
    }
}

// Boxes of the window's creation belong to it and, with the window not yet on the screen,
// sit in the middle of the screen rather than where the hidden window would be.
TEST_F(MainFormTest, BoxesOfTheCreationBelongToTheWindowAndAreCentred) {
    home.write(QStringLiteral("Pellmar.dat"), QByteArray());
    WidgetMessageBoxes boxes;
    Platform platform{boxes, fake.dialogs, fake.shell, fake.clipboard, fake.registry};
    QString text;
    QString owner;
    QPoint centre;
    QTimer answer;
    answer.setSingleShot(true);
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        text = box->text();
        owner = box->parentWidget() ? box->parentWidget()->objectName() : QString();
        centre = box->geometry().center();
        box->done(QMessageBox::Ok);
    });
    answer.start(0);
    TMainForm form(platform);
    EXPECT_EQ(text, QStringLiteral("Couldn't find Pellmar.dat. Please reinstall Pellmar."));
    EXPECT_EQ(owner, QStringLiteral("MainForm"));
    const QPoint screenCentre = QGuiApplication::primaryScreen()->availableGeometry().center();
    // Within the window frame's few pixels; the hidden window's spot is hundreds away.
    EXPECT_LE((centre - screenCentre).manhattanLength(), 8);
}
