#include "crawl/CrawlSources.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

namespace CrawlSources {

namespace {

// The folder a crawl starts in always ends in '/', so that "below it" is plain.
QUrl folderUrl(QUrl url) {
    QString path = url.path();
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    url.setPath(path);
    url.setHost(url.host().toLower());
    url.setScheme(url.scheme().toLower());
    return url;
}

bool fail(QString* problem, const QString& text) {
    *problem = text;
    return false;
}

bool othersMayRead(const QString& path) {
    return QFileInfo(path).permissions() & (QFile::ReadGroup | QFile::ReadOther);
}

// A password in a file that others on the machine may read is said, not refused: the
// sources are still crawled.
QStringList passwordWarnings(const QString& path, const QList<CrawlSource>& sources) {
    QStringList warnings;
    bool passwordInFile = false;
    for (const CrawlSource& source : sources) {
        passwordInFile = passwordInFile || !source.url.password().isEmpty();
        if (!source.credentialFile.isEmpty() && othersMayRead(source.credentialFile))
            warnings << QStringLiteral("others may read the credentials file %1 of %2 "
                                       "(chmod 600 %1)")
                            .arg(source.credentialFile, shown(source.url));
    }
    if (passwordInFile && othersMayRead(path))
        warnings << QStringLiteral("the sources file %1 holds a password and others may read "
                                   "it (chmod 600 %1)")
                        .arg(path);
    return warnings;
}

} // namespace

QString shown(const QUrl& url) {
    return url.toDisplayString(QUrl::RemoveUserInfo);
}

QString idFor(const QUrl& url) {
    return folderUrl(url).toString(QUrl::RemoveUserInfo | QUrl::FullyEncoded);
}

bool parseLine(const QString& line, CrawlSource* source, QString* problem) {
    const QStringList words = line.trimmed().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty())
        return fail(problem, QStringLiteral("empty source"));
    const QUrl url(words[0], QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    // Only the host is printed while the URL is not yet known to be sound.
    const QString what = url.isValid() && !url.host().isEmpty()
                             ? shown(url)
                             : QStringLiteral("\"%1\"").arg(words[0].section(QLatin1Char('@'), -1));
    if (!url.isValid() || url.host().isEmpty())
        return fail(problem, QStringLiteral("%1 is not a URL with a host").arg(what));
    static const QStringList schemes = {QStringLiteral("http"), QStringLiteral("https"),
                                        QStringLiteral("ftp"), QStringLiteral("smb")};
    if (!schemes.contains(scheme))
        return fail(problem,
                    QStringLiteral("%1: only http, https, ftp and smb are crawled").arg(what));
    if (url.hasQuery() || url.hasFragment())
        return fail(problem, QStringLiteral("%1: a folder URL has no query or fragment").arg(what));
    if (scheme == QLatin1String("smb") && !url.password().isEmpty())
        return fail(problem, QStringLiteral("%1: an smb password belongs in a credentials file "
                                            "(credentials=/path/file), not in the URL")
                                 .arg(what));
    if (scheme.startsWith(QLatin1String("http")) && !url.userInfo().isEmpty())
        return fail(problem, QStringLiteral("%1: http sources take no user name").arg(what));
    CrawlSource parsed;
    for (qsizetype i = 1; i < words.size(); ++i) {
        const QString& word = words[i];
        if (scheme == QLatin1String("smb") && word.startsWith(QLatin1String("credentials=")) &&
            word.size() > 12 && parsed.credentialFile.isEmpty()) {
            parsed.credentialFile = word.mid(12);
            continue;
        }
        return fail(problem, QStringLiteral("%1: unknown setting \"%2\"")
                                 .arg(what, word.section(QLatin1Char('='), 0, 0)));
    }
    if (scheme == QLatin1String("smb") &&
        url.path().split(QLatin1Char('/'), Qt::SkipEmptyParts).isEmpty())
        return fail(problem, QStringLiteral("%1: an smb source names a share").arg(what));
    parsed.url = folderUrl(url);
    parsed.id = idFor(url);
    *source = parsed;
    return true;
}

Loaded readFile(const QString& path) {
    Loaded loaded;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        loaded.problems
            << QStringLiteral("cannot read the sources file %1: %2").arg(path, file.errorString());
        return loaded;
    }
    int number = 0;
    while (!file.atEnd()) {
        ++number;
        const QString line = QString::fromUtf8(file.readLine(64 * 1024)).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        CrawlSource source;
        QString problem;
        if (parseLine(line, &source, &problem))
            loaded.sources << source;
        else
            loaded.problems
                << QStringLiteral("%1 line %2: %3").arg(path, QString::number(number), problem);
    }
    loaded.warnings = passwordWarnings(path, loaded.sources);
    return loaded;
}

QString submittedSite(const QString& kind, const QString& site) {
    QString text = site.trimmed();
    if (text.isEmpty() || text.contains(QLatin1Char(' ')))
        return QString();
    if (kind != QLatin1String("ftp") && kind != QLatin1String("http") &&
        kind != QLatin1String("smb"))
        return QString();
    if (text.contains(QLatin1String("://")))
        return text;
    if (kind == QLatin1String("smb"))
        return QStringLiteral("smb://") + QString(text)
                                              .replace(QLatin1Char('\\'), QLatin1Char('/'))
                                              .remove(QRegularExpression(QStringLiteral("^/+")));
    return kind + QStringLiteral("://") + text;
}

QList<CrawlSource> unique(const QList<CrawlSource>& sources, QStringList* problems) {
    QList<CrawlSource> kept;
    QSet<QString> seen;
    for (const CrawlSource& source : sources) {
        if (!seen.contains(source.id)) {
            seen.insert(source.id);
            kept << source;
        } else {
            *problems << QStringLiteral("%1 is named twice (a login does not make another "
                                        "source): the first is crawled")
                             .arg(shown(source.url));
        }
    }
    return kept;
}

} // namespace CrawlSources
