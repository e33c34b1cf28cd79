#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class IClipboard;
class IMessageBoxes;
class IRegistry;
class IShell;
struct ProgramEnd;
class SettingsFile;
struct Platform;

// Handing hits to outside programs: Go!Zilla for HTTP hits, an FTP client for FTP hits and
// the SMB fetch program for SMB hits. The builders return exactly the argument vectors the
// programs get; they are started without a shell, because host, folder and file names come
// from the network. Hit stores are lists of tab-separated records (host, folder, file, ...).
namespace ExternalHandoff {

// What one start hands over.
struct Launch {
    QString program;
    QStringList args;
    QString clipboard; // empty: the clipboard is left alone
};

// Told whether a hand-off brought its file.
using HandoffEnded = std::function<void(bool saved)>;

extern const QString kGoZillaKey;
extern const QString kGoZillaQuestion;
extern const QString kGoZillaSite;
extern const QString kFtpClientFailed;

// Go!Zilla's executable as its registry value names it; empty when not found.
QString FindGoZilla(const IRegistry& registry);
// Starts Go!Zilla with the URL, or asks whether to get it; on Yes the site is opened and
// closeProgram runs.
void GoZillaHandoff(Platform& platform, const QByteArray& url,
                    const std::function<void()>& closeProgram);

// The SMB fetch program's start for record index of the store, saved as target: the UNC
// path of the remote file and the target without its ".mp3" extension.
std::optional<Launch> SmbFetch(const QList<QByteArray>& smbStore, qsizetype index,
                               const QString& target, const QString& programFolder);
// The same program resuming a recorded fetch.
Launch SmbResume(const QString& source, const QString& target, const QString& programFolder);
// Starts the fetch and reports in a box when it did not bring the file.
void FetchSmbHit(Platform& platform, const QList<QByteArray>& smbStore, qsizetype index,
                 const QString& target, const QString& programFolder,
                 const HandoffEnded& ended = {});

// The ftp URL of the first record that contains name and has a host record, a hit text
// (core/HitText.h); nothing when none qualifies.
std::optional<QByteArray> FtpHitUrl(const QList<QByteArray>& ftpStore, const QByteArray& name);
// The ftp URL of record index itself, its host from the nearest record at or above it that
// holds an "@"; nothing when there is none.
std::optional<QByteArray> FtpRecordUrl(const QList<QByteArray>& ftpStore, qsizetype index);
// The maker's client wants the target with exactly one ".mp3" at its end.
QString AdjustFtpTarget(const QString& target);
// The FTP client start: the user's client ("UseFtp", "FtpPath") with the URL alone, or the
// maker's client with the quoted URL on the clipboard and the URL and target as arguments.
std::optional<Launch> FtpFetch(const QList<QByteArray>& ftpStore, const QByteArray& name,
                               const QString& target, bool useFtp, const QString& ftpPath,
                               const QString& programFolder);
// The maker's client fetching record index itself into target.
std::optional<Launch> FtpFetchRecord(const QList<QByteArray>& ftpStore, qsizetype index,
                                     const QString& target, const QString& programFolder);
// Starts it and shows "Couldn´t execute FTP-client" when the start fails. The maker's client
// is watched, and a fetch that did not bring the file is reported in a box; the user's own
// client is an interactive program whose end says nothing about a file.
void FetchFtpHit(const SettingsFile& ini, Platform& platform, const QList<QByteArray>& ftpStore,
                 const QByteArray& name, const QString& target, const QString& programFolder,
                 const HandoffEnded& ended = {});

// Starts a fetch program and, once it has ended, tells ended and reports a failure in a box
// that names what was fetched and into which file.
void StartWatched(IShell& shell, IMessageBoxes& messages, const Launch& launch, const QString& file,
                  const HandoffEnded& ended = {});
// Shows a failed fetch in a box; failures that end while the box is open are shown together
// in one more box once it is closed.
void ReportFailure(IMessageBoxes& messages, const QString& text);
// One box's text for the failures: the failure itself, or a count and the first few.
constexpr qsizetype kMostFailuresShown = 5;
QString FailureSummary(const QStringList& failures);

// Messages quote at most this much of a name: a stored line may be megabytes long.
constexpr qsizetype kLongestQuote = 200;
// At most kLongestQuote characters of name, with "..." when cut.
QString Quote(const QString& name);
// The box text of a fetch into file that ended that way.
QString HandoffFailure(const Launch& launch, const QString& file, const ProgramEnd& end);

// Puts the launch's clipboard text (if any) on the clipboard, then starts the program.
bool Start(IClipboard& clipboard, IShell& shell, const Launch& launch);

} // namespace ExternalHandoff
