#include "searchd/pages/Listings.h"

#include "platform/Cp1252.h"

#include <QHash>
#include <algorithm>

namespace Listings {

namespace {

const QString kTab = QStringLiteral("\t");

bool fitsCp1252(const QString& text) {
    return Cp1252::toUnicode(Cp1252::fromUnicode(text)) == text;
}

bool isListable(const QString& path, QStringView forbidden, PageCharset charset) {
    const bool breaks =
        std::any_of(path.cbegin(), path.cend(), [](QChar c) { return c.unicode() < 0x20; });
    return !breaks && !path.contains(forbidden) &&
           (charset == PageCharset::Utf8 || fitsCp1252(path));
}

QString folderOf(const QString& path) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : path.left(slash + 1);
}

QString nameOf(const QString& path) {
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

// Stable: files keep their order, grouped by site (in order of first appearance) and
// by folder within a site.
void group(QList<ListedFile>& files) {
    QHash<QString, int> siteRank;
    for (const ListedFile& file : files)
        siteRank.insert(file.site, siteRank.value(file.site, static_cast<int>(siteRank.size())));
    std::stable_sort(files.begin(), files.end(), [&](const ListedFile& a, const ListedFile& b) {
        const int left = siteRank.value(a.site), right = siteRank.value(b.site);
        return left != right ? left < right : folderOf(a.path) < folderOf(b.path);
    });
}

QList<ListedFile> onOneSite(const QString& site, const QString& prefix,
                            const QList<IndexedFile>& files) {
    QList<ListedFile> listed;
    for (const IndexedFile& file : files)
        listed.append({site, prefix + file.path, file.size});
    return listed;
}

QByteArray toListing(const QStringList& lines, PageCharset charset) {
    if (lines.isEmpty())
        return {};
    const QString text = lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n");
    return charset == PageCharset::Utf8 ? text.toUtf8() : Cp1252::fromUnicode(text);
}

} // namespace

QByteArray smb(const QString& host, const QString& share, const QList<IndexedFile>& files) {
    return smb(onOneSite(host, share + QLatin1Char('/'), files));
}

QByteArray ftp(const QString& site, const QList<IndexedFile>& files) {
    return ftp(onOneSite(site, QString(), files));
}

QByteArray smb(const QList<ListedFile>& files, PageCharset charset) {
    QList<ListedFile> sorted = files;
    group(sorted);
    QStringList lines;
    QString currentSite, currentFolder;
    for (const ListedFile& file : sorted) {
        if (!isListable(file.path, u"\\", charset) || !isListable(file.site, u"\\", charset))
            continue;
        const QString folder =
            QLatin1Char('\\') + folderOf(file.path).replace(QLatin1Char('/'), QLatin1Char('\\'));
        const QString entry = nameOf(file.path) + kTab + QString::number(file.size);
        if (lines.isEmpty() || file.site != currentSite)
            lines.append(file.site + kTab + folder + kTab + entry);
        else if (folder != currentFolder)
            lines.append(kTab + folder + kTab + entry);
        else
            lines.append(kTab + entry);
        currentSite = file.site;
        currentFolder = folder;
    }
    return toListing(lines, charset);
}

QByteArray ftp(const QList<ListedFile>& files, PageCharset charset) {
    QList<ListedFile> sorted = files;
    group(sorted);
    QStringList lines;
    QString currentSite, currentFolder;
    for (const ListedFile& file : sorted) {
        if (!isListable(file.path, u":", charset) || !isListable(file.site, u"\t", charset))
            continue;
        const QString folder = QLatin1Char('/') + folderOf(file.path);
        const QString entry = nameOf(file.path) + kTab + QString::number(file.size);
        if (lines.isEmpty() || folder != currentFolder || file.site != currentSite)
            lines.append(file.site + kTab + folder + kTab + entry);
        else
            lines.append(kTab + entry);
        currentSite = file.site;
        currentFolder = folder;
    }
    return toListing(lines, charset);
}

} // namespace Listings
