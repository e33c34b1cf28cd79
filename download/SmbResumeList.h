#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

class IMessageBoxes;
class IShell;

// One unfinished fetch of "download.dat": the remote file and the target handed to the SMB
// fetch program.
struct ResumeEntry {
    QString source;
    QString target;
    bool operator==(const ResumeEntry&) const = default;
};

// The one question about the whole list. The window shows a dialog with the targets
// (resume all, choose, forget all); tests answer from a script.
class IResumeChoice {
public:
    virtual ~IResumeChoice() = default;
    // The indexes of the entries to resume; the others are forgotten. Nothing when the
    // question was closed without an answer (or the program was told to end): the list
    // then stays as it is.
    virtual std::optional<QList<qsizetype>> choose(const QString& question,
                                                   const QStringList& targets) = 0;
};

// "download.dat" in the program folder lists the SMB fetch program's unfinished downloads,
// one "source<TAB>target" line each (UTF-8, CR LF).
namespace SmbResumeList {

// A real list is a few kilobytes; more is read no further.
constexpr qint64 kMostBytes = 1024 * 1024;
// No local path is longer; a longer line is not one of ours.
constexpr qsizetype kLongestLine = 8192;

// The entries of the file: lines that are not a UNC path and a target are dropped, and a
// line that stands more than once is taken once.
QList<ResumeEntry> Load(const QString& path);
// Writes the entries back; an empty list leaves an empty file.
void Save(const QString& path, const QList<ResumeEntry>& entries);
QString Question(const QList<ResumeEntry>& entries);

} // namespace SmbResumeList

// At start-up: one question about every unfinished fetch. The chosen ones stay in the list
// and are started again (a failure is reported), the others leave the list and their partial
// files go. The list is written back before any fetch starts, so that a fetch that finishes
// at once cannot have its removal undone.
void ResumeSmbDownloads(const QString& programFolder, IResumeChoice& choice, IShell& shell,
                        IMessageBoxes& messages);
