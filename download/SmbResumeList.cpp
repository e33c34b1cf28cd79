#include "download/SmbResumeList.h"

#include "download/ExternalHandoff.h"
#include "download/TargetNames.h"
#include "platform/MessageBoxes.h"
#include "platform/Shell.h"

#include <QFile>
#include <QSaveFile>
#include <QSet>

namespace SmbResumeList {

namespace {

// "\\host\share...": two backslashes, a host, a backslash and more.
bool IsUncPath(const QString& source) {
    if (!source.startsWith(QStringLiteral("\\\\")))
        return false;
    const qsizetype slash = source.indexOf(QLatin1Char('\\'), 2);
    return slash > 2 && slash + 1 < source.size();
}

std::optional<ResumeEntry> EntryOf(QByteArray line) {
    if (line.endsWith('\r'))
        line.chop(1);
    const qsizetype tab = line.indexOf('\t');
    if (tab < 0 || line.size() > kLongestLine)
        return std::nullopt;
    ResumeEntry entry{QString::fromUtf8(line.left(tab)), QString::fromUtf8(line.mid(tab + 1))};
    if (!IsUncPath(entry.source) || entry.target.isEmpty())
        return std::nullopt;
    return entry;
}

} // namespace

QList<ResumeEntry> Load(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<QByteArray> lines = file.read(kMostBytes).split('\n');
    if (!file.atEnd())
        lines.removeLast(); // cut off by the limit
    QList<ResumeEntry> entries;
    QSet<QString> seen; // a list of a megabyte may hold tens of thousands of lines
    for (const QByteArray& line : lines) {
        const std::optional<ResumeEntry> entry = EntryOf(line);
        if (!entry)
            continue;
        const QString key = entry->source + QLatin1Char('\t') + entry->target;
        if (!seen.contains(key)) {
            seen.insert(key);
            entries.append(*entry);
        }
    }
    return entries;
}

void Save(const QString& path, const QList<ResumeEntry>& entries) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return;
    for (const ResumeEntry& entry : entries)
        file.write(entry.source.toUtf8() + '\t' + entry.target.toUtf8() + "\r\n");
    file.commit();
}

QString Question(const QList<ResumeEntry>& entries) {
    if (entries.size() == 1)
        return QStringLiteral("Continue to download file: ") +
               ExternalHandoff::Quote(entries.first().target) + QLatin1Char('?');
    return QStringLiteral("Continue to download these %1 files?").arg(entries.size());
}

} // namespace SmbResumeList

void ResumeSmbDownloads(const QString& programFolder, IResumeChoice& choice, IShell& shell,
                        IMessageBoxes& messages) {
    using namespace SmbResumeList;
    const QString path = programFolder + QStringLiteral("/download.dat");
    const QList<ResumeEntry> entries = Load(path);
    QSet<qsizetype> chosen;
    if (!entries.isEmpty()) {
        QStringList targets;
        for (const ResumeEntry& entry : entries)
            targets.append(ExternalHandoff::Quote(entry.target));
        const std::optional<QList<qsizetype>> answer = choice.choose(Question(entries), targets);
        if (!answer)
            return;
        chosen = QSet<qsizetype>(answer->cbegin(), answer->cend());
    }
    QList<ResumeEntry> kept;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        if (chosen.contains(i))
            kept.append(entries.at(i));
        else // the fetch program's own partial file of a fetch given up
            QFile::remove(TargetNames::SmbFileName(entries.at(i).target) + QStringLiteral(".part"));
    }
    Save(path, kept);
    for (const ResumeEntry& entry : kept) {
        const ExternalHandoff::Launch launch =
            ExternalHandoff::SmbResume(entry.source, entry.target, programFolder);
        ExternalHandoff::StartWatched(shell, messages, launch,
                                      TargetNames::SmbFileName(entry.target));
    }
}
