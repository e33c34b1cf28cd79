#include "app/MainForm.h"

#include "PellmarVersion.h"
#include "app/BannerClickPage.h"
#include "app/FavoritePage.h"
#include "app/PictureButton.h"
#include "app/ResumeListDialog.h"
#include "app/SearchPage.h"
#include "app/SubmitPage.h"
#include "app/frmDownloadFile.h"
#include "app/frmFindFTP.h"
#include "app/frmGroupSelect.h"
#include "app/frmOptions.h"
#include "app/frmSearchFile.h"
#include "controls/AdImage.h"
#include "controls/HarmFade.h"
#include "controls/SplitterBar.h"
#include "controls/UrlLabel.h"
#include "core/SearchHistory.h"
#include "core/UserOptions.h"
#include "download/DownloadJob.h"
#include "download/DownloadQueue.h"
#include "download/SaveActions.h"
#include "download/SmbResumeList.h"
#include "platform/Cp1252.h"
#include "platform/Errors.h"
#include "platform/ProgramFolder.h"
#include "search/SearchRun.h"
#include "service/ProgramSession.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
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

constexpr int kNavigationWidth = 105;
constexpr int kBannerHeight = 60;

constexpr QColor kColumnColor(0x14, 0x1E, 0x36); // the column pictures' own background

} // namespace

const QString TMainForm::kContactUrl = QStringLiteral("http://www.pellmar.net/mp3/contact/");

TMainForm::TMainForm(Platform& platform, Options options, QWidget* parent)
    : QMainWindow(parent), m_platform(platform), m_options(std::move(options)) {
    // Boxes of the creation come before the window is shown: they are still its own.
    m_platform.messages.setOwner(this);
    buildWindow();
    connectButtons();
    FormCreate();
    frmFindFTP = new TfrmFindFTP(m_platform.shell, this);
    frmOptions = new TfrmOptions(m_platform, settings(), AdImage1, frmFindFTP, this);
    HarmFade3->OnClick = [this](THarmFade*) { frmOptions->exec(); };
}

TMainForm::~TMainForm() {
    // Download windows are top-level windows: they go with their jobs, here and now.
    delete Downloads;
    for (const QPointer<TfrmDownloadFile>& window : std::as_const(DownloadWindows))
        delete window.data();
}

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
    panel_Submit = buildSubmitPage();
    panel_About = buildAboutPage();
    panel_Favorite = buildFavoritePage();
    panel_BannerClick = buildBannerClickPage();
    right->addWidget(PageArea, 1);

    auto* bannerStrip = new QWidget(central);
    bannerStrip->setObjectName(QStringLiteral("BannerStrip"));
    bannerStrip->setFixedHeight(kBannerHeight);
    buildBanner(bannerStrip);
    right->addWidget(bannerStrip);

    row->addLayout(right, 1);
    setCentralWidget(central);
}

QWidget* TMainForm::buildNavigationColumn() {
    auto* column = new QWidget(this);
    column->setObjectName(QStringLiteral("NavigationColumn"));
    column->setFixedWidth(kNavigationWidth);
    column->setAutoFillBackground(true);
    QPalette palette = column->palette();
    palette.setColor(QPalette::Window, kColumnColor);
    column->setPalette(palette);

    // The background behind the buttons and, below them, the picture that fills the column.
    auto* top = new QLabel(column);
    top->setObjectName(QStringLiteral("ColumnTop"));
    top->setPixmap(QPixmap::fromImage(programPicture(QStringLiteral("column-top"))));
    top->setGeometry(0, 0, kNavigationWidth, top->pixmap().height());
    auto* bottom = new QLabel(column);
    bottom->setObjectName(QStringLiteral("ColumnBottom"));
    bottom->setPixmap(QPixmap::fromImage(programPicture(QStringLiteral("column-bottom"))));
    bottom->setAlignment(Qt::AlignTop | Qt::AlignHCenter);

    auto button = [this, column](const char* name, const char* pic, const char* hint) {
        return makePictureButton(column, QString::fromLatin1(name), QString::fromLatin1(pic),
                                 QString::fromLatin1(hint));
    };
    HarmFade1 = button("HarmFade1", "search", "Search for MP3 files");
    HarmFade2 = button("HarmFade2", "favorites", "Record stores and favourite links");
    HarmFade3 = button("HarmFade3", "options", "Options");
    HarmFade5 = button("HarmFade5", "submit", "Submit a site to the search service");
    HarmFade4 = button("HarmFade4", "home", "Visit the Pellmar home page");
    HarmFade7 = button("HarmFade7", "friend", "Tell a friend about Pellmar");
    HarmFade6 = button("HarmFade6", "contact", "Contact us");
    HarmFade8 = button("HarmFade8", "help", "Help");
    HarmFade9 = button("HarmFade9", "about", "About Pellmar");
    NavigationButtons = {HarmFade1, HarmFade2, HarmFade3, HarmFade5, HarmFade4,
                         HarmFade7, HarmFade6, HarmFade8, HarmFade9};

    auto* stack = new QVBoxLayout(column);
    stack->setContentsMargins(2, 4, 3, 0);
    stack->setSpacing(0);
    for (THarmFade* nav : NavigationButtons) {
        nav->setFixedSize(100, 23);
        stack->addWidget(nav);
    }
    stack->addWidget(bottom, 1);
    return column;
}

