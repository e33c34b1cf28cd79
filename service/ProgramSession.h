#pragma once

#include "core/UserOptions.h"

#include <QString>
#include <functional>
#include <random>

class SettingsFile;
struct Platform;

// Where the main window stands: maximized, or its left, top, width and height.
struct WindowPlacement {
    bool maximized = false;
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

// The three search sources the user ticked, as kept in the settings between runs.
struct SavedSources {
    bool http = true;
    bool ftp = true;
    bool smb = true;
};

// The rules of a run of the program that the main window follows at its start and close:
// the registry record, the one-in-twenty question, the placement and sources read at the
// first show and written at the close, the banner's proxy at start, the close question and
// the temp folder's clean-up. The window lays out what these say and forwards its gestures.
class ProgramSession {
public:
    // Random integers in [0, range); by default a generator seeded from the clock.
    using Random = std::function<int(int)>;

    // Notes at once whether a settings file of the fixed name "Pellmar.ini" is in the program
    // folder: only then may this start ask the tell-a-friend question.
    ProgramSession(Platform& platform, SettingsFile& ini, Random random = {});

    void RecordInRegistry() const;
    // One start in twenty, never the first: on Yes the mail link is opened.
    void AskTellAFriend(const QString& homeUrl);
    static QString TellAFriendLink(const QString& homeUrl);

    WindowPlacement ReadPlacement() const;
    SavedSources ReadSources() const;
    // What the banner is told at the first show; a mistyped port is said once and means no
    // proxy.
    UserOptions::StartupProxy BannerProxyAtStart() const;

    // Asks before a close while downloads are active; true when the window may close.
    bool MayClose(qsizetype activeDownloads) const;
    // The probes' temporary files of the program's temp folder.
    void RemoveTempFiles() const;
    // Writes the sources, "FirstTime" and the placement, in that order.
    void SaveOnClose(const SavedSources& sources, const WindowPlacement& placement);

private:
    Platform& m_platform;
    SettingsFile& m_ini;
    Random m_random;
    std::mt19937 m_generator;
    bool m_foundFixedIni = false;
};
