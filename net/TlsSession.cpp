#include "net/TlsSession.h"

#include <QFile>
#include <QStringList>
#include <arpa/inet.h>
#include <mutex>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

namespace {

struct TrustState {
    std::mutex mutex;
    QString caFile;
    QString commandLineCaFile;
    bool skipVerification = false;
    std::shared_ptr<SSL_CTX> context; // built for the settings above; none until first use
    QByteArray problem;               // why it could not be built
};

TrustState& Trust() {
    // OpenSSL first: its clean-up at exit then runs after the context here is freed.
    static const bool initialized = OPENSSL_init_ssl(0, nullptr) == 1;
    static TrustState state;
    Q_UNUSED(initialized);
    return state;
}

int VerifyCallback(int ok, X509_STORE_CTX* store) {
    if (ok)
        return ok;
    auto* ssl =
        static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    if (auto* session = ssl ? static_cast<TlsSession*>(SSL_get_app_data(ssl)) : nullptr)
        session->NoteRefusedCertificate(X509_STORE_CTX_get0_cert(store));
    return ok;
}

// A name from a certificate, as printable ASCII of bounded length: it ends up in messages.
QByteArray PrintableName(const unsigned char* data, int length) {
    QByteArray name;
    for (int i = 0; i < length && name.size() < 255; ++i)
        name += (data[i] > 0x20 && data[i] < 0x7F) ? char(data[i]) : '?';
    return name;
}

// The certificate's first DNS name, or its common name when it has none.
QByteArray FirstName(X509* certificate) {
    QByteArray name;
    auto* names = static_cast<GENERAL_NAMES*>(
        X509_get_ext_d2i(certificate, NID_subject_alt_name, nullptr, nullptr));
    for (int i = 0; names && i < sk_GENERAL_NAME_num(names) && name.isEmpty(); ++i) {
        const GENERAL_NAME* entry = sk_GENERAL_NAME_value(names, i);
        if (entry->type == GEN_DNS)
            name = PrintableName(ASN1_STRING_get0_data(entry->d.dNSName),
                                 ASN1_STRING_length(entry->d.dNSName));
    }
    GENERAL_NAMES_free(names);
    if (!name.isEmpty())
        return name;
    X509_NAME* subject = X509_get_subject_name(certificate);
    const int index = X509_NAME_get_index_by_NID(subject, NID_commonName, -1);
    if (index < 0)
        return "(no name)";
    const ASN1_STRING* common = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, index));
    return PrintableName(ASN1_STRING_get0_data(common), ASN1_STRING_length(common));
}

bool IsAddress(const QByteArray& host) {
    unsigned char bytes[16];
    return inet_pton(AF_INET, host.constData(), bytes) == 1 ||
           inet_pton(AF_INET6, host.constData(), bytes) == 1;
}

std::shared_ptr<SSL_CTX> BuildContext(const QStringList& caFiles, bool skip, QByteArray& problem) {
    std::shared_ptr<SSL_CTX> context(SSL_CTX_new(TLS_client_method()), SSL_CTX_free);
    if (!context) {
        problem = "cannot set up TLS";
        return nullptr;
    }
    SSL_CTX* raw = context.get();
    SSL_CTX_set_min_proto_version(raw, TLS1_2_VERSION);
    SSL_CTX_set_options(raw, SSL_OP_NO_RENEGOTIATION);
    SSL_CTX_set_mode(raw, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    SSL_CTX_set_default_verify_paths(raw);
    for (const QString& caFile : caFiles) {
        if (caFile.isEmpty())
            continue;
        const QByteArray path = QFile::encodeName(caFile);
        if (SSL_CTX_load_verify_locations(raw, path.constData(), nullptr) != 1) {
            ERR_clear_error();
            problem = "cannot load the CA file " + path;
            return nullptr;
        }
    }
    SSL_CTX_set_verify(raw, skip ? SSL_VERIFY_NONE : SSL_VERIFY_PEER,
                       skip ? nullptr : VerifyCallback);
    return context;
}

// The context for the current settings, built on first use after a change; one that could
// not be built is tried again at the next connection (the CA file may have been mended).
std::shared_ptr<SSL_CTX> CurrentContext(QByteArray& problem) {
    TrustState& trust = Trust();
    std::lock_guard lock(trust.mutex);
    if (!trust.context) {
        trust.problem.clear();
        trust.context = BuildContext({trust.caFile, trust.commandLineCaFile},
                                     trust.skipVerification, trust.problem);
    }
    problem = trust.problem;
    return trust.context;
}

void ForgetContext(TrustState& trust) {
    trust.context.reset();
    trust.problem.clear();
}

} // namespace

void TlsTrust::SetCaFile(const QString& path) {
    TrustState& trust = Trust();
    std::lock_guard lock(trust.mutex);
    if (trust.caFile == path)
        return; // the context built for it stays
    trust.caFile = path;
    ForgetContext(trust);
}

void TlsTrust::SetCommandLineCaFile(const QString& path) {
    TrustState& trust = Trust();
    std::lock_guard lock(trust.mutex);
    trust.commandLineCaFile = path;
    ForgetContext(trust);
}

QString TlsTrust::CaFile() {
    TrustState& trust = Trust();
    std::lock_guard lock(trust.mutex);
    return trust.caFile;
}

void TlsTrust::SetSkipVerification(bool skip) {
    TrustState& trust = Trust();
    std::lock_guard lock(trust.mutex);
    trust.skipVerification = skip;
    ForgetContext(trust);
}

