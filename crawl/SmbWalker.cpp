#include "crawl/SmbWalker.h"

#include "crawl/SafeNames.h"

#include <QFile>
#include <QStringList>
#include <QUrl>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <libsmbclient.h>
#include <mutex>
#include <sys/stat.h>

namespace {

// Each walker has its own context, but libsmbclient as Debian 12 builds it keeps the
// temporary memory of every call (its talloc stack frames) in one process-wide stack: two
// calls on two threads at once corrupt it, even on two contexts. So one call at a time.
std::mutex g_libraryLock;

QByteArray encoded(const QString& segment) {
    return QUrl::toPercentEncoding(segment);
}

// Copies text into a buffer of libsmbclient's, cut to fit, always terminated.
void copyOut(const QString& text, char* buffer, int length) {
    if (!buffer || length <= 0)
        return;
    const QByteArray bytes = text.toUtf8().left(length - 1);
    std::memcpy(buffer, bytes.constData(), size_t(bytes.size()));
    buffer[bytes.size()] = '\0';
}

QDateTime modifiedTime(const struct stat& st) {
    return st.st_mtime > 0 ? QDateTime::fromSecsSinceEpoch(st.st_mtime, Qt::UTC) : QDateTime();
}

} // namespace

std::optional<SmbWalker::Credentials> SmbWalker::readCredentials(const QString& file,
                                                                 QString* error) {
    QFile input(file);
    if (!input.open(QIODevice::ReadOnly) || input.size() > 64 * 1024) {
        *error = QStringLiteral("cannot read the credential file %1").arg(file);
        return std::nullopt;
    }
    Credentials credentials;
    for (const QByteArray& line : input.readAll().split('\n')) {
        const qsizetype equals = line.indexOf('=');
        if (equals < 0)
            continue;
        const QByteArray key = line.left(equals).trimmed().toLower();
        const QString value = QString::fromUtf8(line.mid(equals + 1).trimmed());
        if (key == "username")
            credentials.username = value;
        else if (key == "password")
            credentials.password = value;
        else if (key == "domain")
            credentials.domain = value;
    }
    if (credentials.username.isEmpty()) {
        *error = QStringLiteral("the credential file %1 names no username").arg(file);
        return std::nullopt;
    }
    return credentials;
}

SmbWalker::SmbWalker(const CrawlSource& source, int timeoutMs) {
    const QUrl url = source.url;
    m_shown = url.toString(QUrl::RemoveUserInfo | QUrl::RemoveQuery | QUrl::RemoveFragment);
    if (!m_shown.endsWith(u'/'))
        m_shown += u'/';
    const QStringList segments = url.path().split(u'/', Qt::SkipEmptyParts);
    if (url.scheme() != u"smb" || url.host().isEmpty() || segments.isEmpty()) {
        m_setupError = QStringLiteral("%1 is no smb://host/share/ URL").arg(m_shown);
        return;
    }
    for (const QString& segment : segments) {
        if (!SafeNames::isSafe(segment)) {
            m_setupError = QStringLiteral("%1 holds a name that cannot be walked").arg(m_shown);
            return;
        }
    }
    m_root = "smb://" + encoded(url.host());
    for (const QString& segment : segments)
        m_root += '/' + encoded(segment);
    if (!source.credentialFile.isEmpty()) {
        const std::optional<Credentials> credentials =
            readCredentials(source.credentialFile, &m_setupError);
        if (!credentials)
            return;
        m_credentials = *credentials;
    } else {
        m_credentials.username = QStringLiteral("guest");
    }

    const std::lock_guard<std::mutex> lock(g_libraryLock);
    m_context = smbc_new_context();
    if (!m_context) {
        m_setupError =
            QStringLiteral("libsmbclient has no context: %1").arg(qt_error_string(errno));
        return;
    }
    smbc_setDebug(m_context, 0);
    smbc_setOptionUserData(m_context, this);
    smbc_setFunctionAuthDataWithContext(m_context, &SmbWalker::authenticate);
    smbc_setOptionUseKerberos(m_context, false);
    smbc_setTimeout(m_context, timeoutMs);
    if (url.port() > 0)
        smbc_setPort(m_context, uint16_t(url.port()));
    if (!smbc_init_context(m_context)) {
        m_setupError = QStringLiteral("libsmbclient cannot start: %1").arg(qt_error_string(errno));
        smbc_free_context(m_context, 1);
        m_context = nullptr;
        return;
    }
    // After the configuration is read, so that no smb.conf can lower it.
    smbc_setOptionProtocols(m_context, "SMB2", nullptr);
}

SmbWalker::~SmbWalker() {
    if (!m_context)
        return;
    const std::lock_guard<std::mutex> lock(g_libraryLock);
    smbc_free_context(m_context, 1);
}

