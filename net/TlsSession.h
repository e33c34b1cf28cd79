#pragma once

#include <QByteArray>
#include <QString>
#include <memory>

struct ssl_ctx_st;
struct ssl_st;

// Trust settings shared by every TLS connection of the process: the system's trust store,
// plus a private CA file when one is set, with the server's certificate and name checked.
// Skipping the checks is for experts on the command line only. A change applies to the
// connections started after it.
namespace TlsTrust {

// The CA file of the user's options; setting the same file again changes nothing.
void SetCaFile(const QString& path);
QString CaFile();
// A CA file named on the command line: trusted besides the options' one.
void SetCommandLineCaFile(const QString& path);
void SetSkipVerification(bool skip);
bool SkipVerification();

} // namespace TlsTrust

// The TLS state of one connection: an OpenSSL SSL object on a non-blocking socket handle
// it does not own. Every call returns at once; "want read" and "want write" tell the socket
// which readiness to wait for before calling again. Owned by the socket for exactly one
// connection (see docs/tls.md).
class TlsSession {
public:
    enum class Result { Ok, WantRead, WantWrite, Closed, Failed };

    // host is the name or dotted address the certificate must be for; it is sent as SNI
    // unless it is an address.
    TlsSession(int handle, const QByteArray& host);
    ~TlsSession();
    TlsSession(const TlsSession&) = delete;
    TlsSession& operator=(const TlsSession&) = delete;

    // One step of the handshake: Ok when it is complete.
    Result Handshake();
    // Decrypted bytes into buffer (at most capacity); Ok with count > 0, or why none.
    // Closed: the peer's close_notify arrived.
    Result Read(char* buffer, int capacity, int& count);
    Result Write(const char* data, int length, int& count);
    // Sends close_notify once, without waiting for the peer's; nothing after a failure.
    void Shutdown();
    // Decrypted bytes that OpenSSL holds and the socket handle no longer shows.
    bool HasPending() const;
    bool CloseNotifyReceived() const { return m_closeNotify; }
    // Why the last step failed: "certificate of HOST has expired", ...
    QByteArray ErrorText() const { return m_error; }
    // The negotiated version and cipher: "TLSv1.3 TLS_AES_128_GCM_SHA256".
    QByteArray CipherText() const;

    // Called from OpenSSL's verify callback with the certificate it refused.
    void NoteRefusedCertificate(void* certificate);

private:
    Result Failure(int sslError, const char* operation);
    QByteArray HandshakeFailureText() const;

    ssl_st* m_ssl = nullptr;
    std::shared_ptr<ssl_ctx_st> m_context;
    QByteArray m_host;
    QByteArray m_refusedName; // the first name of the certificate that was refused
    QByteArray m_error;
    bool m_failed = false;
    bool m_closeNotify = false;
    bool m_shutdownSent = false;
    bool m_established = false;
};
