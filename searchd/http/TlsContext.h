#pragma once

#include <QString>

using SSL_CTX = struct ssl_ctx_st;
using SSL = struct ssl_st;

// The service's side of TLS: its certificate chain and private key, loaded once and shared
// by every connection. The gate makes one SSL object per connection from it.
class TlsContext {
public:
    // Loads a PEM certificate (the server's first, then any intermediates) and its PEM
    // private key. Throws ServiceError naming the file and the fault when a file is
    // missing or unreadable, holds no certificate or key, or the key does not match.
    TlsContext(const QString& certificateFile, const QString& keyFile);
    ~TlsContext();
    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;

    // A new server-side connection state for a connected socket; the caller frees it.
    SSL* newConnection(int fd) const;

private:
    SSL_CTX* m_context = nullptr;
};
