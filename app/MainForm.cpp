#include "app/MainForm.h"

#include "app/SearchPage.h"
#include "app/frmGroupSelect.h"
#include "app/frmSearchFile.h"
#include "controls/SplitterBar.h"
#include "core/SearchHistory.h"
#include "platform/Errors.h"
#include "platform/ProgramFolder.h"
#include "search/SearchRun.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>
#include <cmath>

namespace {

const QString kOptions = QStringLiteral("Options");
const QString kWinPos = QStringLiteral("WinPos");
constexpr int kNavigationWidth = 105;
constexpr int kBannerWidth = 468;
constexpr int kBannerHeight = 60;

QPushButton* navigationButton(QWidget* parent, const QString& name, const QString& caption) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setFixedSize(100, 23);
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

QString tellAFriendLink(const QString& homeUrl) {
    return QStringLiteral("mailto:?subject=Check out Pellmar!&body=The easiest way to find mp3 "
                          "files on the net. It's freeware! You can download it from ") +
           homeUrl;
}

} // namespace

const QString TMainForm::kContactUrl = QStringLiteral("http://www.pellmar.net/mp3/contact/");

TMainForm::TMainForm(Platform& platform, Options options, QWidget* parent)
    : QMainWindow(parent), m_platform(platform), m_options(std::move(options)) {
    // Boxes of the creation come before the window is shown: they are still its own.
    m_platform.messages.setOwner(this);
    buildWindow();
    connectButtons();
    FormCreate();
}

TMainForm::~TMainForm() = default;

// ---- building the window -------------------------------------------------------------

void TMainForm::buildWindow() {
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("Pellmar"));
    setMinimumSize(640, 480);
    resize(640, 480);

    auto* central = new QWidget(this);
    auto* row = new QHBoxLayout(central);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    row->addWidget(buildNavigationColumn());

    auto* right = new QVBoxLayout;
    right->setSpacing(0);
    PageArea = new QWidget(central);
    PageArea->setObjectName(QStringLiteral("PageArea"));
    PageArea->installEventFilter(this);
    panel_Search = buildSearchPage();
    panel_Submit = buildInnerPage(QStringLiteral("panel_Submit"), QStringLiteral("Submit a Site"));
    panel_About = buildAboutPage();
    panel_Favorite = buildInnerPage(QStringLiteral("panel_Favorite"), QStringLiteral("Favorites"));
    panel_BannerClick =
        buildInnerPage(QStringLiteral("panel_BannerClick"), QStringLiteral("Thank you!"));
    right->addWidget(PageArea, 1);

    auto* bannerStrip = new QWidget(central);
    bannerStrip->setObjectName(QStringLiteral("BannerStrip"));
    bannerStrip->setFixedHeight(kBannerHeight);
    auto* banner = new QLabel(QStringLiteral("Pellmar"), bannerStrip);
    banner->setObjectName(QStringLiteral("AdImage1"));
    banner->setAlignment(Qt::AlignCenter);
    banner->setFrameShape(QFrame::Box);
    banner->setGeometry(0, 0, kBannerWidth, kBannerHeight);
    banner->setCursor(Qt::PointingHandCursor);
    banner->installEventFilter(this);
    AdImage1 = banner;
    right->addWidget(bannerStrip);

    row->addLayout(right, 1);
    setCentralWidget(central);

    auto timer = [this](const QString& name, int interval, bool enabled) {
        auto* t = new QTimer(this);
        t->setObjectName(name);
        t->setInterval(interval);
        if (enabled)
            t->start();
        return t;
    };
    Timer2 = timer(QStringLiteral("Timer2"), 1000, true);
    Timer1 = timer(QStringLiteral("Timer1"), 3000, true);
}

