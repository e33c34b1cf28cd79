#include "app/SearchPage.h"

#include "app/ImageListDelegate.h"
#include "app/ListPictures.h"
#include "app/PictureButton.h"
#include "controls/ColumnWidths.h"
#include "controls/HarmFade.h"
#include "controls/SplitterBar.h"
#include "download/SaveActions.h"
#include "platform/Errors.h"
#include "platform/MessageBoxes.h"
#include "platform/SettingsFile.h"
#include "search/SearchRun.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>
#include <array>

namespace {

const QString kWinPos = QStringLiteral("WinPos");

// A report-style list: rows of columns with a picture in the first, no tree.
QTreeView* reportList(QWidget* parent, const QString& name, QList<QIcon> images,
                      QList<int> rightAligned = {}) {
    auto* list = new QTreeView(parent);
    list->setObjectName(name);
    list->setRootIsDecorated(false);
    list->setItemsExpandable(false);
    list->setUniformRowHeights(true);
    list->setAllColumnsShowFocus(true);
    list->setIconSize(QSize(16, 16));
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    // The image index role is the same number on both list models.
    list->setItemDelegate(new TImageListDelegate(std::move(images), HitListModel::ImageIndexRole,
                                                 std::move(rightAligned), list));
    return list;
}

} // namespace

TSearchPage::TSearchPage(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("panel_Search"));
    setAutoFillBackground(true);
    buildSearchBar();
    buildListsArea();
    buildMenus();
    m_sponsorLabel =
        new QLabel(QStringLiteral("Please support Pellmar by visiting our sponsor:"), this);
    m_sponsorLabel->setObjectName(QStringLiteral("SponsorLabel"));
}

// The search bar: two rows that follow the page's width.
void TSearchPage::buildSearchBar() {
    auto* bar = new QWidget(this);
    bar->setObjectName(QStringLiteral("SearchBar"));
    m_searchBar = bar;
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
}

