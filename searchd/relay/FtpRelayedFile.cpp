#include "searchd/relay/FtpRelayedFile.h"

#include <QStringList>
#include <QUrl>
#include <algorithm>

namespace {

// ftp://host:port/folder/name with every segment escaped and no login in it: libcurl gets
// the login apart, so that no URL it may report holds the password.
QByteArray fileUrl(const QUrl& source, const QString& path) {
    const QString host = source.host(QUrl::FullyEncoded);
    QByteArray url =
        "ftp://" + (host.contains(u':') ? '[' + host.toLatin1() + ']' : host.toLatin1());
    if (source.port() > 0)
        url += ':' + QByteArray::number(source.port());
    const QStringList segments = source.path(QUrl::FullyDecoded).split(u'/', Qt::SkipEmptyParts) +
                                 path.split(u'/', Qt::SkipEmptyParts);
    for (const QString& segment : segments)
        url += '/' + QUrl::toPercentEncoding(segment);
    return url;
}

// Where a transfer's bytes go: at most left of them, to the client.
struct Outgoing {
    const BodyWriter& write;
    qint64 left = 0;
    bool clientGone = false;
};

size_t onData(char* data, size_t size, size_t count, void* user) {
    auto* out = static_cast<Outgoing*>(user);
    const size_t bytes = size * count;
    const auto taken = static_cast<size_t>(std::min<qint64>(qint64(bytes), out->left));
    if (taken > 0 && !out->write(data, taken)) {
        out->clientGone = true;
        return 0;
    }
    out->left -= qint64(taken);
    return taken == bytes ? bytes : 0; // more than the part: the file changed, stop
}

QString failure(CURLcode code) {
    return QStringLiteral("the FTP server cannot give the file: %1")
        .arg(QString::fromUtf8(curl_easy_strerror(code)));
}

} // namespace

std::unique_ptr<FtpRelayedFile> FtpRelayedFile::open(const CrawlSource& source, const QString& path,
                                                     QString* error) {
    std::unique_ptr<FtpRelayedFile> file(new FtpRelayedFile);
    CURL* curl = file->m_curl = curl_easy_init();
    if (!curl) {
        *error = QStringLiteral("libcurl cannot start");
        return nullptr;
    }
    const QByteArray url = fileUrl(source.url, path);
    const QByteArray user = source.url.userName(QUrl::FullyDecoded).toUtf8();
    const QByteArray password = source.url.password(QUrl::FullyDecoded).toUtf8();
    curl_easy_setopt(curl, CURLOPT_URL, url.constData());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "ftp");
    curl_easy_setopt(curl, CURLOPT_USERNAME, user.constData());
    curl_easy_setopt(curl, CURLOPT_PASSWORD, password.constData());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, kTimeoutSeconds);
    curl_easy_setopt(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT, kTimeoutSeconds);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, kTimeoutSeconds);
    curl_easy_setopt(curl, CURLOPT_FTP_FILEMETHOD, long(CURLFTPMETHOD_SINGLECWD));
    curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    const CURLcode code = curl_easy_perform(curl);
    curl_off_t size = -1;
    curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &size);
    if (code != CURLE_OK) {
        *error = failure(code);
        return nullptr;
    }
    if (size < 0) {
        *error = QStringLiteral("the FTP server does not tell the file's size");
        return nullptr;
    }
    file->m_size = qint64(size);
    return file;
}

FtpRelayedFile::~FtpRelayedFile() {
    if (m_curl)
        curl_easy_cleanup(m_curl);
}

bool FtpRelayedFile::send(qint64 offset, qint64 length, const BodyWriter& write) {
    if (length <= 0)
        return true;
    Outgoing out{write, length};
    const QByteArray range =
        QByteArray::number(offset) + '-' + QByteArray::number(offset + length - 1);
    curl_easy_setopt(m_curl, CURLOPT_NOBODY, 0L);
    curl_easy_setopt(m_curl, CURLOPT_RANGE, range.constData());
    curl_easy_setopt(m_curl, CURLOPT_WRITEFUNCTION, onData);
    curl_easy_setopt(m_curl, CURLOPT_WRITEDATA, &out);
    const CURLcode code = curl_easy_perform(m_curl);
    return code == CURLE_OK && out.left == 0;
}