void TMainForm::buildBanner(QWidget* strip) {
    AdImage1 = new TAdImage(m_platform.messages, strip);
    AdImage1->setObjectName(QStringLiteral("AdImage1"));
    AdImage1->setProgramID(107);
    AdImage1->setBandwidthThrottle(2147483647);
    AdImage1->setMinimumAdDisplayTime(0);
    AdImage1->setNetworkIsUp(true);
    AdImage1->setSize(ADS468x60);
    AdImage1->setOptions({});
    AdImage1->setAutoLoad(true);
    AdImage1->setCursor(Qt::PointingHandCursor);
    AdImage1->OnClick = [this](TAdImage*) { AdImage1Click(); };
    AdImage1->Loaded();
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

// A page of its own placed under the inner panel's title.
void TMainForm::placeOnInnerPanel(QWidget* content, const QSize& panelSize) {
    QFrame* inner = InnerPanels.back();
    inner->resize(panelSize);
    content->setParent(inner);
    content->setGeometry(8, 44, panelSize.width() - 16, panelSize.height() - 52);
}

QWidget* TMainForm::buildSubmitPage() {
    QWidget* page = buildInnerPage(QStringLiteral("panel_Submit"), QStringLiteral("Submit a Site"));
    TSubmitPage::Context context;
    context.settings = [this]() -> const SettingsFile& { return settings(); };
    context.homeUrl = [this] { return DataFile.HomeUrl; };
    SubmitPage = new TSubmitPage(m_platform.messages, context);
    placeOnInnerPanel(SubmitPage, QSize(500, 400));
    return page;
}

QWidget* TMainForm::buildFavoritePage() {
    QWidget* page = buildInnerPage(QStringLiteral("panel_Favorite"), QStringLiteral("Favorites"));
    FavoritePage = new TFavoritePage(m_platform.shell, m_platform.clipboard);
    placeOnInnerPanel(FavoritePage, QSize(520, 420));
    return page;
}

QWidget* TMainForm::buildBannerClickPage() {
    QWidget* page =
        buildInnerPage(QStringLiteral("panel_BannerClick"), QStringLiteral("Thank you!"));
    BannerClickPage = new TBannerClickPage(m_platform.shell, m_platform.clipboard);
    placeOnInnerPanel(BannerClickPage, QSize(420, 300));
    return page;
}

QWidget* TMainForm::buildAboutPage() {
    QWidget* page = buildInnerPage(QStringLiteral("panel_About"), QStringLiteral("Pellmar"));
    QFrame* inner = InnerPanels.back();
    Image1 = new QLabel(inner);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setPixmap(QPixmap::fromImage(programPicture(QStringLiteral("about-picture"))));
    Image1->setGeometry(15, 60, 390, 110);
    versionlabel = new QLabel(inner);
    versionlabel->setObjectName(QStringLiteral("versionlabel"));
    versionlabel->setGeometry(16, 185, 200, 20);
    AboutUrl = new TUrlLabel(m_platform.shell, m_platform.clipboard, inner);
    AboutUrl->setObjectName(QStringLiteral("AboutUrl"));
    AboutUrl->setGeometry(16, 215, 390, 20);
    return page;
}

void TMainForm::connectButtons() {
    HarmFade1->OnClick = [this](THarmFade*) { ShowPage(panel_Search, HarmFade1); };
    HarmFade2->OnClick = [this](THarmFade*) { ShowPage(panel_Favorite, HarmFade2); };
    HarmFade5->OnClick = [this](THarmFade*) { ShowPage(panel_Submit, HarmFade5); };
    HarmFade9->OnClick = [this](THarmFade*) { ShowPage(panel_About, HarmFade9); };
    HarmFade4->OnClick = [this](THarmFade*) { OpenWithShell(DataFile.HomeUrl); };
    HarmFade7->OnClick = [this](THarmFade*) {
        OpenWithShell(ProgramSession::TellAFriendLink(DataFile.HomeUrl));
    };
    HarmFade6->OnClick = [this](THarmFade*) { OpenWithShell(kContactUrl); };
    HarmFade8->OnClick = [this](THarmFade*) {
        OpenWithShell(ProgramFolder::file(QStringLiteral("help/index.htm")));
    };
    HarmFade15->OnClick = [this](THarmFade*) { frmGroupSelect->exec(); };
    HarmFade16->OnClick = [this](THarmFade*) { frmSearchFile->exec(); };
}

// ---- creation, show and close ----------------------------------------------------------

void TMainForm::FormCreate() {
    SearchStatus->clear();
    const QString folder = ProgramFolder::path();
    UpdateCheckStarted = false;
    SettingsFile_ = std::make_unique<SettingsFile>(QDir(folder).filePath(
        QFileInfo(ProgramFolder::executablePath()).completeBaseName() + QStringLiteral(".ini")));
    Session = std::make_unique<ProgramSession>(m_platform, *SettingsFile_, m_options.random);
    m_searchRun = std::make_unique<SearchRun>(*SettingsFile_, folder, m_platform);
    SearchPage->attach(*m_searchRun, m_platform.messages);
    Downloads = new DownloadQueue(*SettingsFile_, this);
    connect(Downloads, &DownloadQueue::jobCreated, this, &TMainForm::ShowDownloadWindow);
    SaveActions_ = std::make_unique<SaveActions>(*SettingsFile_, m_platform, *Downloads, folder,
                                                 [this] { close(); });
    SearchPage->attachSaves(*SaveActions_);
    try {
        LoadDataFile();
        Session->RecordInRegistry();
        ProgramFolderText = folder;
        Session->AskTellAFriend(DataFile.HomeUrl);
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
    AboutUrl->setURL(DataFile.HomeUrl);
    versionlabel->setText(QLatin1Char('v') + QLatin1String(kPellmarVersion));
    m_searchRun->setServiceUrls(SearchServiceUrls::fromDataFile(DataFile));
    if (!UpdateCheckStarted && m_options.startUpdateCheck) {
        UpdateCheckStarted = true;
        m_options.startUpdateCheck();
    }
}

void TMainForm::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!Shown) {
        Shown = true;
        FormShow();
    }
}

