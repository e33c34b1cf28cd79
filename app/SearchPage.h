#pragma once

#include <QWidget>

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QMenu;
class QPushButton;
class QTreeWidget;
class SettingsFile;
class THarmFade;
class TSplitterBar;

// The search page of the main window: the search bar with its source check boxes, status
// and progress, the host and hit lists side by side, the buttons under the hit list and the
// lists' pop-up menus.
class TSearchPage : public QWidget {
    Q_OBJECT

public:
    explicit TSearchPage(QWidget* parent = nullptr);

    // Lays out the bar, the lists area (page width - 15, height - 90) and the sponsor line.
    void layoutPage();

    // Refuses a host list narrower than 130 pixels or leaving less than 230 pixels of the
    // window's client width.
    bool Splitter1CanResize(int newWidth) const;

    // Column widths of both lists and the host list's width, section "WinPos".
    void restoreColumns(const SettingsFile& ini);
    void saveColumns(SettingsFile& ini) const;

    // Search history of the search box, section "Searches".
    void fillSearchHistory(const SettingsFile& ini);
    void rememberSearch(SettingsFile& ini, const QString& text);

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
    QTreeWidget* HostListView = nullptr;
    QTreeWidget* SearchListview = nullptr;
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

    QWidget* m_searchBar = nullptr;
    QLabel* m_sponsorLabel = nullptr;
    int m_splitStartWidth = 0;
};
