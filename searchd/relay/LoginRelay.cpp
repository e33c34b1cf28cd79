#include "searchd/relay/LoginRelay.h"

#include "searchd/index/ServiceIndex.h"
#include "searchd/relay/FtpRelayedFile.h"
#include "searchd/relay/SmbRelayedFile.h"

#include <QCryptographicHash>

namespace {

QByteArray keyFor(const QString& sourceId) {
    return QCryptographicHash::hash(sourceId.toUtf8(), QCryptographicHash::Sha256).toHex().left(16);
}

QString folderOf(const QString& path) {
    const qsizetype slash = path.lastIndexOf(u'/');
    return slash < 0 ? QString() : path.left(slash);
}

LoginRelay::Opened failed(int status, const QString& problem) {
    LoginRelay::Opened opened;
    opened.status = status;
    opened.problem = problem;
    return opened;
}

} // namespace

LoginRelay::LoginRelay(const QList<CrawlSource>& sources, ServiceIndex& index) : m_index(index) {
    for (const CrawlSource& source : sources) {
        if (!needsLogin(source))
            continue;
        const QByteArray key = keyFor(source.id);
        m_keys.insert(source.id, key);
        m_byKey.insert(key, source);
    }
}

bool LoginRelay::needsLogin(const CrawlSource& source) {
    const QString scheme = source.url.scheme().toLower();
    if (scheme == u"smb")
        return !source.credentialFile.isEmpty();
    if (scheme != u"ftp")
        return false;
    const QString user = source.url.userName().toLower();
    return !source.url.password().isEmpty() ||
           (!user.isEmpty() && user != u"anonymous" && user != u"ftp");
}

LoginRelay::Opened LoginRelay::open(const QByteArray& key, const QString& path) const {
    const auto found = m_byKey.constFind(key);
    if (found == m_byKey.cend())
        return failed(404, QStringLiteral("No such file"));
    const CrawlSource& source = *found;
    bool held = false;
    for (const CrawledFile& file : m_index.folderFiles(source, folderOf(path)))
        held = held || file.path == path;
    if (!held)
        return failed(404, QStringLiteral("No such file"));
    Opened opened;
    const bool smb = source.url.scheme().toLower() == u"smb";
    opened.file =
        smb ? std::unique_ptr<RelayedFile>(SmbRelayedFile::open(source, path, &opened.problem))
            : std::unique_ptr<RelayedFile>(FtpRelayedFile::open(source, path, &opened.problem));
    if (!opened.file)
        return failed(502, opened.problem);
    return opened;
}
