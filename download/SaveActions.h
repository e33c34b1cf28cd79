#pragma once

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>
#include <functional>
#include <optional>

class DownloadQueue;
class SettingsFile;
struct Platform;

// Which kind of hit the hit list shows.
enum class HitKind { Http, Smb, Ftp };

// The hit stores of the current search: tab-separated records. HTTP records carry the URL
// in their second field; SMB and FTP records are host, folder, file and the rest.
struct HitStores {
    QList<QByteArray> http;
    QList<QByteArray> smb;
    QList<QByteArray> ftp;
};

// A selected row of the hit list: its index and caption.
struct SelectedHit {
    qsizetype row = 0;
    QByteArray caption;
};

// The user's save gestures on the hit list: HTTP hits become internal downloads (or go to
// Go!Zilla), SMB and FTP hits go to the outside programs, which replace a file only with a
// complete new one. A file that is there already is written over only when the user says so
// in a question about the very name the program will write; "Save All Selected" never writes
// over a file but takes the next free name ("a (2).mp3"). The save dialog starts in
// "InitialDir" and a confirmed choice moves "InitialDir" to the chosen folder. Errors (a
// "LimitNumber" that is not an integer, a target that cannot be created) are thrown to the
// caller's general error box.
class SaveActions {
public:
    SaveActions(SettingsFile& ini, Platform& platform, DownloadQueue& queue, QString programFolder,
                std::function<void()> closeProgram);

    // Double-click or "Save" on the selected row; nothing without one.
    void SearchListviewDblClick(HitKind view, const std::optional<SelectedHit>& selected,
                                const HitStores& stores);
    // "Save All Selected": rows first to last; SMB and FTP hits go into one chosen folder.
    void SaveAllSelectedClick(HitKind view, const QList<SelectedHit>& selected,
                              const HitStores& stores);
    // The last HTTP record containing name: to Go!Zilla, or a save dialog and a download.
    void SaveHttpHit(const QByteArray& name, const QList<QByteArray>& httpStore);

    // A chosen file that is there already and smaller than the hit may be the start of it:
    // the user is asked whether to resume it (Yes), replace it (No) or leave it (Cancel).
    // Any other file that is there already is replaced only when the user says so.
    static bool OffersResume(qint64 onDisk, qint64 hitSize);
    static QString ResumeQuestion(const QString& target, qint64 onDisk, qint64 hitSize);
    static QString ReplaceQuestion(const QString& target);

    static const QString kFilter;

private:
    std::optional<QString> AskTarget(const QString& proposal, bool callerAsks = false);
    // True when file is not there, or the user agrees to replace it.
    bool MayReplace(const QString& file);
    // Hands an SMB or FTP hit of "Save All Selected" over under a name not yet taken.
    void HandOverNew(HitKind view, const SelectedHit& hit, const HitStores& stores,
                     const QString& folder, QSet<QString>& taken);
    // What becomes of an HTTP target that is there already: nothing when the user says so.
    std::optional<bool> AskResume(const QString& target, qint64 hitSize);

    SettingsFile& m_ini;
    Platform& m_platform;
    DownloadQueue& m_queue;
    QString m_programFolder;
    std::function<void()> m_closeProgram;
};
