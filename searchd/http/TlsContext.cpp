#include "searchd/http/TlsContext.h"

#include "searchd/ServiceError.h"

#include <QFile>
#include <QFileInfo>
#include <csignal>
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

} // namespace

TlsContext::TlsContext(const QString& certificateFile, const QString& keyFile) {
    requireReadableFile(QStringLiteral("certificate"), certificateFile);
    requireReadableFile(QStringLiteral("key"), keyFile);
    m_context = SSL_CTX_new(TLS_server_method());
    if (!m_context)
        throw ServiceError(QStringLiteral("cannot set up TLS: ") + lastTlsError());
    SSL_CTX_set_min_proto_version(m_context, TLS1_2_VERSION);
    // A client asking for handshake after handshake would keep the gate's thread busy.
    SSL_CTX_set_options(m_context, SSL_OP_NO_RENEGOTIATION);
    // A write may be retried with the rest of a buffer, and from another place in memory.
    SSL_CTX_set_mode(m_context,
                     SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    const QByteArray certificate = QFile::encodeName(certificateFile);
    const QByteArray key = QFile::encodeName(keyFile);
    // An encrypted key would make OpenSSL ask for a password on the terminal: it is refused.
    SSL_CTX_set_default_passwd_cb(m_context, [](char*, int, int, void*) { return 0; });
    // The key first: OpenSSL refuses a key that does not match a certificate already set,
    // and would call that a bad key; set the other way round, the check below tells.
    if (SSL_CTX_use_PrivateKey_file(m_context, key.constData(), SSL_FILETYPE_PEM) != 1) {
        ERR_clear_error();
        SSL_CTX_free(m_context);
        throw ServiceError(
            QStringLiteral("TLS key file %1 holds no unencrypted PEM private key").arg(keyFile));
    }
    if (SSL_CTX_use_certificate_chain_file(m_context, certificate.constData()) != 1) {
        ERR_clear_error();
        SSL_CTX_free(m_context);
        throw ServiceError(QStringLiteral("TLS certificate file %1 holds no PEM certificate")
                               .arg(certificateFile));
    }
    if (SSL_CTX_check_private_key(m_context) != 1) {
        ERR_clear_error();
        SSL_CTX_free(m_context);
        throw ServiceError(QStringLiteral("TLS key file %1 does not match the certificate in %2")
                               .arg(keyFile, certificateFile));
    }
    // OpenSSL writes to the socket with write(), which raises SIGPIPE when the client has
    // gone; that must end the one answer, not the service.
    std::signal(SIGPIPE, SIG_IGN);
}

TlsContext::~TlsContext() {
    SSL_CTX_free(m_context);
}

SSL* TlsContext::newConnection(int fd) const {
    SSL* connection = SSL_new(m_context);
    if (connection && SSL_set_fd(connection, fd) != 1) {
        SSL_free(connection);
        return nullptr;
    }
    return connection;
}