QWidget* TMainForm::buildNavigationColumn() {
    auto* column = new QWidget(this);
    column->setObjectName(QStringLiteral("NavigationColumn"));
    column->setFixedWidth(kNavigationWidth);
    column->setAutoFillBackground(true);
    QPalette palette = column->palette();
    palette.setColor(QPalette::Window, QColor(0x20, 0x30, 0x50));
    column->setPalette(palette);

    HarmFade1 = navigationButton(column, QStringLiteral("HarmFade1"), QStringLiteral("Search"));
    HarmFade2 = navigationButton(column, QStringLiteral("HarmFade2"), QStringLiteral("Favorites"));
    HarmFade3 = navigationButton(column, QStringLiteral("HarmFade3"), QStringLiteral("Options"));
    HarmFade5 =
        navigationButton(column, QStringLiteral("HarmFade5"), QStringLiteral("Submit Site"));
    HarmFade4 = navigationButton(column, QStringLiteral("HarmFade4"), QStringLiteral("Home Page"));
    HarmFade7 =
        navigationButton(column, QStringLiteral("HarmFade7"), QStringLiteral("Tell a Friend"));
    HarmFade6 = navigationButton(column, QStringLiteral("HarmFade6"), QStringLiteral("Contact"));
    HarmFade8 = navigationButton(column, QStringLiteral("HarmFade8"), QStringLiteral("Help"));
    HarmFade9 = navigationButton(column, QStringLiteral("HarmFade9"), QStringLiteral("About"));
    NavigationButtons = {HarmFade1, HarmFade2, HarmFade3, HarmFade5, HarmFade4,
                         HarmFade7, HarmFade6, HarmFade8, HarmFade9};

    auto* stack = new QVBoxLayout(column);
    stack->setContentsMargins(2, 4, 3, 0);
    stack->setSpacing(0);
    for (QPushButton* button : NavigationButtons)
        stack->addWidget(button);
    stack->addStretch(1);
    return column;
}

// The search page is a widget of its own; the window keeps the names of its controls.
QWidget* TMainForm::buildSearchPage() {
    SearchPage = new TSearchPage(PageArea);
    ComboBox1 = SearchPage->ComboBox1;
    SearchButton = SearchPage->SearchButton;
    AbortButton = SearchPage->AbortButton;
    SearchHttpCheck = SearchPage->SearchHttpCheck;
    SearchFtpCheck = SearchPage->SearchFtpCheck;
    SearchSMBCheck = SearchPage->SearchSMBCheck;
    OnlyLeechCheck = SearchPage->OnlyLeechCheck;
    StatusBevel = SearchPage->StatusBevel;
    Progressbar = SearchPage->Progressbar;
    SearchStatus = SearchPage->SearchStatus;
    SearchFound = SearchPage->SearchFound;
    HostListView = SearchPage->HostListView;
    SearchListview = SearchPage->SearchListview;
    Splitter1 = SearchPage->Splitter1;
    ListsArea = SearchPage->ListsArea;
    HarmFade14 = SearchPage->HarmFade14;
    HarmFade15 = SearchPage->HarmFade15;
    HarmFade16 = SearchPage->HarmFade16;
    HarmFade17 = SearchPage->HarmFade17;
    SearchListMenu = SearchPage->SearchListMenu;
    HostListMenu = SearchPage->HostListMenu;
    frmGroupSelect = new TfrmGroupSelect(m_platform, SearchListview, this);
    frmSearchFile = new TfrmSearchFile(m_platform, SearchListview, this);
    return SearchPage;
}

QWidget* TMainForm::buildInnerPage(const QString& name, const QString& title) {
    auto* page = new QWidget(PageArea);
    page->setObjectName(name);
    page->setAutoFillBackground(true);
    auto* inner = new QFrame(page);
    inner->setObjectName(name + QStringLiteral("_Inner"));
    inner->setFrameShape(QFrame::StyledPanel);
    inner->resize(420, 300);
    InnerPanels.append(inner);
    auto* heading = new QLabel(title, inner);
    heading->setObjectName(name + QStringLiteral("_Title"));
    QFont font = heading->font();
    font.setPointSize(font.pointSize() + 4);
    font.setBold(true);
    heading->setFont(font);
    heading->move(16, 12);
    return page;
}

