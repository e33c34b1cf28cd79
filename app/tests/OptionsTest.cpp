#include "app/frmFindFTP.h"
#include "app/frmOptions.h"
#include "controls/AdImage.h"
#include "platform/SettingsFile.h"
#include "support/FakeAdvertLog.h"
#include "support/FakePlatform.h"
#include "support/TempHome.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QFocusEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

class OptionsTest : public ::testing::Test {
protected:
    OptionsTest() {
        QFile::copy(QStringLiteral(PELLMAR_FAKE_ADVERT), home.file(QStringLiteral("advert.dll")));
        banner = std::make_unique<TAdImage>(fake.messages);
        banner->Loaded();
        lib = std::make_unique<FakeAdvertLog>(home.file(QStringLiteral("advert.dll")));
        findFtp = std::make_unique<TfrmFindFTP>(fake.shell);
        findFtp->diskRoots = [this] { return QStringList{disk.path()}; };
        form = std::make_unique<TfrmOptions>(fake.platform, ini, banner.get(), findFtp.get());
    }
    QString ini_text() const {
        return QString::fromLatin1(home.read(QStringLiteral("Pellmar.ini")));
    }
    // The banner's calls since it started.
    QString proxyCalls() const { return lib->log().section(QLatin1Char('\n'), 6); }

    TempHome home;
    QTemporaryDir disk;
    FakePlatform fake;
    SettingsFile ini{home.file(QStringLiteral("Pellmar.ini"))};
    std::unique_ptr<TAdImage> banner;
    std::unique_ptr<FakeAdvertLog> lib;
    std::unique_ptr<TfrmFindFTP> findFtp;
    std::unique_ptr<TfrmOptions> form;
};

} // namespace

TEST_F(OptionsTest, EmptySettingsShowTheDefaults) {
    form->show();
    EXPECT_EQ(form->TimeLimitEdit->text(), QStringLiteral("180"));
    EXPECT_EQ(form->MinSizeToAddEdit->text(), QStringLiteral("30"));
    EXPECT_TRUE(form->InternalCheck->isChecked());
    EXPECT_TRUE(form->RadioButton1->isChecked());
    EXPECT_EQ(form->RadioButton1->text(), QStringLiteral("Vesk\u00B4s FTP Client"));
    EXPECT_FALSE(form->FTPEdit->isEnabled());
    EXPECT_FALSE(form->Button1->isEnabled());
    EXPECT_FALSE(form->LimitCheck->isChecked());
    EXPECT_EQ(form->LimitEdit->text(), QStringLiteral("0"));
    EXPECT_FALSE(form->LimitEdit->isEnabled());
    EXPECT_EQ(form->StallSecondsEdit->text(), QStringLiteral("30"));
    EXPECT_EQ(form->RetryCountEdit->text(), QStringLiteral("5"));
    EXPECT_FALSE(form->ProxyCheck->isChecked());
    EXPECT_EQ(form->ProxyPortEdit->text(), QStringLiteral("80"));
    EXPECT_FALSE(form->ProxyEdit->isEnabled());
    EXPECT_EQ(form->BitrateCombo->currentText(), QStringLiteral("128"));
    EXPECT_EQ(form->FrequencyCombo->currentText(), QStringLiteral("44"));
    EXPECT_TRUE(form->StereoCheck->isChecked());
    EXPECT_TRUE(form->SkipId3Check->isChecked());
    EXPECT_TRUE(ini_text().isEmpty());
}