void TMainForm::FormShow() {
    Progressbar->resize(0, Progressbar->height());
    setWindowTitle(QStringLiteral("Pellmar"));
    RestorePlacement();
    ComboBox1->setFocus();
    FillSearchHistory();
    PassProxyToBanner();
    SubmitPage->clearFields();
    for (QCheckBox* box : {SearchHttpCheck, SearchFtpCheck, SearchSMBCheck})
        box->setEnabled(true);
    const SavedSources sources = Session->ReadSources();
    SearchHttpCheck->setChecked(sources.http);
    SearchFtpCheck->setChecked(sources.ftp);
    SearchSMBCheck->setChecked(sources.smb);
    ShowPage(panel_Search, HarmFade1);
    // Asked from the running event loop, so that a close while the question is open (a
    // termination signal) still ends the program.
    QTimer::singleShot(0, this, [this] {
        if (!isVisible())
            return; // closed before the question came up: the list stays for the next start
        TResumeListDialog resumeList(this);
        ResumeSmbDownloads(ProgramFolder::path(), resumeList, m_platform.shell,
                           m_platform.messages);
    });
}

void TMainForm::ShowDownloadWindow(DownloadJob* job) {
    auto* window = new TfrmDownloadFile(*job, m_platform.messages);
    connect(job, &QObject::destroyed, window, &QObject::deleteLater);
    DownloadWindows.removeAll(nullptr);
    DownloadWindows.append(window);
    window->show();
}

QList<TfrmDownloadFile*> TMainForm::downloadWindows() const {
    QList<TfrmDownloadFile*> windows;
    for (const QPointer<TfrmDownloadFile>& window : DownloadWindows) {
        if (window && window->job())
            windows.append(window.data());
    }
    return windows;
}

void TMainForm::RestorePlacement() {
    const WindowPlacement placement = Session->ReadPlacement();
    if (placement.maximized) {
        setWindowState(windowState() | Qt::WindowMaximized);
    } else {
        move(placement.left, placement.top);
        resize(placement.width, placement.height);
    }
    SearchPage->restoreColumns(settings());
}

// The banner started its library when it was loaded; it learns the proxy here and after
// the options dialog's OK.
void TMainForm::PassProxyToBanner() {
    const UserOptions::StartupProxy proxy = Session->BannerProxyAtStart();
    std::optional<QByteArray> host;
    if (proxy.host)
        host = Cp1252::fromUnicode(*proxy.host);
    AdImage1->SetProxy(host, proxy.port, QByteArray());
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
    return Session->MayClose(Downloads->ActiveDownloads().size());
}

void TMainForm::FormClose() {
    m_searchRun->AbortButtonClick();
    Session->RemoveTempFiles();
    SavePlacement();
    // Quitting stops the downloads as Cancel does, their partial files kept, and takes their
    // windows along: a download window left on the screen would keep the program running.
    Downloads->StopAll();
    for (const QPointer<TfrmDownloadFile>& window : std::as_const(DownloadWindows)) {
        if (window)
            window->hide();
    }
}

void TMainForm::SavePlacement() {
    Session->SaveOnClose(
        {SearchHttpCheck->isChecked(), SearchFtpCheck->isChecked(), SearchSMBCheck->isChecked()},
        {isMaximized(), x(), y(), width(), height()});
    SearchPage->saveColumns(settings());
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
    for (THarmFade* nav : NavigationButtons)
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