QWidget* TMainForm::buildAboutPage() {
    QWidget* page = buildInnerPage(QStringLiteral("panel_About"), QStringLiteral("Pellmar"));
    QFrame* inner = InnerPanels.back();
    auto* image = new QLabel(inner);
    image->setObjectName(QStringLiteral("Image1"));
    image->setText(QStringLiteral("Find MP3 files on HTTP, FTP and SMB sources,\n"
                                  "check their quality and fetch them."));
    image->setGeometry(16, 60, 390, 60);
    versionlabel = new QLabel(inner);
    versionlabel->setObjectName(QStringLiteral("versionlabel"));
    versionlabel->setGeometry(16, 130, 200, 20);
    AboutUrl = new QLabel(inner);
    AboutUrl->setObjectName(QStringLiteral("AboutUrl"));
    AboutUrl->setGeometry(16, 160, 390, 20);
    AboutUrl->setCursor(Qt::PointingHandCursor);
    AboutUrl->installEventFilter(this);
    return page;
}

void TMainForm::connectButtons() {
    connect(HarmFade1, &QPushButton::clicked, this, [this] { ShowPage(panel_Search, HarmFade1); });
    connect(HarmFade2, &QPushButton::clicked, this,
            [this] { ShowPage(panel_Favorite, HarmFade2); });
    connect(HarmFade5, &QPushButton::clicked, this, [this] { ShowPage(panel_Submit, HarmFade5); });
    connect(HarmFade9, &QPushButton::clicked, this, [this] { ShowPage(panel_About, HarmFade9); });
    connect(HarmFade4, &QPushButton::clicked, this, [this] { OpenWithShell(DataFile.HomeUrl); });
    connect(HarmFade7, &QPushButton::clicked, this,
            [this] { OpenWithShell(tellAFriendLink(DataFile.HomeUrl)); });
    connect(HarmFade6, &QPushButton::clicked, this, [this] { OpenWithShell(kContactUrl); });
    connect(HarmFade15, &QPushButton::clicked, frmGroupSelect, &QDialog::exec);
    connect(HarmFade16, &QPushButton::clicked, frmSearchFile, &QDialog::exec);
    connect(HarmFade8, &QPushButton::clicked, this,
            [this] { OpenWithShell(ProgramFolder::file(QStringLiteral("help/index.htm"))); });
}

// ---- creation, show and close ----------------------------------------------------------

void TMainForm::FormCreate() {
    SearchStatus->clear();
    const QString folder = ProgramFolder::path();
    FoundFixedIni = QFile::exists(folder + QStringLiteral("/Pellmar.ini"));
    UpdateCheckStarted = false;
    SettingsFile_ = std::make_unique<SettingsFile>(QDir(folder).filePath(
        QFileInfo(ProgramFolder::executablePath()).completeBaseName() + QStringLiteral(".ini")));
    m_searchRun = std::make_unique<SearchRun>(*SettingsFile_, folder, m_platform);
    SearchPage->attach(*m_searchRun, m_platform.messages);
    try {
        LoadDataFile();
        RecordInRegistry();
        ProgramFolderText = folder;
        m_random.seed(static_cast<unsigned>(QDateTime::currentMSecsSinceEpoch()));
        AskTellAFriend();
        SearchFound->setText(QStringLiteral("0"));
    } catch (const PellmarError& error) {
        // The rest of the creation is skipped; the window still opens.
        showGeneralError(m_platform.messages, error.message());
    }
    // A broken data file leaves the fields read so far: searches go to those addresses.
    m_searchRun->setServiceUrls(SearchServiceUrls::fromDataFile(DataFile));
}