TEST_F(OptionsTest, BadTimeLimitStopsTheSaveAfterTheQualityAndManagerKeys) {
    form->show();
    form->StereoCheck->setChecked(false);
    form->BitrateCombo->setEditText(QStringLiteral("19x"));
    form->FrequencyCombo->setEditText(QStringLiteral("48"));
    form->GozillaCheck->setChecked(true);
    form->TimeLimitEdit->setText(QStringLiteral("abc"));
    form->ProxyCheck->setChecked(true);
    form->OKButton->click();
    ASSERT_EQ(fake.messages.shown.size(), 1);
    EXPECT_EQ(fake.messages.shown[0].text, QStringLiteral("'abc' is not a valid integer value"));
    EXPECT_EQ(ini_text(),
              QStringLiteral(
                  "[Options]\r\nNeedStereo=0\r\nMinBitrate=19x\r\n"
                  "MinFrequency=48\r\nSkipId3Tags=1\r\nHideSongsIHave=0\r\nUseGo!Zilla=1\r\n"));
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(proxyCalls(), QString());
}

TEST_F(OptionsTest, LimitAndProxyKeysAndTheBannersProxy) {
    struct Row {
        bool limit;
        bool proxy;
        QString keys;
        QString bannerCall;
    };
    const QString proxyKeys = QStringLiteral(
        "ProxyServer=proxy.example\r\nProxyPort=3128\r\nProxyName=ann\r\nProxyPass=secret\r\n");
    for (const Row& row : {Row{false, false, "Limit=False\r\nLimitNumber=0\r\nUseProxy=False\r\n",
                               "_SetProxy null 80 []\n"},
                           Row{true, true, "Limit=True\r\nLimitNumber=7\r\nUseProxy=True\r\n",
                               "_SetProxy [proxy.example] 3128 []\n"}}) {
        QFile::remove(home.file(QStringLiteral("Pellmar.ini")));
        const qsizetype before = proxyCalls().size();
        form->show();
        form->LimitCheck->setChecked(row.limit);
        form->LimitEdit->setText(QStringLiteral("7"));
        form->ProxyCheck->setChecked(row.proxy);
        form->ProxyEdit->setText(QStringLiteral("proxy.example"));
        form->ProxyPortEdit->setText(QStringLiteral("3128"));
        form->ProxyNameEdit->setText(QStringLiteral("ann"));
        form->ProxyPassEdit->setText(QStringLiteral("secret"));
        form->OKButton->click();
        const QString text = ini_text();
        const QString limitAndProxy = row.keys.section(QStringLiteral("UseProxy"), 0, 0);
        EXPECT_TRUE(text.contains(QStringLiteral("MinSizeToAdd=30\r\n") + limitAndProxy +
                                  QStringLiteral("UseProxy") +
                                  row.keys.section(QStringLiteral("UseProxy"), 1) + proxyKeys +
                                  QStringLiteral("UseFtp=0\r\nFtpPath=\r\n")))
            << qPrintable(text);
        EXPECT_EQ(proxyCalls().mid(before), row.bannerCall);
    }
    EXPECT_TRUE(fake.messages.shown.isEmpty());
}

// The CA file for https is chosen with a file dialog and stored after the other keys.
TEST_F(OptionsTest, BrokenDownloadKeysAndTheCaFileComeLastAndZeroRetriesIsAChoice) {
    form->show();
    fake.dialogs.answers = {QStringLiteral("/etc/ssl/our-ca.pem")};
    form->CaFileButton->click();
    EXPECT_EQ(form->RetryCountEdit->parentWidget()->parentWidget(),
              form->LimitEdit->parentWidget()->parentWidget());
    form->StallSecondsEdit->setText(QStringLiteral("12"));
    form->RetryCountEdit->setText(QStringLiteral("0"));
    QFocusEvent leave(QEvent::FocusOut);
    QCoreApplication::sendEvent(form->RetryCountEdit, &leave);
    form->OKButton->click();
    EXPECT_TRUE(fake.messages.shown.isEmpty());
    EXPECT_TRUE(ini_text().endsWith(QStringLiteral("FtpPath=\r\nStallSeconds=12\r\nRetryCount=0\r\n"
                                                   "CaFile=/etc/ssl/our-ca.pem\r\n")))
        << qPrintable(ini_text());
    form->show();
    EXPECT_EQ(form->RetryCountEdit->text(), QStringLiteral("0"));
    EXPECT_EQ(form->CaFileEdit->text(), QStringLiteral("/etc/ssl/our-ca.pem"));
}

