#include "searchd/Listings.h"

#include "platform/Cp1252.h"

#include <algorithm>

namespace Listings {

namespace {

const QString kTab = QStringLiteral("\t");

bool fitsCp1252(const QString& text) {
    return Cp1252::toUnicode(Cp1252::fromUnicode(text)) == text;
}

bool isListable(const QString& path, QStringView forbidden) {
    const bool breaks =
        std::any_of(path.cbegin(), path.cend(), [](QChar c) { return c.unicode() < 0x20; });
    return !breaks && !path.contains(forbidden) && fitsCp1252(path);
}

QString folderOf(const QString& path) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : path.left(slash + 1);
}

QString nameOf(const QString& path) {
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

void sortByPath(QList<IndexedFile>& files) {
    std::stable_sort(files.begin(), files.end(), [](const IndexedFile& a, const IndexedFile& b) {
        return folderOf(a.path) < folderOf(b.path);
    });
}

QByteArray toListing(const QStringList& lines) {
    return lines.isEmpty()
               ? QByteArray()
               : Cp1252::fromUnicode(lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n"));
}

} // namespace

QByteArray smb(const QString& host, const QString& share, QList<IndexedFile> files) {
    sortByPath(files);
    QStringList lines;
    QString currentFolder;
    for (const IndexedFile& file : files) {
        if (!isListable(file.path, u"\\"))
            continue;
        const QString folder = QLatin1Char('\\') + share + QLatin1Char('\\') +
                               folderOf(file.path).replace(QLatin1Char('/'), QLatin1Char('\\'));
        const QString entry = nameOf(file.path) + kTab + QString::number(file.size);
        if (lines.isEmpty())
            lines.append(host + kTab + folder + kTab + entry);
        else if (folder != currentFolder)
            lines.append(kTab + folder + kTab + entry);
        else
            lines.append(kTab + entry);
        currentFolder = folder;
    }
    return toListing(lines);
}

QByteArray ftp(const QString& site, QList<IndexedFile> files) {
    sortByPath(files);
    QStringList lines;
    QString currentFolder;
    for (const IndexedFile& file : files) {
        if (!isListable(file.path, u":"))
            continue;
        const QString folder = QLatin1Char('/') + folderOf(file.path);
        const QString entry = nameOf(file.path) + kTab + QString::number(file.size);
        if (lines.isEmpty() || folder != currentFolder)
            lines.append(site + kTab + folder + kTab + entry);
        else
            lines.append(kTab + entry);
        currentFolder = folder;
    }
    return toListing(lines);
}

} // namespace Listings
