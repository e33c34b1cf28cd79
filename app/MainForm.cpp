#include "app/MainForm.h"

#include "controls/AdImage.h"
#include "controls/HarmFade.h"
#include "controls/SplitterBar.h"
#include "controls/UrlLabel.h"
#include "core/UserOptions.h"
#include "platform/Cp1252.h"
#include "platform/Errors.h"
#include "platform/ProgramFolder.h"

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
#include <QTreeWidget>
#include <QVBoxLayout>
#include <cmath>

namespace {

const QString kOptions = QStringLiteral("Options");
const QString kWinPos = QStringLiteral("WinPos");
const QString kSearches = QStringLiteral("Searches");
constexpr int kNavigationWidth = 105;
constexpr int kBannerHeight = 60;
constexpr int kMaxHistory = 11;

constexpr QColor kColumnColor(0x14, 0x1E, 0x36); // the column pictures' own background

QImage picture(const QString& name) {
    return QImage(QStringLiteral(":/pictures/") + name + QStringLiteral(".png"));
}

QTreeWidget* reportList(QWidget* parent, const QString& name, const QStringList& columns) {
    auto* list = new QTreeWidget(parent);
    list->setObjectName(name);
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setHeaderLabels(columns);
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    return list;
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
    buildBanner(bannerStrip);
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
    ProgressTimer = timer(QStringLiteral("ProgressTimer"), 1000, false);
    SearchLimitTimer = timer(QStringLiteral("SearchLimitTimer"), 1000, false);
    AudioFindTimer = timer(QStringLiteral("AudioFindTimer"), 1000, false);
    Timer2 = timer(QStringLiteral("Timer2"), 1000, true);
    Timer1 = timer(QStringLiteral("Timer1"), 3000, true);
}

// A picture button that lights up while the pointer is over it.
THarmFade* TMainForm::pictureButton(QWidget* parent, const QString& name, const QString& pic,
                                    const QString& hint) {
    auto* button = new THarmFade(parent);
    button->setObjectName(name);
    button->setPicFrom(picture(pic));
    button->setPicTo(picture(pic + QStringLiteral("-lit")));
    button->setBlendRate(1);
    button->setToolTip(hint);
    button->setCursor(Qt::PointingHandCursor);
    button->OnMouseEnter = [](THarmFade* sender) { sender->FadeIn(); };
    button->OnMouseLeave = [](THarmFade* sender) { sender->FadeOut(); };
    return button;
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
    top->setPixmap(QPixmap::fromImage(picture(QStringLiteral("column-top"))));
    top->setGeometry(0, 0, kNavigationWidth, top->pixmap().height());
    auto* bottom = new QLabel(column);
    bottom->setObjectName(QStringLiteral("ColumnBottom"));
    bottom->setPixmap(QPixmap::fromImage(picture(QStringLiteral("column-bottom"))));
    bottom->setAlignment(Qt::AlignTop | Qt::AlignHCenter);

    auto button = [this, column](const char* name, const char* pic, const char* hint) {
        return pictureButton(column, QString::fromLatin1(name), QString::fromLatin1(pic),
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

QWidget* TMainForm::buildSearchPage() {
    auto* page = new QWidget(PageArea);
    page->setObjectName(QStringLiteral("panel_Search"));
    page->setAutoFillBackground(true);

    // The search bar: two rows that follow the page's width.
    auto* bar = new QWidget(page);
    bar->setObjectName(QStringLiteral("SearchBar"));
    SearchBar = bar;
    auto* rows = new QVBoxLayout(bar);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(4);
    auto* first = new QHBoxLayout;
    auto* second = new QHBoxLayout;
    rows->addLayout(first);
    rows->addLayout(second);

    ComboBox1 = new QComboBox(bar);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1->setEditable(true);
    ComboBox1->setInsertPolicy(QComboBox::NoInsert);
    ComboBox1->setMaxVisibleItems(11);
    ComboBox1->setMinimumWidth(120);
    first->addWidget(ComboBox1, 1);

    SearchButton = new QPushButton(QStringLiteral("Search"), bar);
    SearchButton->setObjectName(QStringLiteral("SearchButton"));
    SearchButton->setFixedWidth(75);
    AbortButton = new QPushButton(QStringLiteral("Abort"), bar);
    AbortButton->setObjectName(QStringLiteral("AbortButton"));
    AbortButton->setFixedWidth(75);
    AbortButton->hide();
    first->addWidget(SearchButton);
    first->addWidget(AbortButton);

    StatusBevel = new QFrame(bar);
    StatusBevel->setObjectName(QStringLiteral("StatusBevel"));
    StatusBevel->setFrameShape(QFrame::Panel);
    StatusBevel->setFrameShadow(QFrame::Sunken);
    StatusBevel->setFixedSize(277, 18);
    first->addWidget(StatusBevel);
    Progressbar = new QFrame(StatusBevel);
    Progressbar->setObjectName(QStringLiteral("Progressbar"));
    Progressbar->setAutoFillBackground(true);
    QPalette fill = Progressbar->palette();
    fill.setColor(QPalette::Window, QColor(0x30, 0x60, 0xC0));
    Progressbar->setPalette(fill);
    Progressbar->setGeometry(2, 2, 0, 14);

    auto check = [bar, second](const QString& name, const QString& caption) {
        auto* box = new QCheckBox(caption, bar);
        box->setObjectName(name);
        box->setChecked(true);
        second->addWidget(box);
        return box;
    };
    SearchHttpCheck = check(QStringLiteral("SearchHttpCheck"), QStringLiteral("HTTP"));
    SearchFtpCheck = check(QStringLiteral("SearchFtpCheck"), QStringLiteral("FTP"));
    SearchSMBCheck = check(QStringLiteral("SearchSMBCheck"), QStringLiteral("SMB"));
    OnlyLeechCheck = check(QStringLiteral("OnlyLeechCheck"), QStringLiteral("Only Leech Sites"));
    second->addSpacing(8);

    auto label = [bar, second](const QString& text, int stretch) {
        auto* l = new QLabel(text, bar);
        second->addWidget(l, stretch);
        return l;
    };
    label(QStringLiteral("Status:"), 0);
    SearchStatus = label(QString(), 1);
    SearchStatus->setObjectName(QStringLiteral("SearchStatus"));
    SearchStatus->setMinimumWidth(60);
    label(QStringLiteral("Files Found:"), 0);
    SearchFound = label(QString(), 0);
    SearchFound->setObjectName(QStringLiteral("SearchFound"));
    SearchFound->setMinimumWidth(36);

    ListsArea = buildListsArea();
    ListsArea->setParent(page);
    ListsArea->move(8, 64);

    SponsorLabel =
        new QLabel(QStringLiteral("Please support Pellmar by visiting our sponsor:"), page);
    SponsorLabel->setObjectName(QStringLiteral("SponsorLabel"));
    return page;
}

QWidget* TMainForm::buildListsArea() {
    auto* area = new QWidget;
    area->setObjectName(QStringLiteral("ListsArea"));
    auto* row = new QHBoxLayout(area);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);

    HostListView =
        reportList(area, QStringLiteral("HostListView"),
                   {QStringLiteral("Host"), QStringLiteral("Files"), QStringLiteral("Rel.")});
    row->addWidget(HostListView);
    Splitter1 = new TSplitterBar(area);
    Splitter1->setObjectName(QStringLiteral("Splitter1"));
    row->addWidget(Splitter1);

    auto* right = new QVBoxLayout;
    right->setSpacing(2);
    SearchListview = reportList(
        area, QStringLiteral("SearchListview"),
        {QStringLiteral("MP3 File"), QStringLiteral("Size"), QStringLiteral("File Info")});
    SearchListview->setSelectionMode(QAbstractItemView::ExtendedSelection);
    SearchListview->setSelectionBehavior(QAbstractItemView::SelectRows);
    SearchListview->headerItem()->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
    SearchListview->setSortingEnabled(true);
    SearchListview->sortByColumn(0, Qt::AscendingOrder);
    right->addWidget(SearchListview, 1);

    auto* bar = new QHBoxLayout;
    bar->setSpacing(2);
    auto barButton = [this, area, bar](const char* name, const char* pic, const char* hint) {
        THarmFade* button = pictureButton(area, QString::fromLatin1(name), QString::fromLatin1(pic),
                                          QString::fromLatin1(hint));
        button->setFixedSize(80, 23);
        bar->addWidget(button);
        return button;
    };
    HarmFade14 = barButton("HarmFade14", "selectall", "Select all files");
    HarmFade15 = barButton("HarmFade15", "group", "Select files by a pattern");
    HarmFade17 = barButton("HarmFade17", "invert", "Invert the selection");
    HarmFade16 = barButton("HarmFade16", "find", "Find a file in the list");
    bar->addStretch(1);
    right->addLayout(bar);
    row->addLayout(right, 1);

    SearchListMenu = new QMenu(this);
    SearchListMenu->setObjectName(QStringLiteral("SearchListMenu"));
    SearchListMenu->addAction(QStringLiteral("&Save"))->setObjectName(QStringLiteral("Save1"));
    SearchListMenu->addAction(QStringLiteral("Save &All Selected"))
        ->setObjectName(QStringLiteral("SaveAllSelected1"));
    SearchListMenu->addSeparator();
    SearchListMenu->addAction(QStringLiteral("&Copy Path To Clipboard"))
        ->setObjectName(QStringLiteral("CopyPathToClipboard1"));
    HostListMenu = new QMenu(this);
    HostListMenu->setObjectName(QStringLiteral("HostListMenu"));
    HostListMenu->addAction(QStringLiteral("&Copy To Clipboard"))
        ->setObjectName(QStringLiteral("CopyFTPPath"));
    connect(SearchListview, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        SearchListMenu->popup(SearchListview->viewport()->mapToGlobal(at));
    });
    connect(HostListView, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        HostListMenu->popup(HostListView->viewport()->mapToGlobal(at));
    });
    return area;
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
    Image1 = new QLabel(inner);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setPixmap(QPixmap::fromImage(picture(QStringLiteral("about-picture"))));
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
    HarmFade7->OnClick = [this](THarmFade*) { OpenWithShell(tellAFriendLink(DataFile.HomeUrl)); };
    HarmFade6->OnClick = [this](THarmFade*) { OpenWithShell(kContactUrl); };
    HarmFade8->OnClick = [this](THarmFade*) {
        OpenWithShell(ProgramFolder::file(QStringLiteral("help/index.htm")));
    };
    HarmFade14->OnClick = [this](THarmFade*) { SelectAllHits(); };
    HarmFade17->OnClick = [this](THarmFade*) { InvertHitSelection(); };
    connect(Splitter1, &TSplitterBar::dragStarted, this,
            [this] { SplitStartWidth = HostListView->width(); });
    connect(Splitter1, &TSplitterBar::dragged, this, [this](int delta) { DragSplitter(delta); });
}

// ---- creation, show and close ----------------------------------------------------------

void TMainForm::FormCreate() {
    SearchStatus->clear();
    const QString folder = ProgramFolder::path();
    FoundFixedIni = QFile::exists(folder + QStringLiteral("/Pellmar.ini"));
    UpdateCheckStarted = false;
    SettingsFile_ = std::make_unique<SettingsFile>(QDir(folder).filePath(
        QFileInfo(ProgramFolder::executablePath()).completeBaseName() + QStringLiteral(".ini")));
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
    versionlabel->setText(QStringLiteral("v3.2"));
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
    PassProxyToBanner();
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
    const std::array<int, 3> hitDefaults = {250, 80, 200};
    const std::array<int, 3> hostDefaults = {120, 35, 35};
    for (int i = 0; i < 3; ++i) {
        SearchListview->setColumnWidth(
            i, ini.readInteger(kWinPos, QStringLiteral("Col%1").arg(i + 1), hitDefaults[i]));
        HostListView->setColumnWidth(
            i, ini.readInteger(kWinPos, QStringLiteral("Col%1").arg(i + 4), hostDefaults[i]));
    }
    HostListView->setFixedWidth(
        std::max(0, ini.readInteger(kWinPos, QStringLiteral("HostWidth"), 200)));
}

// The banner started its library when it was loaded; it learns the proxy here and after
// the options dialog's OK.
void TMainForm::PassProxyToBanner() {
    const UserOptions::BannerProxy proxy = UserOptions::ProxyForBanner(settings());
    std::optional<QByteArray> host;
    if (UserOptions::ProxyChecked(settings()))
        host = Cp1252::fromUnicode(proxy.host);
    AdImage1->SetProxy(host, proxy.port, QByteArray());
}

void TMainForm::FillSearchHistory() {
    // The history never holds more than eleven entries; a damaged "Count" must not make
    // the start read the file a million times.
    const int count =
        std::min(settings().readInteger(kSearches, QStringLiteral("Count"), 0), kMaxHistory);
    for (int i = 0; i < count; ++i)
        ComboBox1->addItem(
            settings().readString(kSearches, QStringLiteral("Search%1").arg(i), QString()));
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
    AbortSearch();
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
    for (int i = 0; i < 3; ++i) {
        ini.writeInteger(kWinPos, QStringLiteral("Col%1").arg(i + 1),
                         SearchListview->columnWidth(i));
        ini.writeInteger(kWinPos, QStringLiteral("Col%1").arg(i + 4), HostListView->columnWidth(i));
    }
    ini.writeInteger(kWinPos, QStringLiteral("HostWidth"), HostListView->width());
}

void TMainForm::AbortSearch() {
    // The search run adds the cancelling of its requests here; the window's part is to
    // come back to rest and leave no temporary files behind.
    Progressbar->resize(0, Progressbar->height());
    SearchLimitTimer->stop();
    ProgressTimer->stop();
    SearchButton->show();
    AbortButton->hide();
    for (QCheckBox* box : {SearchHttpCheck, SearchFtpCheck, SearchSMBCheck, OnlyLeechCheck})
        box->setEnabled(true);
    RemoveTempFiles({});
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
    SearchBar->setGeometry(8, 6, std::max(0, panel_Search->width() - 15), 52);
    ListsArea->resize(std::max(0, panel_Search->width() - 15),
                      std::max(0, panel_Search->height() - 90));
    SponsorLabel->setGeometry(8, ListsArea->geometry().bottom() + 4, 400, 20);
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
    return newWidth >= 130 && newWidth <= width() - 230;
}

void TMainForm::DragSplitter(int totalDelta) {
    const int newWidth = SplitStartWidth + totalDelta;
    if (Splitter1CanResize(newWidth))
        HostListView->setFixedWidth(newWidth);
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

void TMainForm::RememberSearch(const QString& text) {
    if (text.isEmpty())
        return;
    QStringList entries;
    for (int i = 0; i < ComboBox1->count(); ++i)
        entries.append(ComboBox1->itemText(i));
    bool known = false;
    for (const QString& entry : entries)
        known = known || entry.toLower() == text.toLower();
    if (!known) {
        if (entries.isEmpty()) {
            entries.append(text);
        } else {
            if (entries.size() < kMaxHistory)
                entries.append(QString());
            for (qsizetype i = entries.size() - 1; i > 0; --i)
                entries[i] = entries[i - 1];
            entries[0] = text;
        }
        const QString current = ComboBox1->currentText();
        ComboBox1->clear();
        ComboBox1->addItems(entries);
        ComboBox1->setEditText(current);
    }
    settings().writeInteger(kSearches, QStringLiteral("Count"), static_cast<int>(entries.size()));
    for (qsizetype i = 0; i < entries.size(); ++i)
        settings().writeString(kSearches, QStringLiteral("Search%1").arg(i), entries[i]);
}

void TMainForm::SelectAllHits() {
    if (SearchListview->topLevelItemCount() == 0)
        return;
    SearchListview->setFocus();
    SearchListview->selectAll();
}

void TMainForm::InvertHitSelection() {
    if (SearchListview->topLevelItemCount() == 0)
        return;
    SearchListview->setFocus();
    for (int i = 0; i < SearchListview->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = SearchListview->topLevelItem(i);
        item->setSelected(!item->isSelected());
    }
}
