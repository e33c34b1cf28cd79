#include "app/SearchPage.h"

#include "app/PictureButton.h"
#include "controls/ColumnWidths.h"
#include "controls/HarmFade.h"
#include "controls/SplitterBar.h"
#include "platform/SettingsFile.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <array>

namespace {

const QString kWinPos = QStringLiteral("WinPos");
const QString kSearches = QStringLiteral("Searches");
constexpr int kMaxHistory = 11;

QTreeWidget* reportList(QWidget* parent, const QString& name, const QStringList& columns) {
    auto* list = new QTreeWidget(parent);
    list->setObjectName(name);
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setHeaderLabels(columns);
    list->setContextMenuPolicy(Qt::CustomContextMenu);
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

    HostListView =
        reportList(area, QStringLiteral("HostListView"),
                   {QStringLiteral("Host"), QStringLiteral("Files"), QStringLiteral("Rel.")});
    row->addWidget(HostListView);
    Splitter1 = new TSplitterBar(area);
    Splitter1->setObjectName(QStringLiteral("Splitter1"));
    row->addWidget(Splitter1);
    connect(Splitter1, &TSplitterBar::dragStarted, this,
            [this] { m_splitStartWidth = HostListView->width(); });
    connect(Splitter1, &TSplitterBar::dragged, this, [this](int delta) { dragSplitter(delta); });

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

void TSearchPage::fillSearchHistory(const SettingsFile& ini) {
    // The history never holds more than eleven entries; a damaged "Count" must not make
    // the start read the file a million times.
    const int count = std::min(ini.readInteger(kSearches, QStringLiteral("Count"), 0), kMaxHistory);
    for (int i = 0; i < count; ++i)
        ComboBox1->addItem(ini.readString(kSearches, QStringLiteral("Search%1").arg(i), QString()));
}

void TSearchPage::rememberSearch(SettingsFile& ini, const QString& text) {
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
    ini.writeInteger(kSearches, QStringLiteral("Count"), static_cast<int>(entries.size()));
    for (qsizetype i = 0; i < entries.size(); ++i)
        ini.writeString(kSearches, QStringLiteral("Search%1").arg(i), entries[i]);
}

void TSearchPage::selectAllHits() {
    if (SearchListview->topLevelItemCount() == 0)
        return;
    SearchListview->setFocus();
    SearchListview->selectAll();
}

void TSearchPage::invertHitSelection() {
    if (SearchListview->topLevelItemCount() == 0)
        return;
    SearchListview->setFocus();
    for (int i = 0; i < SearchListview->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = SearchListview->topLevelItem(i);
        item->setSelected(!item->isSelected());
    }
}
