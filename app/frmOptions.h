#pragma once

#include "core/UserOptions.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;
class SettingsFile;
class TAdImage;
class TfrmFindFTP;
struct Platform;

// "Options": the user's settings on four pages. Every show loads them from the settings
// file; OK writes them back (UserOptions keeps the keys, defaults and order) and tells the
// banner the proxy.
class TfrmOptions : public QDialog {
    Q_OBJECT

public:
    TfrmOptions(Platform& platform, SettingsFile& settings, TAdImage* banner, TfrmFindFTP* findFtp,
                QWidget* parent = nullptr);

    void Load();
    void Save();

    QTabWidget* PageControl1 = nullptr;
    QLineEdit* TimeLimitEdit = nullptr;
    QLineEdit* MinSizeToAddEdit = nullptr;
    QRadioButton* InternalCheck = nullptr;
    QRadioButton* GozillaCheck = nullptr;
    QRadioButton* RadioButton1 = nullptr; // the program's own FTP client
    QRadioButton* RadioButton2 = nullptr; // an external FTP client
    QLineEdit* FTPEdit = nullptr;
    QPushButton* Button1 = nullptr; // Auto Locate
    QPushButton* Button2 = nullptr; // Browse
    QPushButton* Button3 = nullptr; // Help
    QCheckBox* LimitCheck = nullptr;
    QLineEdit* LimitEdit = nullptr;
    QLineEdit* StallSecondsEdit = nullptr;
    QLineEdit* RetryCountEdit = nullptr;
    QCheckBox* ProxyCheck = nullptr;
    QLineEdit* ProxyEdit = nullptr;
    QLineEdit* ProxyPortEdit = nullptr;
    QLineEdit* ProxyNameEdit = nullptr;
    QLineEdit* ProxyPassEdit = nullptr;
    QLineEdit* CaFileEdit = nullptr;     // a private CA for https
    QPushButton* CaFileButton = nullptr; // Browse
    QComboBox* BitrateCombo = nullptr;
    QComboBox* FrequencyCombo = nullptr;
    QCheckBox* StereoCheck = nullptr;
    QCheckBox* SkipId3Check = nullptr;
    QCheckBox* HideHadCheck = nullptr;
    QPushButton* OKButton = nullptr;
    QPushButton* CancelButton = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* buildGeneralPage();
    QWidget* buildDownloadPage();
    QWidget* buildProxyPage();
    QWidget* buildQualityPage();
    UserOptions shownOptions() const;
    void OKButtonClick();
    void ProxyCheckClick();
    void LimitCheckClick();
    void FtpChoiceClick();
    void CheckPositiveInteger(QLineEdit* field);
    void Button1Click();
    void Button2Click();
    void CaFileButtonClick();
    void OpenFtpHelp();

    Platform& m_platform;
    SettingsFile& m_settings;
    TAdImage* m_banner;
    TfrmFindFTP* m_findFtp;
};