TEST_F(OptionsTest, LeavingANumberFieldWarnsAboutBadNumbers) {
    form->show();
    struct Row {
        const char* text;
        Qt::FocusReason reason;
        bool warns;
    };
    // Focus lost to another program or to a pop-up is not leaving the field.
    const Row rows[] = {{"abc", Qt::TabFocusReason, true},
                        {"-1", Qt::MouseFocusReason, true},
                        {"0", Qt::TabFocusReason, false},
                        {"$1F", Qt::BacktabFocusReason, false},
                        {"abc", Qt::ActiveWindowFocusReason, false},
                        {"-1", Qt::PopupFocusReason, false}};
    for (const auto& [text, reason, warns] : rows) {
        fake.messages.shown.clear();
        form->ProxyPortEdit->setText(QString::fromLatin1(text));
        QFocusEvent leave(QEvent::FocusOut, reason);
        QCoreApplication::sendEvent(form->ProxyPortEdit, &leave);
        ASSERT_EQ(fake.messages.shown.size(), warns ? 1 : 0) << text << " " << reason;
        if (warns) {
            EXPECT_EQ(fake.messages.shown[0].text, QStringLiteral("Must be a positive integer"));
        }
        EXPECT_EQ(form->ProxyPortEdit->text(), QString::fromLatin1(text));
    }
}

// Cancel forgets a choice of the download program or of the FTP client: the next show has
// the saved one checked, and OK saves that.
TEST_F(OptionsTest, CancelForgetsTheChoiceOfAnExternalClient) {
    struct Row {
        QRadioButton* clicked;
        QRadioButton* saved;
    };
    const Row rows[] = {{form->GozillaCheck, form->InternalCheck},
                        {form->RadioButton2, form->RadioButton1}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.clicked->text().toStdString());
        form->show();
        row.clicked->click();
        form->CancelButton->click();
        form->show();
        EXPECT_TRUE(row.saved->isChecked());
        EXPECT_FALSE(row.clicked->isChecked());
        EXPECT_FALSE(form->FTPEdit->isEnabled());
        EXPECT_FALSE(form->Button2->isEnabled());
        EXPECT_TRUE(ini_text().isEmpty());
        form->OKButton->click();
        EXPECT_TRUE(ini_text().contains("UseGo!Zilla=0\r\n")) << ini_text().toStdString();
        EXPECT_TRUE(ini_text().contains("UseFtp=0\r\n")) << ini_text().toStdString();
        QFile::remove(home.file(QStringLiteral("Pellmar.ini")));
    }
}

TEST_F(OptionsTest, AutoLocateTakesTheFoundClientOrShowsTheHelpOnce) {
    QObject::connect(
        findFtp.get(), &TfrmFindFTP::walkEnded, findFtp.get(),
        [this] { findFtp->OKButton->click(); }, Qt::QueuedConnection);
    form->show();
    form->RadioButton2->click();
    form->FTPEdit->setText(QStringLiteral("/old/client"));
    form->Button1->click(); // nothing on the disk
    EXPECT_EQ(form->FTPEdit->text(), QStringLiteral("/old/client"));
    EXPECT_EQ(fake.shell.opened, QStringList{home.file(QStringLiteral("help/ftp.htm"))});

    QFile(disk.filePath(QStringLiteral("CutFTP32.exe"))).open(QIODevice::WriteOnly);
    form->Button1->click();
    EXPECT_EQ(form->FTPEdit->text(), disk.filePath(QStringLiteral("CutFTP32.exe")));
    EXPECT_EQ(fake.shell.opened.size(), 1);

    fake.dialogs.answers = {QStringLiteral("/usr/bin/ftp-client")};
    form->Button2->click();
    EXPECT_EQ(form->FTPEdit->text(), QStringLiteral("/usr/bin/ftp-client"));
    form->Button3->click();
    EXPECT_EQ(fake.shell.opened.size(), 2);
}
