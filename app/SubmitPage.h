#pragma once

#include <QWidget>
#include <functional>

class IMessageBoxes;
class QLineEdit;
class THarmFade;
class SettingsFile;
class SiteSubmission;

// The submission page: forms for an FTP server, a web site and a computer with shared
// folders, each with a button that sends all three forms, and a button that asks the
// service to index the shared folders of this computer.
class TSubmitPage : public QWidget {
    Q_OBJECT

public:
    // What the page reads at every send: the settings (for the proxy) and the service's
    // home URL from the data file.
    struct Context {
        std::function<const SettingsFile&()> settings;
        std::function<QString()> homeUrl;
    };

    TSubmitPage(IMessageBoxes& messages, Context context, QWidget* parent = nullptr);

    // Empties all six fields, as when the main window is shown.
    void clearFields();

    void HarmFade10Click(); // the three group buttons: send every filled-in form
    void HarmFade11Click(); // the shared folders of this computer

    SiteSubmission& submission() { return *m_submission; }

    QLineEdit* IPEdit = nullptr;
    QLineEdit* PortEdit = nullptr;
    QLineEdit* LoginEdit = nullptr;
    QLineEdit* PassEdit = nullptr;
    QLineEdit* HTTPEdit = nullptr;
    QLineEdit* SMBIPEdit = nullptr;
    THarmFade* HarmFade10 = nullptr; // FTP group
    THarmFade* HarmFade12 = nullptr; // HTTP group
    THarmFade* HarmFade13 = nullptr; // network SMB group
    THarmFade* HarmFade11 = nullptr; // own shared folders

private:
    void thankTheUser();

    IMessageBoxes& m_messages;
    Context m_context;
    SiteSubmission* m_submission = nullptr;
};
