#include "searchd/pages/FoundFiles.h"

#include "searchd/http/QueryText.h"
#include "searchd/index/ServiceIndex.h"

#include <QRegularExpression>
#include <arpa/inet.h>
#include <chrono>
#include <map>
#include <mutex>
#include <netdb.h>

namespace {

// The host as a URL or a site names it: IPv6 addresses in brackets, names in ASCII.
QString urlHost(const QUrl& url) {
    const QString host = url.host(QUrl::FullyEncoded);
    return host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
}

QString hostAndPort(const QUrl& url) {
    const int port = url.port();
    return port < 0 ? urlHost(url) : urlHost(url) + QLatin1Char(':') + QString::number(port);
}

// The source's folder from the server's root, without the leading '/', ending in '/'
// unless it is the root itself.
QString rootFolder(const QUrl& url) {
    QString path = url.path(QUrl::FullyDecoded);
    while (path.startsWith(QLatin1Char('/')))
        path.remove(0, 1);
    if (!path.isEmpty() && !path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path;
}

QByteArray encodedLogin(const QUrl& url) {
    return QUrl::toPercentEncoding(url.userName(QUrl::FullyDecoded));
}

bool isIpv4(const QString& host) {
    static const QRegularExpression kDotted(QStringLiteral("^\\d{1,3}(\\.\\d{1,3}){3}$"));
    return kDotted.match(host).hasMatch();
}

// The program names SMB hosts by IPv4 address only, so a share crawled by host name is
// listed under the address the name has now; a name is looked up at most every ten minutes.
QString ipv4Address(const QString& host) {
    if (isIpv4(host))
        return host;
    struct Known {
        QString address;
        std::chrono::steady_clock::time_point asked;
    };
    static std::mutex lock;
    static std::map<QString, Known> known;
    const auto now = std::chrono::steady_clock::now();
    {
        const std::lock_guard<std::mutex> hold(lock);
        const auto found = known.find(host);
        if (found != known.end() && now - found->second.asked < std::chrono::minutes(10))
            return found->second.address;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* results = nullptr;
    QString address;
    if (getaddrinfo(host.toUtf8().constData(), nullptr, &hints, &results) == 0 && results) {
        char text[INET_ADDRSTRLEN] = {};
        const auto* ip = reinterpret_cast<const sockaddr_in*>(results->ai_addr);
        if (inet_ntop(AF_INET, &ip->sin_addr, text, sizeof text))
            address = QString::fromLatin1(text);
    }
    if (results)
        freeaddrinfo(results);
    const std::lock_guard<std::mutex> hold(lock);
    known[host] = {address, now};
    return address;
}

} // namespace

ShownQuality FoundFile::shownQuality() const {
    ShownQuality shown;
    if (fromLibrary) {
        const FrameHeader& frame = file.frame;
        shown.known = frame.error.isEmpty();
        shown.bitrate = frame.quality.bitrate;
        shown.sampleRate = frame.sampleRateHz();
        shown.channelMode = QString::fromLatin1(frame.mode);
        shown.quality = frame.quality;
    } else {
        shown = {crawled.hasQuality, crawled.bitrate, crawled.sampleRate, crawled.mode,
                 crawled.quality};
    }
    return shown;
}

QString FoundFile::kind() const {
    return fromLibrary ? QStringLiteral("library") : crawled.scheme();
}

QByteArray FoundFile::serverUrl() const {
    if (fromLibrary)
        return {};
    const QUrl& source = crawled.sourceUrl;
    const QString scheme = crawled.scheme();
    QByteArray login;
    if (scheme == QLatin1String("ftp") && !source.userName().isEmpty())
        login = encodedLogin(source) + '@';
    return scheme.toLatin1() + "://" + login + hostAndPort(source).toLatin1() + '/' +
           QueryText::encodePath(rootFolder(source) + crawled.path);
}

QString FoundFile::ftpSite() const {
    const QUrl& source = crawled.sourceUrl;
    const QByteArray login =
        source.userName().isEmpty() ? QByteArray("anonymous") : encodedLogin(source);
    return QString::fromLatin1(login) + QLatin1Char('@') + urlHost(source) + QLatin1Char(':') +
           QString::number(source.port(21));
}

QString FoundFile::ftpPath() const {
    return rootFolder(crawled.sourceUrl) + crawled.path;
}

QString FoundFile::smbHost() const {
    const QUrl& source = crawled.sourceUrl;
    return source.port(445) == 445 ? ipv4Address(source.host()) : QString();
}

QString FoundFile::smbPath() const {
    return rootFolder(crawled.sourceUrl) + crawled.path;
}

std::optional<FileFilter> FileFilter::ofKind(const QString& kind, int minBitrate,
                                             bool hideTranscodes) {
    FileFilter filter;
    filter.crawled.minBitrate = minBitrate;
    filter.crawled.hideTranscodes = hideTranscodes;
    if (kind == QLatin1String("all"))
        return filter;
    filter.library = kind == QLatin1String("library");
    if (kind == QLatin1String("library"))
        filter.crawled.schemes.clear();
    else if (kind == QLatin1String("http"))
        filter.crawled.schemes = {QStringLiteral("http"), QStringLiteral("https")};
    else if (kind == QLatin1String("ftp") || kind == QLatin1String("smb"))
        filter.crawled.schemes = {kind};
    else
        return std::nullopt;
    return filter;
}

FoundFiles::FoundFiles(ServiceIndex& index) : m_index(index) {}

bool FoundFiles::wantsLibrary(const FileFilter& filter) const {
    return filter.library;
}

namespace {

QualityFilter qualityOf(const FileFilter& filter) {
    return {filter.crawled.minBitrate, filter.crawled.hideTranscodes};
}

} // namespace

QList<FoundFile> FoundFiles::search(const QStringList& words, const FileFilter& filter, int offset,
                                    int limit) {
    QList<FoundFile> found;
    int crawledOffset = offset;
    if (wantsLibrary(filter)) {
        const QualityFilter quality = qualityOf(filter);
        for (const IndexedFile& file : m_index.searchLibraryFiles(words, quality, offset, limit))
            found.append({true, file, {}});
        // Past the library's last page the crawled files go on where the library ended.
        crawledOffset = found.isEmpty() ? offset - m_index.countLibraryFiles(words, quality) : 0;
        if (crawledOffset < 0)
            crawledOffset = 0;
    }
    const int left = limit - static_cast<int>(found.size());
    if (left <= 0 || filter.crawled.schemes.isEmpty())
        return found;
    for (const CrawledHit& hit :
         m_index.searchCrawled(words, filter.crawled, crawledOffset, left)) {
        FoundFile file{
            false, {hit.path, std::max<qint64>(hit.size, 0), hit.artist, hit.title}, hit};
        found.append(file);
    }
    return found;
}

int FoundFiles::count(const QStringList& words, const FileFilter& filter) {
    const int library =
        wantsLibrary(filter) ? m_index.countLibraryFiles(words, qualityOf(filter)) : 0;
    return library +
           (filter.crawled.schemes.isEmpty() ? 0 : m_index.countCrawled(words, filter.crawled));
}
