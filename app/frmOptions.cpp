#include "app/frmOptions.h"

#include "app/frmFindFTP.h"
#include "controls/AdImage.h"
#include "core/UserOptions.h"
#include "platform/Cp1252.h"
#include "platform/Errors.h"
#include "platform/Platform.h"
#include "platform/ProgramFolder.h"
#include "platform/SettingsFile.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFocusEvent>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {

QLineEdit* edit(QWidget* parent, const char* name) {
    auto* field = new QLineEdit(parent);
    field->setObjectName(QString::fromLatin1(name));
    return field;
}

QComboBox* numberCombo(QWidget* parent, const char* name, const QStringList& values) {
    auto* combo = new QComboBox(parent);
    combo->setObjectName(QString::fromLatin1(name));
    combo->setEditable(true);
    combo->setInsertPolicy(QComboBox::NoInsert);
    combo->addItems(values);
    return combo;
}

} // namespace

TfrmOptions::TfrmOptions(Platform& platform, SettingsFile& settings, TAdImage* banner,
                         TfrmFindFTP* findFtp, QWidget* parent)
    : QDialog(parent), m_platform(platform), m_settings(settings), m_banner(banner),
      m_findFtp(findFtp) {
    setObjectName(QStringLiteral("frmOptions"));
    setWindowTitle(QStringLiteral("Options"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    PageControl1->addTab(buildGeneralPage(), QStringLiteral("General"));
    PageControl1->addTab(buildDownloadPage(), QStringLiteral("Download"));
    PageControl1->addTab(buildProxyPage(), QStringLiteral("Proxy"));
    PageControl1->addTab(buildQualityPage(), QStringLiteral("Quality"));

    OKButton = new QPushButton(QStringLiteral("&OK"), this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    OKButton->setDefault(true);
    CancelButton = new QPushButton(QStringLiteral("&Cancel"), this);
    CancelButton->setObjectName(QStringLiteral("CancelButton"));
    auto* strip = new QHBoxLayout;
    strip->addStretch(1);
    strip->addWidget(OKButton);
    strip->addWidget(CancelButton);
    auto* column = new QVBoxLayout(this);
    column->addWidget(PageControl1);
    column->addLayout(strip);
    setFixedSize(sizeHint().expandedTo(QSize(440, 360)));

    connect(OKButton, &QPushButton::clicked, this, [this] { OKButtonClick(); });
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(ProxyCheck, &QCheckBox::clicked, this, [this] { ProxyCheckClick(); });
    connect(LimitCheck, &QCheckBox::clicked, this, [this] { LimitCheckClick(); });
    for (QRadioButton* choice : {GozillaCheck, RadioButton1, RadioButton2})
        connect(choice, &QRadioButton::clicked, this, [this] { FtpChoiceClick(); });
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
    connect(CaFileButton, &QPushButton::clicked, this, [this] { CaFileButtonClick(); });
    connect(Button3, &QPushButton::clicked, this, [this] { OpenFtpHelp(); });
    for (QLineEdit* number : {TimeLimitEdit, MinSizeToAddEdit, LimitEdit, ProxyPortEdit,
                              StallSecondsEdit, RetryCountEdit})
        number->installEventFilter(this);
}

// ---- pages --------------------------------------------------------------------------------------

QWidget* TfrmOptions::buildGeneralPage() {
    auto* page = new QWidget;
    auto* column = new QVBoxLayout(page);
    auto group = [page, column](const char* title, QLineEdit* field) {
        auto* box = new QGroupBox(QString::fromLatin1(title), page);
        (new QVBoxLayout(box))->addWidget(field);
        column->addWidget(box);
    };
    TimeLimitEdit = edit(page, "TimeLimitEdit");
    MinSizeToAddEdit = edit(page, "MinSizeToAddEdit");
    group("Abort Search After: (seconds)", TimeLimitEdit);
    group("Do Not Show Files Less Than: (kb)", MinSizeToAddEdit);
    HideHadCheck = new QCheckBox(QStringLiteral("Hide songs I have"), page);
    HideHadCheck->setObjectName(QStringLiteral("HideHadCheck"));
    HideHadCheck->setToolTip(QStringLiteral("Leave out the songs your own library holds at the "
                                            "same or better quality (the bundled search "
                                            "service knows them)"));
    column->addWidget(HideHadCheck);
    column->addStretch(1);
    return page;
}

QWidget* TfrmOptions::buildDownloadPage() {
    auto* page = new QWidget;
    auto* column = new QVBoxLayout(page);

    auto* http = new QGroupBox(QStringLiteral("Download Manager (HTTP):"), page);
    auto* httpRow = new QHBoxLayout(http);
    InternalCheck = new QRadioButton(QStringLiteral("Internal Download Manager"), http);
    InternalCheck->setObjectName(QStringLiteral("InternalCheck"));
    GozillaCheck = new QRadioButton(QStringLiteral("Go!Zilla"), http);
    GozillaCheck->setObjectName(QStringLiteral("GozillaCheck"));
    httpRow->addWidget(InternalCheck);
    httpRow->addWidget(GozillaCheck);
    column->addWidget(http);

    auto* ftp = new QGroupBox(QStringLiteral("Download Manager (FTP):"), page);
    auto* ftpGrid = new QVBoxLayout(ftp);
    auto* choices = new QHBoxLayout;
    RadioButton1 = new QRadioButton(QStringLiteral("Vesk\u00B4s FTP Client"), ftp);
    RadioButton1->setObjectName(QStringLiteral("RadioButton1"));
    RadioButton2 = new QRadioButton(QStringLiteral("External FTP Client"), ftp);
    RadioButton2->setObjectName(QStringLiteral("RadioButton2"));
    Button3 = new QPushButton(QStringLiteral("&Help"), ftp);
    Button3->setObjectName(QStringLiteral("Button3"));
    choices->addWidget(RadioButton1);
    choices->addWidget(RadioButton2);
    choices->addStretch(1);
    choices->addWidget(Button3);
    ftpGrid->addLayout(choices);
    ftpGrid->addWidget(new QLabel(QStringLiteral("Path to your FTP-client:"), ftp));
    FTPEdit = edit(ftp, "FTPEdit");
    ftpGrid->addWidget(FTPEdit);
    auto* buttons = new QHBoxLayout;
    Button1 = new QPushButton(QStringLiteral("&Auto Locate"), ftp);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button2 = new QPushButton(QStringLiteral("&Browse..."), ftp);
    Button2->setObjectName(QStringLiteral("Button2"));
    buttons->addStretch(1);
    buttons->addWidget(Button1);
    buttons->addWidget(Button2);
    ftpGrid->addLayout(buttons);
    column->addWidget(ftp);

    auto* limit = new QGroupBox(QStringLiteral("Limit:"), page);
    auto* limitRow = new QHBoxLayout(limit);
    LimitCheck = new QCheckBox(
        QStringLiteral("Limit simultaneous downloads (internal download manager) to:"), limit);
    LimitCheck->setObjectName(QStringLiteral("LimitCheck"));
    LimitEdit = edit(limit, "LimitEdit");
    LimitEdit->setMaximumWidth(50);
    limitRow->addWidget(LimitCheck);
    limitRow->addWidget(LimitEdit);
    column->addWidget(limit);

    // Like the limit, these rule the internal download manager only.
    auto* retries = new QGroupBox(QStringLiteral("Broken Downloads:"), page);
    auto* retryGrid = new QGridLayout(retries);
    StallSecondsEdit = edit(retries, "StallSecondsEdit");
    RetryCountEdit = edit(retries, "RetryCountEdit");
    retryGrid->addWidget(
        new QLabel(QStringLiteral("Give up a silent transfer after: (seconds)"), retries), 0, 0);
    retryGrid->addWidget(StallSecondsEdit, 0, 1);
    retryGrid->addWidget(
        new QLabel(QStringLiteral("Try a broken download again: (times, 0 = never)"), retries), 1,
        0);
    retryGrid->addWidget(RetryCountEdit, 1, 1);
    for (QLineEdit* field : {StallSecondsEdit, RetryCountEdit})
        field->setMaximumWidth(50);
    column->addWidget(retries);
    column->addStretch(1);
    return page;
}

QWidget* TfrmOptions::buildProxyPage() {
    auto* page = new QWidget;
    auto* column = new QVBoxLayout(page);
    auto* group = new QGroupBox(QStringLiteral("HTTP Proxy Settings:"), page);
    auto* form = new QFormLayout(group);
    ProxyCheck = new QCheckBox(QStringLiteral("Use Proxy Settings:"), group);
    ProxyCheck->setObjectName(QStringLiteral("ProxyCheck"));
    form->addRow(ProxyCheck);
    ProxyEdit = edit(group, "ProxyEdit");
    ProxyPortEdit = edit(group, "ProxyPortEdit");
    ProxyNameEdit = edit(group, "ProxyNameEdit");
    ProxyPassEdit = edit(group, "ProxyPassEdit"); // shown in clear, as stored
    form->addRow(QStringLiteral("Server:"), ProxyEdit);
    form->addRow(QStringLiteral("Port:"), ProxyPortEdit);
    form->addRow(QStringLiteral("Name:"), ProxyNameEdit);
    form->addRow(QStringLiteral("Pass:"), ProxyPassEdit);
    column->addWidget(group);

    // Certificates of https servers are always checked; this adds a CA to trust, e.g. a
    // company's own, besides the system's.
    auto* tls = new QGroupBox(QStringLiteral("HTTPS:"), page);
    auto* tlsRow = new QHBoxLayout(tls);
    CaFileEdit = edit(tls, "CaFileEdit");
    CaFileButton = new QPushButton(QStringLiteral("B&rowse..."), tls);
    CaFileButton->setObjectName(QStringLiteral("CaFileButton"));
    tlsRow->addWidget(new QLabel(QStringLiteral("Also trust the CA certificates in:"), tls));
    tlsRow->addWidget(CaFileEdit, 1);
    tlsRow->addWidget(CaFileButton);
    column->addWidget(tls);
    column->addStretch(1);
    return page;
}

QWidget* TfrmOptions::buildQualityPage() {
    auto* page = new QWidget;
    auto* column = new QVBoxLayout(page);
    auto* group = new QGroupBox(QStringLiteral("Show Happy Smiley when (at least):"), page);
    auto* form = new QFormLayout(group);
    BitrateCombo = numberCombo(group, "BitrateCombo",
                               {QStringLiteral("256"), QStringLiteral("192"), QStringLiteral("128"),
                                QStringLiteral("112"), QStringLiteral("96"), QStringLiteral("64"),
                                QStringLiteral("48")});
    FrequencyCombo = numberCombo(group, "FrequencyCombo",
                                 {QStringLiteral("48"), QStringLiteral("44"), QStringLiteral("32"),
                                  QStringLiteral("24"), QStringLiteral("22"), QStringLiteral("16"),
                                  QStringLiteral("11")});
    auto unit = [group](QComboBox* combo, const char* text) {
        auto* row = new QHBoxLayout;
        row->addWidget(combo);
        row->addWidget(new QLabel(QString::fromLatin1(text), group));
        row->addStretch(1);
        return row;
    };
    form->addRow(QStringLiteral("Bitrate:"), unit(BitrateCombo, "kbps"));
    form->addRow(QStringLiteral("Frequency:"), unit(FrequencyCombo, "kHz"));
    StereoCheck = new QCheckBox(group);
    StereoCheck->setObjectName(QStringLiteral("StereoCheck"));
    form->addRow(QStringLiteral("Stereo:"), StereoCheck);
    column->addWidget(group);
    SkipId3Check = new QCheckBox(QStringLiteral("Look past ID3 tags"), page);
    SkipId3Check->setObjectName(QStringLiteral("SkipId3Check"));
    SkipId3Check->setToolTip(QStringLiteral("Read the frame header after an ID3 tag at the start "
                                            "of a file"));
    column->addWidget(SkipId3Check);
    column->addStretch(1);
    return page;
}

// ---- load and save -----------------------------------------------------------------------------

void TfrmOptions::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    PageControl1->setCurrentIndex(0);
    Load();
}

void TfrmOptions::Load() {
    const UserOptions options = UserOptions::Load(m_settings);
    LimitCheck->setChecked(options.limit);
    LimitEdit->setText(options.limitNumber);
    LimitEdit->setEnabled(LimitCheck->isChecked());
    TimeLimitEdit->setText(options.timeLimit);
    StallSecondsEdit->setText(options.stallSeconds);
    RetryCountEdit->setText(options.retryCount);
    MinSizeToAddEdit->setText(options.minSizeToAdd);

    // In an exclusive pair unchecking does nothing: the other button is checked instead.
    (options.useGoZilla ? GozillaCheck : InternalCheck)->setChecked(true);

    BitrateCombo->setEditText(options.minBitrate);
    FrequencyCombo->setEditText(options.minFrequency);
    StereoCheck->setChecked(options.needStereo);
    SkipId3Check->setChecked(options.skipId3Tags);
    HideHadCheck->setChecked(options.hideSongsIHave);

    ProxyCheck->setChecked(options.useProxy);
    ProxyEdit->setText(options.proxyServer);
    ProxyPortEdit->setText(options.proxyPort);
    ProxyNameEdit->setText(options.proxyName);
    ProxyPassEdit->setText(options.proxyPass);
    CaFileEdit->setText(options.caFile);
    ProxyCheckClick();

    if (options.useFtp)
        RadioButton2->setChecked(true);
    else
        RadioButton1->setChecked(true);
    FTPEdit->setText(options.ftpPath);
    FtpChoiceClick();
}

// The options as the controls show them.
UserOptions TfrmOptions::shownOptions() const {
    UserOptions options;
    options.needStereo = StereoCheck->isChecked();
    options.minBitrate = BitrateCombo->currentText();
    options.minFrequency = FrequencyCombo->currentText();
    options.skipId3Tags = SkipId3Check->isChecked();
    options.hideSongsIHave = HideHadCheck->isChecked();
    options.useGoZilla = GozillaCheck->isChecked();
    options.timeLimit = TimeLimitEdit->text();
    options.minSizeToAdd = MinSizeToAddEdit->text();
    options.limit = LimitCheck->isChecked();
    options.limitNumber = LimitEdit->text();
    options.useProxy = ProxyCheck->isChecked();
    options.proxyServer = ProxyEdit->text();
    options.proxyPort = ProxyPortEdit->text();
    options.proxyName = ProxyNameEdit->text();
    options.proxyPass = ProxyPassEdit->text();
    options.caFile = CaFileEdit->text();
    options.useFtp = RadioButton2->isChecked();
    options.ftpPath = FTPEdit->text();
    options.stallSeconds = StallSecondsEdit->text();
    options.retryCount = RetryCountEdit->text();
    return options;
}

// A number that is not one stops the save there; the banner learns the proxy at once.
void TfrmOptions::Save() {
    shownOptions().Save(m_settings, [this](const std::optional<QString>& host, int port) {
        if (!m_banner)
            return;
        std::optional<QByteArray> hostText;
        if (host)
            hostText = Cp1252::fromUnicode(*host);
        m_banner->SetProxy(hostText, port, QByteArray());
    });
}

void TfrmOptions::OKButtonClick() {
    try {
        Save();
    } catch (const PellmarError& error) {
        showGeneralError(m_platform.messages, error.message());
    }
    accept();
}

// ---- control handlers --------------------------------------------------------------------------

void TfrmOptions::ProxyCheckClick() {
    for (QLineEdit* field : {ProxyEdit, ProxyPortEdit, ProxyNameEdit, ProxyPassEdit})
        field->setEnabled(ProxyCheck->isChecked());
}

void TfrmOptions::LimitCheckClick() {
    LimitEdit->setEnabled(LimitCheck->isChecked());
}

void TfrmOptions::FtpChoiceClick() {
    const bool external = RadioButton2->isChecked();
    for (QWidget* control : std::initializer_list<QWidget*>{FTPEdit, Button1, Button2})
        control->setEnabled(external);
}

// A warning only: the text stays as typed and the focus moves on.
void TfrmOptions::CheckPositiveInteger(QLineEdit* field) {
    const std::optional<int> value = TryStrToInt(field->text());
    if (!value || *value < 0)
        m_platform.messages.show(QStringLiteral("Pellmar"),
                                 QStringLiteral("Must be a positive integer"), MessageIcon::None,
                                 MessageButtons::Ok);
}

// Focus that leaves with the whole window (another program, a pop-up) is not leaving the
// field: the user has not moved on inside the dialog.
bool TfrmOptions::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut && isVisible()) {
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        auto* field = qobject_cast<QLineEdit*>(watched);
        if (field && reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
            CheckPositiveInteger(field);
    }
    return QDialog::eventFilter(watched, event);
}

void TfrmOptions::Button2Click() {
    const std::optional<QString> program = m_platform.dialogs.openFile(
        QString(), QString(), QStringLiteral("Executable Files (*.exe);;All Files (*)"));
    if (program)
        FTPEdit->setText(*program);
}

void TfrmOptions::CaFileButtonClick() {
    const std::optional<QString> file = m_platform.dialogs.openFile(
        QString(), QString(), QStringLiteral("CA certificates (*.pem *.crt);;All Files (*)"));
    if (file)
        CaFileEdit->setText(*file);
}

// A locator that found nothing has opened the FTP help page already; it is not opened twice.
void TfrmOptions::Button1Click() {
    if (m_findFtp && m_findFtp->exec() == 1 && !m_findFtp->foundPath().isEmpty())
        FTPEdit->setText(m_findFtp->foundPath());
}

void TfrmOptions::OpenFtpHelp() {
    m_platform.shell.openWithShell(ProgramFolder::file(QStringLiteral("help/ftp.htm")));
}