// NOLINTNEXTLINE(readability-function-size): libsmbclient's callback takes nine parameters.
void SmbWalker::authenticate(SMBCCTX* context, const char*, const char*, char* workgroup,
                             int workgroupLength, char* username, int usernameLength,
                             char* password, int passwordLength) {
    const auto* self = static_cast<const SmbWalker*>(smbc_getOptionUserData(context));
    if (!self)
        return;
    if (!self->m_credentials.domain.isEmpty())
        copyOut(self->m_credentials.domain, workgroup, workgroupLength);
    copyOut(self->m_credentials.username, username, usernameLength);
    copyOut(self->m_credentials.password, password, passwordLength);
}

std::optional<QByteArray> SmbWalker::urlOf(const QString& path, QString* error) {
    if (!m_setupError.isEmpty()) {
        *error = m_setupError;
        m_silent = false;
        return std::nullopt;
    }
    QByteArray url = m_root;
    for (const QString& segment : path.split(u'/', Qt::SkipEmptyParts)) {
        if (!SafeNames::isSafe(segment)) {
            *error = QStringLiteral("%1 is no path below %2").arg(path, m_shown);
            m_silent = false;
            return std::nullopt;
        }
        url += '/' + encoded(segment);
    }
    return url;
}

QString SmbWalker::failure(const char* what, const QString& path) {
    const int code = errno;
    // The server's own answers; anything else means it was not heard.
    static const int answers[] = {EACCES, EPERM, ENOENT, ENOTDIR,      EISDIR,
                                  EINVAL, EBUSY, ELOOP,  ENAMETOOLONG, ENOTEMPTY};
    m_silent = std::find(std::begin(answers), std::end(answers), code) == std::end(answers);
    return QStringLiteral("%1 %2%3: %4")
        .arg(QLatin1String(what), m_shown, path, qt_error_string(code));
}

ListingRead SmbWalker::list(const QString& folder) {
    ListingRead read;
    const std::optional<QByteArray> url = urlOf(folder, &read.error);
    if (!url)
        return read;
    const std::lock_guard<std::mutex> lock(g_libraryLock);
    SMBCFILE* dir = smbc_getFunctionOpendir(m_context)(m_context, url->constData());
    if (!dir) {
        read.error = failure("cannot list", folder);
        return read;
    }
    ListingCollector collector;
    const auto next = smbc_getFunctionReaddirPlus2(m_context);
    struct stat st = {};
    for (const libsmb_file_info* info = next(m_context, dir, &st); info;
         info = next(m_context, dir, &st)) {
        if (!info->name)
            continue;
        const QByteArrayView bytes(info->name);
        if (SafeNames::isDots(bytes) || !(S_ISDIR(st.st_mode) || S_ISREG(st.st_mode)))
            continue;
        RemoteEntry entry;
        entry.name = SafeNames::fromUtf8(bytes).value_or(QString()); // empty: left out
        entry.folder = S_ISDIR(st.st_mode);
        entry.size = entry.folder ? -1 : qint64(info->size);
        entry.modified = modifiedTime(st);
        if (!collector.add(entry))
            break;
        st = {};
    }
    smbc_getFunctionClosedir(m_context)(m_context, dir);
    return collector.result();
}

QByteArray SmbWalker::read(const QString& path, qint64 offset, qint64 count, QString* error) {
    const std::optional<QByteArray> url = urlOf(path, error);
    if (!url)
        return {};
    const std::lock_guard<std::mutex> lock(g_libraryLock);
    SMBCFILE* file = smbc_getFunctionOpen(m_context)(m_context, url->constData(), O_RDONLY, 0);
    if (!file) {
        *error = failure("cannot open", path);
        return {};
    }
    QByteArray bytes;
    if (smbc_getFunctionLseek(m_context)(m_context, file, off_t(offset), SEEK_SET) < 0) {
        *error = failure("cannot seek in", path);
    } else {
        bytes.resize(qBound<qint64>(0, count, FileHead::kMaxRead));
        qsizetype filled = 0;
        while (filled < bytes.size()) {
            const ssize_t got = smbc_getFunctionRead(m_context)(
                m_context, file, bytes.data() + filled, size_t(bytes.size() - filled));
            if (got < 0) {
                *error = failure("cannot read", path);
                break;
            }
            if (got == 0)
                break;
            filled += got;
        }
        bytes.truncate(filled);
    }
    smbc_getFunctionClose(m_context)(m_context, file);
    return bytes;
}

qint64 SmbWalker::size(const QString& path, QString* error) {
    const std::optional<QByteArray> url = urlOf(path, error);
    if (!url)
        return -1;
    const std::lock_guard<std::mutex> lock(g_libraryLock);
    struct stat st = {};
    if (smbc_getFunctionStat(m_context)(m_context, url->constData(), &st) < 0) {
        *error = failure("cannot see", path);
        return -1;
    }
    return qint64(st.st_size);
}