void TMainForm::LoadDataFile() {
    const QString path = ProgramFolder::file(QStringLiteral("Pellmar.dat"));
    if (DataFile.load(path) == DataFileConfig::LoadResult::Empty) {
        m_platform.messages.show(QStringLiteral("Pellmar"),
                                 QStringLiteral("Couldn't find Pellmar.dat. Please reinstall "
                                                "Pellmar."),
                                 MessageIcon::None, MessageButtons::Ok);
        return;
    }
    AboutUrl->setText(DataFile.HomeUrl);
    AboutUrl->setToolTip(DataFile.HomeUrl);
    versionlabel->setText(QStringLiteral("v3.2"));
    m_searchRun->setServiceUrls(SearchServiceUrls::fromDataFile(DataFile));
    if (!UpdateCheckStarted && m_options.startUpdateCheck) {
        UpdateCheckStarted = true;
        m_options.startUpdateCheck();
    }
}

void TMainForm::RecordInRegistry() {
    const QString exe = ProgramFolder::executablePath();
    m_platform.registry.setValue(QStringLiteral("Software\\Pellmar\\Version"),
                                 QStringLiteral("Module Name"), exe);
    m_platform.registry.setValue(QStringLiteral("Software\\Pellmar\\Version"),
                                 QStringLiteral("revision"), QStringLiteral("3.2"));
    m_platform.registry.setValue(QStringLiteral("Software\\VB and VBA Program Settings\\Tunebin\\"
                                                "Startup"),
                                 QStringLiteral("vesk"), exe);
}

void TMainForm::AskTellAFriend() {
    if (!FoundFixedIni)
        return;
    const int draw = m_options.random ? m_options.random(20)
                                      : std::uniform_int_distribution<int>(0, 19)(m_random);
    if (draw != 0)
        return;
    const MessageResult answer = m_platform.messages.show(
        QStringLiteral("Pellmar"), QStringLiteral("Do you know anyone who would like Pellmar?"),
        MessageIcon::Warning, MessageButtons::YesNo);
    if (answer == MessageResult::Yes)
        OpenWithShell(tellAFriendLink(DataFile.HomeUrl));
}

void TMainForm::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!Shown) {
        Shown = true;
        FormShow();
    }
}

void TMainForm::FormShow() {
    m_random.seed(static_cast<unsigned>(QDateTime::currentMSecsSinceEpoch()));
    Progressbar->resize(0, Progressbar->height());
    setWindowTitle(QStringLiteral("Pellmar"));
    RestorePlacement();
    ComboBox1->setFocus();
    FillSearchHistory();
    for (QCheckBox* box : {SearchHttpCheck, SearchFtpCheck, SearchSMBCheck})
        box->setEnabled(true);
    SearchHttpCheck->setChecked(settings().readBool(kOptions, QStringLiteral("SearchHttp"), true));
    SearchFtpCheck->setChecked(settings().readBool(kOptions, QStringLiteral("SearchFtp"), true));
    SearchSMBCheck->setChecked(settings().readBool(kOptions, QStringLiteral("SearchSMB"), true));
    ShowPage(panel_Search, HarmFade1);
}

void TMainForm::RestorePlacement() {
    const SettingsFile& ini = settings();
    if (ini.readBool(kOptions, QStringLiteral("FirstTime"), true) ||
        ini.readInteger(kWinPos, QStringLiteral("Width"), 0) == -1) {
        setWindowState(windowState() | Qt::WindowMaximized);
    } else {
        const int left = ini.readInteger(kWinPos, QStringLiteral("Left"), 0);
        const int top = ini.readInteger(kWinPos, QStringLiteral("Top"), 0);
        const int width = ini.readInteger(kWinPos, QStringLiteral("Width"), 0);
        const int height = ini.readInteger(kWinPos, QStringLiteral("Height"), 0);
        move(left, top);
        resize(width, height);
    }
    SearchPage->restoreColumns(ini);
}

void TMainForm::FillSearchHistory() {
    SearchPage->showHistory(SearchHistory::Read(settings()));
}

void TMainForm::closeEvent(QCloseEvent* event) {
    if (!FormCloseQuery()) {
        event->ignore();
        return;
    }
    FormClose();
    event->accept();
}

