#include "platform/FolderDefaults.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QSaveFile>
#include <cstdio>

namespace FolderDefaults {

namespace {

const QString kRecord = QStringLiteral(".defaults");

// Relative path -> hash of the default it was last given.
using Record = QMap<QString, QByteArray>;

QByteArray hashOf(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&file);
    return hash.result().toHex();
}

Record readRecord(const QString& folder) {
    Record record;
    QFile file(QDir(folder).filePath(kRecord));
    if (!file.open(QIODevice::ReadOnly))
        return record;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const qsizetype blank = line.indexOf(' ');
        if (blank > 0)
            record.insert(QString::fromUtf8(line.mid(blank + 1)), line.left(blank));
    }
    return record;
}

bool writeRecord(const QString& folder, const Record& record) {
    QByteArray content;
    for (auto entry = record.begin(); entry != record.end(); ++entry)
        content += entry.value() + ' ' + entry.key().toUtf8() + '\n';
    QSaveFile file(QDir(folder).filePath(kRecord));
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size() &&
           file.commit();
}

// Copies beside the target and renames over it, so a failed copy leaves the old file.
// The copy is the user's: writable by them even when the installed file is not.
bool copyOver(const QString& from, const QString& to) {
    if (!QDir().mkpath(QFileInfo(to).absolutePath()))
        return false;
    const QString part = to + QStringLiteral(".part");
    QFile::remove(part);
    if (!QFile::copy(from, part))
        return false;
    QFile copy(part);
    copy.setPermissions(copy.permissions() | QFileDevice::WriteOwner | QFileDevice::ReadOwner);
    if (std::rename(QFile::encodeName(part).constData(), QFile::encodeName(to).constData()) != 0) {
        QFile::remove(part);
        return false;
    }
    return true;
}

} // namespace

QString fill(const QString& folder, const QStringList& sources) {
    if (!QDir().mkpath(QDir(folder).filePath(QStringLiteral("temp"))) ||
        !QFileInfo(folder).isWritable())
        return QStringLiteral("Pellmar cannot create or write its folder %1.").arg(folder);

    const Record before = readRecord(folder);
    Record record = before;
    QStringList failed;
    for (const QString& source : sources) {
        QDirIterator files(source, QDir::Files, QDirIterator::Subdirectories);
        while (files.hasNext()) {
            const QString from = files.next();
            const QString relative = QDir(source).relativeFilePath(from);
            const QString to = QDir(folder).filePath(relative);
            const QByteArray fresh = hashOf(from);
            if (QFileInfo::exists(to)) {
                const QByteArray current = hashOf(to);
                // Changed in the folder since it was given (or unreadable): the user's now.
                if (current.isEmpty() || (current != fresh && current != record.value(relative)))
                    continue;
                if (current == fresh) {
                    record.insert(relative, fresh);
                    continue;
                }
            }
            if (copyOver(from, to))
                record.insert(relative, fresh);
            else
                failed.append(relative);
        }
    }
    if (record != before && !writeRecord(folder, record))
        failed.append(kRecord);
    if (failed.isEmpty())
        return {};
    return QStringLiteral("Pellmar cannot copy %1 into its folder %2.")
        .arg(failed.join(QStringLiteral(", ")), folder);
}

} // namespace FolderDefaults