bool TlsTrust::SkipVerification() {
    TrustState& trust = Trust();
    std::lock_guard lock(trust.mutex);
    return trust.skipVerification;
}

// ---- one connection ---------------------------------------------------------------------

TlsSession::TlsSession(int handle, const QByteArray& host) : m_host(host) {
    QByteArray problem;
    m_context = CurrentContext(problem);
    if (m_context)
        m_ssl = SSL_new(m_context.get());
    if (!m_ssl || SSL_set_fd(m_ssl, handle) != 1) {
        m_failed = true;
        m_error = problem.isEmpty() ? QByteArray("cannot set up TLS") : problem;
        ERR_clear_error();
        return;
    }
    SSL_set_app_data(m_ssl, this);
    const bool address = IsAddress(host);
    if (!address)
        SSL_set_tlsext_host_name(m_ssl, host.constData());
    X509_VERIFY_PARAM* param = SSL_get0_param(m_ssl);
    X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    if (address)
        X509_VERIFY_PARAM_set1_ip_asc(param, host.constData());
    else
        X509_VERIFY_PARAM_set1_host(param, host.constData(), size_t(host.size()));
    SSL_set_connect_state(m_ssl);
}

TlsSession::~TlsSession() {
    SSL_free(m_ssl); // the socket handle is not the session's and stays open
}

TlsSession::Result TlsSession::Handshake() {
    if (m_failed)
        return Result::Failed;
    ERR_clear_error();
    const int result = SSL_do_handshake(m_ssl);
    if (result == 1) {
        m_established = true;
        return Result::Ok;
    }
    const Result step = Failure(SSL_get_error(m_ssl, result), "handshake");
    if (step == Result::Failed || step == Result::Closed) {
        m_failed = true;
        m_error = HandshakeFailureText();
        return Result::Failed;
    }
    return step;
}

TlsSession::Result TlsSession::Read(char* buffer, int capacity, int& count) {
    count = 0;
    if (m_failed)
        return Result::Failed;
    if (m_closeNotify)
        return Result::Closed;
    ERR_clear_error();
    size_t read = 0;
    const int result = SSL_read_ex(m_ssl, buffer, size_t(std::max(capacity, 0)), &read);
    if (result == 1) {
        count = int(read);
        return Result::Ok;
    }
    return Failure(SSL_get_error(m_ssl, result), "read");
}

TlsSession::Result TlsSession::Write(const char* data, int length, int& count) {
    count = 0;
    if (m_failed)
        return Result::Failed;
    ERR_clear_error();
    size_t written = 0;
    const int result = SSL_write_ex(m_ssl, data, size_t(std::max(length, 0)), &written);
    if (result == 1) {
        count = int(written);
        return Result::Ok;
    }
    return Failure(SSL_get_error(m_ssl, result), "write");
}

// Maps OpenSSL's verdict; a failure keeps OpenSSL's reason for the message.
TlsSession::Result TlsSession::Failure(int sslError, const char* operation) {
    switch (sslError) {
    case SSL_ERROR_WANT_READ:
        return Result::WantRead;
    case SSL_ERROR_WANT_WRITE:
        return Result::WantWrite;
    case SSL_ERROR_ZERO_RETURN:
        m_closeNotify = true;
        return Result::Closed;
    default:
        break;
    }
    const unsigned long code = ERR_peek_last_error();
    const char* reason = code ? ERR_reason_error_string(code) : nullptr;
    m_error = "TLS " + QByteArray(operation) +
              " failed: " + (reason ? QByteArray(reason) : QByteArray("connection closed"));
    m_failed = true;
    ERR_clear_error();
    return Result::Failed;
}

QByteArray TlsSession::HandshakeFailureText() const {
    const long verdict = SSL_get_verify_result(m_ssl);
    if (verdict == X509_V_OK || TlsTrust::SkipVerification() || m_refusedName.isNull())
        return "TLS handshake with " + m_host +
               " failed: " + m_error.mid(m_error.indexOf(": ") + 2);
    if (verdict == X509_V_ERR_HOSTNAME_MISMATCH || verdict == X509_V_ERR_IP_ADDRESS_MISMATCH)
        return "certificate is for " + m_refusedName + ", not " + m_host;
    if (verdict == X509_V_ERR_CERT_HAS_EXPIRED)
        return "certificate of " + m_host + " has expired";
    return "certificate of " + m_host + " is not trusted (" +
           QByteArray(X509_verify_cert_error_string(verdict)) + ")";
}

void TlsSession::NoteRefusedCertificate(void* certificate) {
    if (m_refusedName.isNull() && certificate)
        m_refusedName = FirstName(static_cast<X509*>(certificate));
}

void TlsSession::Shutdown() {
    if (m_failed || m_shutdownSent || !m_established)
        return;
    m_shutdownSent = true;
    ERR_clear_error();
    SSL_shutdown(m_ssl); // queues close_notify; a full socket buffer drops it, as a reset would
    ERR_clear_error();
}

bool TlsSession::HasPending() const {
    // Decrypted bytes only: without read-ahead, unprocessed bytes are a partial record that
    // waits for the rest from the handle, whose readiness will tell.
    return m_ssl && !m_failed && SSL_pending(m_ssl) > 0;
}

QByteArray TlsSession::CipherText() const {
    if (!m_ssl || !m_established)
        return {};
    return QByteArray(SSL_get_version(m_ssl)) + ' ' + SSL_get_cipher_name(m_ssl);
}
