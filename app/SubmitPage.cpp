#include "app/SubmitPage.h"

#include "app/PictureButton.h"
#include "controls/HarmFade.h"
#include "platform/Cp1252.h"
#include "platform/MessageBoxes.h"
#include "service/SiteSubmission.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace {

QLineEdit* edit(QWidget* parent, const QString& name) {
    auto* field = new QLineEdit(parent);
    field->setObjectName(name);
    return field;
}

THarmFade* submitButton(QWidget* parent, const QString& name, const QString& hint) {
    THarmFade* button = makePictureButton(parent, name, QStringLiteral("submit"), hint);
    button->setFixedSize(100, 23);
    return button;
}

QByteArray bytes(const QLineEdit* field) {
    return Cp1252::fromUnicode(field->text());
}

} // namespace

TSubmitPage::TSubmitPage(IMessageBoxes& messages, Context context, QWidget* parent)
    : QWidget(parent), m_messages(messages), m_context(std::move(context)),
      m_submission(new SiteSubmission(this)) {
    setObjectName(QStringLiteral("SubmitPage"));
    auto* column = new QVBoxLayout(this);

    auto* heading = new QLabel(QStringLiteral("Please help us to make Pellmar better by submitting "
                                              "your favourite MP3 sites. "),
                               this);
    heading->setWordWrap(true);
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);
    column->addWidget(heading);

    auto* ftp = new QGroupBox(QStringLiteral("FTP:"), this);
    auto* ftpGrid = new QGridLayout(ftp);
    IPEdit = edit(ftp, QStringLiteral("IPEdit"));
    PortEdit = edit(ftp, QStringLiteral("PortEdit"));
    LoginEdit = edit(ftp, QStringLiteral("LoginEdit"));
    PassEdit = edit(ftp, QStringLiteral("PassEdit"));
    ftpGrid->addWidget(new QLabel(QStringLiteral("IP:"), ftp), 0, 0);
    ftpGrid->addWidget(IPEdit, 0, 1);
    ftpGrid->addWidget(new QLabel(QStringLiteral("Port:"), ftp), 0, 2);
    ftpGrid->addWidget(PortEdit, 0, 3);
    ftpGrid->addWidget(new QLabel(QStringLiteral("Login:"), ftp), 1, 0);
    ftpGrid->addWidget(LoginEdit, 1, 1);
    ftpGrid->addWidget(new QLabel(QStringLiteral("Pass:"), ftp), 1, 2);
    ftpGrid->addWidget(PassEdit, 1, 3);
    HarmFade10 =
        submitButton(ftp, QStringLiteral("HarmFade10"), QStringLiteral("Submit the FTP server"));
    ftpGrid->addWidget(HarmFade10, 1, 4);
    column->addWidget(ftp);

    auto* http = new QGroupBox(QStringLiteral("HTTP:"), this);
    auto* httpRow = new QHBoxLayout(http);
    HTTPEdit = edit(http, QStringLiteral("HTTPEdit"));
    HarmFade12 =
        submitButton(http, QStringLiteral("HarmFade12"), QStringLiteral("Submit the web site"));
    httpRow->addWidget(new QLabel(QStringLiteral("http://"), http));
    httpRow->addWidget(HTTPEdit, 1);
    httpRow->addWidget(HarmFade12);
    column->addWidget(http);

    auto* smb = new QGroupBox(
        QStringLiteral("SMB: (Computer with Shared Folders in a Windows Network)"), this);
    auto* smbRow = new QHBoxLayout(smb);
    SMBIPEdit = edit(smb, QStringLiteral("SMBIPEdit"));
    HarmFade13 =
        submitButton(smb, QStringLiteral("HarmFade13"), QStringLiteral("Submit the computer"));
    smbRow->addWidget(new QLabel(QStringLiteral("IP:"), smb));
    smbRow->addWidget(SMBIPEdit, 1);
    smbRow->addWidget(HarmFade13);
    column->addWidget(smb);

    auto* own = new QGroupBox(QStringLiteral("SMB: (Shared Folders on My Computer)"), this);
    auto* ownRow = new QHBoxLayout(own);
    HarmFade11 = submitButton(own, QStringLiteral("HarmFade11"),
                              QStringLiteral("Submit the shared folders of this computer"));
    ownRow->addStretch(1);
    ownRow->addWidget(HarmFade11);
    column->addWidget(own);
    column->addStretch(1);

    for (THarmFade* button : {HarmFade10, HarmFade12, HarmFade13})
        button->OnClick = [this](THarmFade*) { HarmFade10Click(); };
    HarmFade11->OnClick = [this](THarmFade*) { HarmFade11Click(); };
}

void TSubmitPage::clearFields() {
    for (QLineEdit* field : {IPEdit, PortEdit, LoginEdit, PassEdit, HTTPEdit, SMBIPEdit})
        field->clear();
}

void TSubmitPage::HarmFade10Click() {
    SiteSubmission::Forms forms;
    forms.ftpAddress = bytes(IPEdit);
    forms.ftpPort = bytes(PortEdit);
    forms.ftpLogin = bytes(LoginEdit);
    forms.ftpPass = bytes(PassEdit);
    forms.httpAddress = bytes(HTTPEdit);
    forms.smbAddress = bytes(SMBIPEdit);
    const QByteArray home = Cp1252::fromUnicode(m_context.homeUrl());
    m_submission->send(m_context.settings(), SiteSubmission::reportUrls(home, forms));
    thankTheUser();
    clearFields();
}

void TSubmitPage::HarmFade11Click() {
    const QByteArray home = Cp1252::fromUnicode(m_context.homeUrl());
    m_submission->send(m_context.settings(), {SiteSubmission::ownShareUrl(home)});
    thankTheUser();
}

void TSubmitPage::thankTheUser() {
    m_messages.show(QStringLiteral("Pellmar"),
                    QStringLiteral("Thank you for submitting your site!"), MessageIcon::None,
                    MessageButtons::Ok);
}
