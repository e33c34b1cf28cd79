#pragma once

#include <QWidget>

class QCheckBox;
class IMessageBoxes;
class QComboBox;
class QFrame;
class QLabel;
class QMenu;
class QItemSelectionModel;
class QPushButton;
class QTreeView;
class SaveActions;
class SearchRun;
class SettingsFile;
class THarmFade;
class TSplitterBar;
struct SearchSources;

// The search page of the main window: the search bar with its source check boxes, status
// and progress, the host and hit lists side by side, the buttons under the hit list and the
// lists' pop-up menus. It shows a search run's lists and state and forwards the page's
// gestures to the run; the rules live in the run.
class TSearchPage : public QWidget {
    Q_OBJECT

public:
    explicit TSearchPage(QWidget* parent = nullptr);

    // Shows the run's lists, status, progress and count, and hands it the page's gestures.
    // An error that stops a search start goes to the general error box.
    void attach(SearchRun& run, IMessageBoxes& messages);
    // Hands the hit list's save gestures (double-click, "&Save", "Save &All Selected") to
    // the save actions, with the kind of hits shown, the selected rows and the run's stores.
    void attachSaves(SaveActions& saves);
    // The views over two lists with their selection and focused rows.
    void showLists(QItemSelectionModel& hosts, QItemSelectionModel& hits);
    // The check boxes under the search box.
    SearchSources sources() const;

    // Lays out the bar, the lists area (page width - 15, height - 90) and the sponsor line.
    void layoutPage();

    // Refuses a host list narrower than 130 pixels or leaving less than 230 pixels of the
    // window's client width.
    bool Splitter1CanResize(int newWidth) const;

    // Column widths of both lists and the host list's width, section "WinPos".
    void restoreColumns(const SettingsFile& ini);
    void saveColumns(SettingsFile& ini) const;

    // The search box's drop-down, newest first; the text being typed stays.
    void showHistory(const QStringList& entries);

    void selectAllHits();
    void invertHitSelection();

    QComboBox* ComboBox1 = nullptr;
    QPushButton* SearchButton = nullptr;
    QPushButton* AbortButton = nullptr;
    QCheckBox* SearchHttpCheck = nullptr;
    QCheckBox* SearchFtpCheck = nullptr;
    QCheckBox* SearchSMBCheck = nullptr;
    QCheckBox* OnlyLeechCheck = nullptr;
    QFrame* StatusBevel = nullptr;
    QFrame* Progressbar = nullptr;
    QLabel* SearchStatus = nullptr;
    QLabel* SearchFound = nullptr;
    QTreeView* HostListView = nullptr;
    QTreeView* SearchListview = nullptr;
    TSplitterBar* Splitter1 = nullptr;
    QWidget* ListsArea = nullptr;
    THarmFade* HarmFade14 = nullptr;
    THarmFade* HarmFade15 = nullptr;
    THarmFade* HarmFade16 = nullptr;
    THarmFade* HarmFade17 = nullptr;
    QMenu* SearchListMenu = nullptr;
    QMenu* HostListMenu = nullptr;

private:
    void buildSearchBar();
    void buildListsArea();
    void buildMenus();
    void dragSplitter(int totalDelta);
    void connectRun();
    void showSearching(bool searching);
    void startSearch();
    void saveSelectedHit();
    void saveAllSelectedHits();
    bool eventFilter(QObject* watched, QEvent* event) override;

    SearchRun* m_run = nullptr;
    IMessageBoxes* m_messages = nullptr;
    SaveActions* m_saves = nullptr;

    QWidget* m_searchBar = nullptr;
    QLabel* m_sponsorLabel = nullptr;
    int m_splitStartWidth = 0;
};
