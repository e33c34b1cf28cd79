#include "searchd/http/TlsContext.h"

#include "searchd/ServiceError.h"

#include <QFile>
#include <QFileInfo>
#include <openssl/err.h>
#include <openssl/ssl.h>

namespace {

// OpenSSL's last error as text.
QString lastTlsError() {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    char text[256] = {};
    ERR_error_string_n(code, text, sizeof text);
    return QString::fromLatin1(text);
}

void requireReadableFile(const QString& what, const QString& path) {
    const QFileInfo info(path);
    if (path.isEmpty())
        throw ServiceError(QStringLiteral("TLS %1 file not given").arg(what));
    if (!info.exists())
        throw ServiceError(QStringLiteral("TLS %1 file %2 does not exist").arg(what, path));
    if (!info.isFile() || !info.isReadable())
        throw ServiceError(QStringLiteral("TLS %1 file %2 is not a readable file").arg(what, path));
}

std::string readAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw ServiceError(QStringLiteral("TLS file %1 cannot be read").arg(path));
    return file.readAll().toStdString();
}

// Throws when the key or the certificate chain is not one to serve with, or they do not
// match, so that the fault is named before the service starts.
void checkPair(const QString& certificateFile, const QString& keyFile) {
    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    if (!context)
        throw ServiceError(QStringLiteral("cannot set up TLS: ") + lastTlsError());
    const QByteArray certificate = QFile::encodeName(certificateFile);
    const QByteArray key = QFile::encodeName(keyFile);
    // An encrypted key would make OpenSSL ask for a password on the terminal: it is refused.
    SSL_CTX_set_default_passwd_cb(context, [](char*, int, int, void*) { return 0; });
    QString fault;
    // The key first: OpenSSL refuses a key that does not match a certificate already set,
    // and would call that a bad key; set the other way round, the check below tells.
    if (SSL_CTX_use_PrivateKey_file(context, key.constData(), SSL_FILETYPE_PEM) != 1)
        fault = QStringLiteral("TLS key file %1 holds no unencrypted PEM private key").arg(keyFile);
    else if (SSL_CTX_use_certificate_chain_file(context, certificate.constData()) != 1)
        fault =
            QStringLiteral("TLS certificate file %1 holds no PEM certificate").arg(certificateFile);
    else if (SSL_CTX_check_private_key(context) != 1)
        fault = QStringLiteral("TLS key file %1 does not match the certificate in %2")
                    .arg(keyFile, certificateFile);
    ERR_clear_error();
    SSL_CTX_free(context);
    if (!fault.isEmpty())
        throw ServiceError(fault);
}

} // namespace

TlsContext::TlsContext(const QString& certificateFile, const QString& keyFile) {
    requireReadableFile(QStringLiteral("certificate"), certificateFile);
    requireReadableFile(QStringLiteral("key"), keyFile);
    checkPair(certificateFile, keyFile);
    m_certificatePem = readAll(certificateFile);
    m_keyPem = readAll(keyFile);
}
