#include "searchd/fileservers/PrivateFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <unistd.h>

const QString PrivateFolder::kMarkName = QStringLiteral("service.pid");

namespace {

const QString kPrefix = QStringLiteral("pellmar-searchd-");

// A process's start time in clock ticks since boot, field 22 of /proc/PID/stat; it tells
// a process from a later one that got the same id.
QByteArray startTime(pid_t pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return {};
    const QByteArray text = stat.readAll();
    const qsizetype nameEnd = text.lastIndexOf(')'); // the name may hold blanks
    return nameEnd < 0 ? QByteArray() : text.mid(nameEnd + 2).split(' ').value(19);
}

QByteArray readMark(const QString& folder) {
    QFile mark(folder + QLatin1Char('/') + PrivateFolder::kMarkName);
    if (QFileInfo(mark.fileName()).isSymLink() || !mark.open(QIODevice::ReadOnly))
        return {};
    return mark.read(64);
}

// True for a folder a service made (its mark is well formed) whose service has ended.
bool isStale(const QString& folder) {
    static const QRegularExpression kMark(QStringLiteral("^(\\d+) (\\d+)\\n$"));
    const auto match = kMark.match(QString::fromLatin1(readMark(folder)));
    if (!match.hasMatch())
        return false;
    const pid_t pid = match.captured(1).toInt();
    return pid <= 0 || PrivateFolder::markFor(pid) != readMark(folder);
}

} // namespace

PrivateFolder::PrivateFolder(const QString& tempPath)
    : m_dir(tempPath + QLatin1Char('/') + kPrefix + QStringLiteral("XXXXXX")) {
    if (!m_dir.isValid())
        return;
    QSaveFile mark(m_dir.filePath(kMarkName));
    m_valid = mark.open(QIODevice::WriteOnly) && mark.write(markFor(getpid())) > 0 && mark.commit();
}

QByteArray PrivateFolder::markFor(pid_t pid) {
    const QByteArray start = startTime(pid);
    return start.isEmpty() ? QByteArray() : QByteArray::number(pid) + ' ' + start + '\n';
}

QStringList PrivateFolder::removeStale(const QString& tempPath) {
    static const QRegularExpression kName(QStringLiteral("^pellmar-searchd-[A-Za-z0-9]{6}$"));
    QStringList removed;
    const QDir temp(tempPath);
    for (const QString& name : temp.entryList(QDir::Dirs | QDir::NoSymLinks | QDir::Hidden)) {
        const QString folder = temp.filePath(name);
        if (!kName.match(name).hasMatch() || QFileInfo(folder).ownerId() != geteuid() ||
            !isStale(folder))
            continue;
        // removeRecursively() removes links, never what they lead to (the SMB share's
        // link to the library).
        if (QDir(folder).removeRecursively())
            removed.append(folder);
    }
    return removed;
}