bool TMainForm::FormCloseQuery() {
    if (ActiveDownloads == 0)
        return true;
    return m_platform.messages.show(
               QStringLiteral("Warning"),
               QStringLiteral("Downloads in progress. Are you sure you want to quit?"),
               MessageIcon::Warning, MessageButtons::YesNo) == MessageResult::Yes;
}

void TMainForm::FormClose() {
    m_searchRun->AbortButtonClick();
    RemoveTempFiles({QStringLiteral("*.tmp")});
    SavePlacement();
}

void TMainForm::SavePlacement() {
    SettingsFile& ini = settings();
    ini.writeBool(kOptions, QStringLiteral("SearchHttp"), SearchHttpCheck->isChecked());
    ini.writeBool(kOptions, QStringLiteral("SearchFtp"), SearchFtpCheck->isChecked());
    ini.writeBool(kOptions, QStringLiteral("SearchSMB"), SearchSMBCheck->isChecked());
    ini.writeString(kOptions, QStringLiteral("FirstTime"), QStringLiteral("0"));
    ini.writeInteger(kWinPos, QStringLiteral("Left"), x());
    ini.writeInteger(kWinPos, QStringLiteral("Top"), y());
    ini.writeInteger(kWinPos, QStringLiteral("Width"), isMaximized() ? -1 : width());
    ini.writeInteger(kWinPos, QStringLiteral("Height"), height());
    SearchPage->saveColumns(ini);
}

// Removes the files of the program's temp folder that match the patterns (all with none).
void TMainForm::RemoveTempFiles(const QStringList& patterns) {
    QDir temp(ProgramFolder::file(QStringLiteral("temp")));
    for (const QString& name : temp.entryList(patterns, QDir::Files))
        temp.remove(name);
}

// ---- pages and layout -------------------------------------------------------------------

void TMainForm::ShowPage(QWidget* page, QWidget* button) {
    BringToFront(page);
    if (button)
        button->setVisible(false);
    FormResize();
}

void TMainForm::AdImage1Click() {
    BringToFront(panel_BannerClick);
}

// The page fills the page area in front of the others; every navigation button shows.
void TMainForm::BringToFront(QWidget* page) {
    FrontPage = page;
    page->raise();
    page->setGeometry(PageArea->rect());
    for (QPushButton* nav : NavigationButtons)
        nav->setVisible(true);
}

void TMainForm::FormResize() {
    const int areaWidth = PageArea->width();
    AdImage1->move(static_cast<int>(std::lround((areaWidth - AdImage1->width()) / 2.0)), 0);
    for (QFrame* inner : InnerPanels) {
        const QWidget* page = inner->parentWidget();
        inner->move(page->width() / 2 - inner->width() / 2,
                    page->height() / 2 - inner->height() / 2);
    }
    SearchPage->layoutPage();
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == PageArea && event->type() == QEvent::Resize) {
        if (FrontPage)
            FrontPage->setGeometry(PageArea->rect());
        FormResize();
    } else if (watched == AdImage1 && event->type() == QEvent::MouseButtonRelease) {
        AdImage1Click();
        return true;
    } else if (watched == AboutUrl && event->type() == QEvent::MouseButtonRelease) {
        OpenWithShell(DataFile.HomeUrl);
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

bool TMainForm::Splitter1CanResize(int newWidth) const {
    return SearchPage->Splitter1CanResize(newWidth);
}

// ---- helpers ------------------------------------------------------------------------------

void TMainForm::OpenWithShell(const QString& target) {
    m_platform.shell.openWithShell(target);
}

bool TMainForm::LaunchWithClipboard(const QString& program, const QString& argument,
                                    const QString& suffix) {
    return launchWithClipboard(m_platform.clipboard, m_platform.shell, program, argument, suffix);
}

QString TMainForm::ReadSetting(const QString& section, const QString& key,
                               const QString& defaultValue) {
    return settings().readString(section, key, defaultValue);
}

void TMainForm::WriteSetting(const QString& section, const QString& key, const QString& value) {
    settings().writeString(section, key, value);
}
