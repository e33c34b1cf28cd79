#pragma once

#include <QString>
#include <string>

// The service's side of TLS: its certificate chain and private key, read and checked once
// and handed to the HTTP server as PEM text.
class TlsContext {
public:
    // Loads a PEM certificate (the server's first, then any intermediates) and its PEM
    // private key. Throws ServiceError naming the file and the fault when a file is
    // missing or unreadable, holds no certificate or key, or the key does not match.
    TlsContext(const QString& certificateFile, const QString& keyFile);

    const std::string& certificatePem() const { return m_certificatePem; }
    const std::string& keyPem() const { return m_keyPem; }

private:
    std::string m_certificatePem;
    std::string m_keyPem;
};