void TSearchPage::buildListsArea() {
    auto* area = new QWidget(this);
    area->setObjectName(QStringLiteral("ListsArea"));
    area->move(8, 64);
    ListsArea = area;
    auto* row = new QHBoxLayout(area);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);

    HostListView = reportList(area, QStringLiteral("HostListView"), ListPictures::hostImages());
    HostListView->setSelectionMode(QAbstractItemView::SingleSelection);
    row->addWidget(HostListView);
    Splitter1 = new TSplitterBar(area);
    Splitter1->setObjectName(QStringLiteral("Splitter1"));
    row->addWidget(Splitter1);
    connect(Splitter1, &TSplitterBar::dragStarted, this,
            [this] { m_splitStartWidth = HostListView->width(); });
    connect(Splitter1, &TSplitterBar::dragged, this, [this](int delta) { dragSplitter(delta); });

    auto* right = new QVBoxLayout;
    right->setSpacing(2);
    SearchListview = reportList(area, QStringLiteral("SearchListview"), ListPictures::hitImages(),
                                {HitListModel::SizeColumn});
    SearchListview->setSelectionMode(QAbstractItemView::ExtendedSelection);
    SearchListview->setSelectionBehavior(QAbstractItemView::SelectRows);
    right->addWidget(SearchListview, 1);

    auto* bar = new QHBoxLayout;
    bar->setSpacing(2);
    auto barButton = [area, bar](const char* name, const char* picture, const char* hint) {
        THarmFade* button =
            makePictureButton(area, QString::fromLatin1(name), QString::fromLatin1(picture),
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
    HarmFade14->OnClick = [this](THarmFade*) { selectAllHits(); };
    HarmFade17->OnClick = [this](THarmFade*) { invertHitSelection(); };
}

void TSearchPage::buildMenus() {
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
}

void TSearchPage::layoutPage() {
    m_searchBar->setGeometry(8, 6, std::max(0, width() - 15), 52);
    ListsArea->resize(std::max(0, width() - 15), std::max(0, height() - 90));
    m_sponsorLabel->setGeometry(8, ListsArea->geometry().bottom() + 4, 400, 20);
}

bool TSearchPage::Splitter1CanResize(int newWidth) const {
    return newWidth >= 130 && newWidth <= window()->width() - 230;
}

void TSearchPage::dragSplitter(int totalDelta) {
    const int newWidth = m_splitStartWidth + totalDelta;
    if (Splitter1CanResize(newWidth))
        HostListView->setFixedWidth(newWidth);
}

void TSearchPage::restoreColumns(const SettingsFile& ini) {
    const std::array<int, 6> defaults = {250, 80, 200, 120, 35, 35};
    QList<int> widths;
    for (int i = 0; i < 6; ++i)
        widths.append(ini.readInteger(kWinPos, QStringLiteral("Col%1").arg(i + 1), defaults[i]));
    ColumnWidths::set(SearchListview->header(), widths.mid(0, 3));
    ColumnWidths::set(HostListView->header(), widths.mid(3, 3));
    HostListView->setFixedWidth(
        std::max(0, ini.readInteger(kWinPos, QStringLiteral("HostWidth"), 200)));
}

void TSearchPage::saveColumns(SettingsFile& ini) const {
    const QList<int> widths =
        ColumnWidths::get(SearchListview->header()) + ColumnWidths::get(HostListView->header());
    for (int i = 0; i < 6; ++i)
        ini.writeInteger(kWinPos, QStringLiteral("Col%1").arg(i + 1), widths.value(i));
    ini.writeInteger(kWinPos, QStringLiteral("HostWidth"), HostListView->width());
}

void TSearchPage::showHistory(const QStringList& entries) {
    const QString typed = ComboBox1->currentText();
    ComboBox1->clear();
    ComboBox1->addItems(entries);
    ComboBox1->setEditText(typed);
}

void TSearchPage::selectAllHits() {
    QItemSelectionModel* selection = SearchListview->selectionModel();
    if (!selection || selection->model()->rowCount() == 0)
        return;
    SearchListview->setFocus();
    SearchListview->selectAll();
}

void TSearchPage::invertHitSelection() {
    QItemSelectionModel* selection = SearchListview->selectionModel();
    if (!selection || selection->model()->rowCount() == 0)
        return;
    SearchListview->setFocus();
    const QAbstractItemModel* model = selection->model();
    const QItemSelection everyRow(model->index(0, 0),
                                  model->index(model->rowCount() - 1, model->columnCount() - 1));
    selection->select(everyRow, QItemSelectionModel::Toggle | QItemSelectionModel::Rows);
}

void TSearchPage::showLists(QItemSelectionModel& hosts, QItemSelectionModel& hits) {
    HostListView->setModel(hosts.model());
    HostListView->setSelectionModel(&hosts);
    SearchListview->setModel(hits.model());
    SearchListview->setSelectionModel(&hits);
}

SearchSources TSearchPage::sources() const {
    SearchSources sources;
    sources.http = SearchHttpCheck->isChecked();
    sources.ftp = SearchFtpCheck->isChecked();
    sources.smb = SearchSMBCheck->isChecked();
    sources.onlyLeech = OnlyLeechCheck->isChecked();
    return sources;
}

void TSearchPage::attach(SearchRun& run, IMessageBoxes& messages) {
    m_run = &run;
    m_messages = &messages;
    showLists(run.hostSelection(), run.hitSelection());
    connectRun();
}

void TSearchPage::connectRun() {
    SearchRun* run = m_run;
    connect(run, &SearchRun::statusChanged, SearchStatus, &QLabel::setText);
    connect(run, &SearchRun::searchingChanged, this, &TSearchPage::showSearching);
    connect(run, &SearchRun::progressChanged, this,
            [this](int width) { Progressbar->resize(width, Progressbar->height()); });
    connect(run, &SearchRun::foundChanged, this,
            [this](int count) { SearchFound->setText(QString::number(count)); });
    connect(run, &SearchRun::historyChanged, this, &TSearchPage::showHistory);
    connect(run, &SearchRun::hostListFocusRequested, this, [this] { HostListView->setFocus(); });

    connect(SearchButton, &QPushButton::clicked, this, &TSearchPage::startSearch);
    connect(AbortButton, &QPushButton::clicked, run, &SearchRun::AbortButtonClick);
    connect(HostListView, &QAbstractItemView::clicked, run, &SearchRun::HostListViewClick);
    connect(SearchListMenu->findChild<QAction*>(QStringLiteral("CopyPathToClipboard1")),
            &QAction::triggered, run, &SearchRun::CopyPathToClipboard1Click);
    connect(HostListMenu->findChild<QAction*>(QStringLiteral("CopyFTPPath")), &QAction::triggered,
            run, &SearchRun::CopyFTPPathClick);
    ComboBox1->installEventFilter(this);
    ComboBox1->lineEdit()->installEventFilter(this);
}

namespace {

HitKind shownKind(const SearchRun& run) {
    switch (run.hostView()) {
    case HostView::Smb:
        return HitKind::Smb;
    case HostView::Ftp:
        return HitKind::Ftp;
    case HostView::Http:
        break;
    }
    return HitKind::Http;
}

HitStores storesOf(const SearchRun& run) {
    return {run.HttpHitStore(), run.SmbHitStore(), run.FtpHitStore()};
}

// The selected rows of the hit list, first to last, with their captions.
QList<SelectedHit> selectedHits(const QTreeView& view, const HitListModel& hits) {
    QList<int> rows;
    for (const QModelIndex& index : view.selectionModel()->selectedRows())
        rows.append(index.row());
    std::sort(rows.begin(), rows.end());
    QList<SelectedHit> selected;
    for (int row : rows)
        selected.append({row, hits.hit(row).caption});
    return selected;
}

} // namespace

void TSearchPage::attachSaves(SaveActions& saves) {
    m_saves = &saves;
    connect(SearchListview, &QAbstractItemView::doubleClicked, this, &TSearchPage::saveSelectedHit);
    connect(SearchListMenu->findChild<QAction*>(QStringLiteral("Save1")), &QAction::triggered, this,
            &TSearchPage::saveSelectedHit);
    connect(SearchListMenu->findChild<QAction*>(QStringLiteral("SaveAllSelected1")),
            &QAction::triggered, this, &TSearchPage::saveAllSelectedHits);
}

// The selected row is the first selected one, as the list control reports it.
void TSearchPage::saveSelectedHit() {
    if (!m_run || !m_saves)
        return;
    const QList<SelectedHit> selected = selectedHits(*SearchListview, m_run->hitList());
    try {
        m_saves->SearchListviewDblClick(
            shownKind(*m_run), selected.isEmpty() ? std::nullopt : std::optional(selected.first()),
            storesOf(*m_run));
    } catch (const PellmarError& error) {
        showGeneralError(*m_messages, error.message());
    }
}

void TSearchPage::saveAllSelectedHits() {
    if (!m_run || !m_saves)
        return;
    try {
        m_saves->SaveAllSelectedClick(
            shownKind(*m_run), selectedHits(*SearchListview, m_run->hitList()), storesOf(*m_run));
    } catch (const PellmarError& error) {
        showGeneralError(*m_messages, error.message());
    }
}

// The abort button shows and the source check boxes are locked while a search runs.
void TSearchPage::showSearching(bool searching) {
    SearchButton->setVisible(!searching);
    AbortButton->setVisible(searching);
    for (QCheckBox* box : {SearchHttpCheck, SearchFtpCheck, SearchSMBCheck, OnlyLeechCheck})
        box->setEnabled(!searching);
}

void TSearchPage::startSearch() {
    m_run->setProgressSpace(StatusBevel->width() - 7);
    try {
        m_run->SearchButtonClick(ComboBox1->currentText(), sources());
    } catch (const PellmarError& error) {
        showGeneralError(*m_messages, error.message());
    }
}

// Enter in the search box starts a search, aborting a running one first.
bool TSearchPage::eventFilter(QObject* watched, QEvent* event) {
    if (m_run && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            m_run->setProgressSpace(StatusBevel->width() - 7);
            try {
                if (m_run->ComboBox1KeyPress(QLatin1Char('\r'), ComboBox1->currentText(),
                                             sources()))
                    return true;
            } catch (const PellmarError& error) {
                showGeneralError(*m_messages, error.message());
                return true;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}
