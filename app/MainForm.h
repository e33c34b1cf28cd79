#pragma once

#include "app/frmDownloadFile.h"
#include "core/DataFileConfig.h"
#include "platform/Platform.h"
#include "platform/SettingsFile.h"

#include <QMainWindow>
#include <QPointer>
#include <QStringList>
#include <array>
#include <functional>
#include <memory>

class DownloadJob;
class DownloadQueue;
class SaveActions;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QMenu;
class QPushButton;
class QTreeView;
class QWidget;
class ProgramSession;
class SearchRun;
class TAdImage;
class THarmFade;
class TBannerClickPage;
class TFavoritePage;
class TSearchPage;
class TSubmitPage;
class TfrmFindFTP;
class TfrmGroupSelect;
class TfrmOptions;
class TfrmSearchFile;
class TSplitterBar;
class TUrlLabel;

// The main window: the navigation column, five overlapping pages, the search page with its
// lists and the banner strip. It lays them out and forwards to the logic: the search run,
// the download queue and the start and close rules of ProgramSession.
class TMainForm : public QMainWindow {
    Q_OBJECT

public:
    struct Options {
        // Random integers in [0, range); tests give a seeded one.
        std::function<int(int)> random;
        // Starts the once-per-run update check after the data file was read.
        std::function<void()> startUpdateCheck;
    };

    explicit TMainForm(Platform& platform, Options options = {}, QWidget* parent = nullptr);
    ~TMainForm() override;

    // Shared helpers of the window.
    void OpenWithShell(const QString& target);
    bool LaunchWithClipboard(const QString& program, const QString& argument,
                             const QString& suffix);
    void ShowPage(QWidget* page, QWidget* button);
    QString ReadSetting(const QString& section, const QString& key, const QString& defaultValue);
    void WriteSetting(const QString& section, const QString& key, const QString& value);

    // Reads the data file again, as after an update replaced it.
    void LoadDataFile();

    // Refuses a host list narrower than 130 pixels or leaving less than 230 of the client.
    bool Splitter1CanResize(int newWidth) const;
    void AdImage1Click();
    void FormResize();

    SettingsFile& settings() { return *SettingsFile_; }
    // The search: its requests, stores, lists, timers and history.
    SearchRun& searchRun() { return *m_searchRun; }
    const DataFileConfig& dataFile() const { return DataFile; }
    QString programFolder() const { return ProgramFolderText; }
    bool updateCheckStarted() const { return UpdateCheckStarted; }
    // The program's own downloads and the save actions of the hit list.
    DownloadQueue& downloads() { return *Downloads; }
    SaveActions& saveActions() { return *SaveActions_; }
    QList<TfrmDownloadFile*> downloadWindows() const;

    // Named widgets, reached by tests and by the classes that fill them.
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
    QLabel* versionlabel = nullptr;
    TUrlLabel* AboutUrl = nullptr;
    QLabel* Image1 = nullptr;
    TAdImage* AdImage1 = nullptr;
    QWidget* PageArea = nullptr;
    TSearchPage* SearchPage = nullptr; // panel_Search
    QWidget* panel_Search = nullptr;
    QWidget* panel_Submit = nullptr;
    TSubmitPage* SubmitPage = nullptr; // on panel_Submit
    QWidget* panel_About = nullptr;
    QWidget* panel_Favorite = nullptr;
    TFavoritePage* FavoritePage = nullptr; // on panel_Favorite
    QWidget* panel_BannerClick = nullptr;
    TBannerClickPage* BannerClickPage = nullptr; // on panel_BannerClick
    // Left column, top to bottom: 1, 2, 3, 5, 4, 7, 6, 8, 9.
    std::array<THarmFade*, 9> NavigationButtons{};
    THarmFade* HarmFade1 = nullptr;
    THarmFade* HarmFade2 = nullptr;
    THarmFade* HarmFade3 = nullptr;
    THarmFade* HarmFade4 = nullptr;
    THarmFade* HarmFade5 = nullptr;
    THarmFade* HarmFade6 = nullptr;
    THarmFade* HarmFade7 = nullptr;
    THarmFade* HarmFade8 = nullptr;
    THarmFade* HarmFade9 = nullptr;
    THarmFade* HarmFade14 = nullptr;
    THarmFade* HarmFade15 = nullptr;
    THarmFade* HarmFade16 = nullptr;
    THarmFade* HarmFade17 = nullptr;
    QMenu* SearchListMenu = nullptr;
    QMenu* HostListMenu = nullptr;
    // The dialogs of the buttons under the hit list, created once and shown modally.
    TfrmOptions* frmOptions = nullptr;
    TfrmFindFTP* frmFindFTP = nullptr;
    TfrmGroupSelect* frmGroupSelect = nullptr;
    TfrmSearchFile* frmSearchFile = nullptr;

    static const QString kContactUrl;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildWindow();
    QWidget* buildNavigationColumn();
    void buildBanner(QWidget* strip);
    void PassProxyToBanner();
    QWidget* buildSearchPage();
    QWidget* buildInnerPage(const QString& name, const QString& title);
    QWidget* buildAboutPage();
    QWidget* buildSubmitPage();
    QWidget* buildFavoritePage();
    QWidget* buildBannerClickPage();
    void placeOnInnerPanel(QWidget* content, const QSize& panelSize);
    void connectButtons();

    void FormCreate();
    void FormShow();
    bool FormCloseQuery();
    void FormClose();
    void ShowDownloadWindow(DownloadJob* job);
    void RestorePlacement();
    void SavePlacement();
    void FillSearchHistory();
    void BringToFront(QWidget* page);
    bool eventFilter(QObject* watched, QEvent* event) override;

    Platform& m_platform;
    Options m_options;
    std::unique_ptr<SettingsFile> SettingsFile_;
    std::unique_ptr<ProgramSession> Session; // the start and close rules
    std::unique_ptr<SearchRun> m_searchRun;
    DataFileConfig DataFile;
    QString ProgramFolderText;
    bool UpdateCheckStarted = false;
    bool Shown = false;
    DownloadQueue* Downloads = nullptr;
    std::unique_ptr<SaveActions> SaveActions_;
    QList<QPointer<TfrmDownloadFile>> DownloadWindows;
    QWidget* FrontPage = nullptr;
    QList<QFrame*> InnerPanels; // the centred panels of the About, Submit, ... pages
};
