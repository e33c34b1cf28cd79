#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>

// A test certificate authority and a server certificate it signed for 127.0.0.1 and
// localhost, made with Debian's openssl command in a folder of the test's. Valid for a
// day; P-256 keys, so that making them takes milliseconds.
struct TestCertificates {
    QString ca;    // ca.pem: the authority's certificate, for the client's trust
    QString cert;  // server.pem: the server's certificate
    QString key;   // server.key: its private key, unencrypted
    QString error; // empty when all three were made
};

namespace TestCertificatesDetail {

// Runs openssl with args in dir; empty on success, else what it said.
inline QString runOpenssl(const QString& dir, const QStringList& args) {
    QProcess openssl;
    openssl.setWorkingDirectory(dir);
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start(QStringLiteral("openssl"), args);
    if (!openssl.waitForFinished(30000) || openssl.exitStatus() != QProcess::NormalExit ||
        openssl.exitCode() != 0)
        return QStringLiteral("openssl %1 failed: %2 %3")
            .arg(args.join(' '), openssl.errorString(), QString::fromLocal8Bit(openssl.readAll()));
    return QString();
}

} // namespace TestCertificatesDetail

inline TestCertificates makeTestCertificates(const QString& dir) {
    using TestCertificatesDetail::runOpenssl;
    const QDir folder(dir);
    TestCertificates made{folder.filePath("ca.pem"),
                          folder.filePath("server.pem"),
                          folder.filePath("server.key"),
                          {}};
    QFile extensions(folder.filePath("server.ext"));
    if (!extensions.open(QIODevice::WriteOnly)) {
        made.error = QStringLiteral("cannot write ") + extensions.fileName();
        return made;
    }
    extensions.write("basicConstraints=critical,CA:FALSE\n"
                     "keyUsage=critical,digitalSignature\n"
                     "extendedKeyUsage=serverAuth\n"
                     "subjectAltName=IP:127.0.0.1,DNS:localhost\n");
    extensions.close();
    const QStringList newKey = {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes"};
    const QList<QStringList> steps = {
        QStringList{"req", "-x509"} + newKey +
            QStringList{"-keyout", "ca.key", "-out", "ca.pem", "-days", "1", "-subj",
                        "/CN=Pellmar Test CA", "-addext", "basicConstraints=critical,CA:TRUE",
                        "-addext", "keyUsage=critical,keyCertSign,cRLSign"},
        QStringList{"req"} + newKey +
            QStringList{"-keyout", "server.key", "-out", "server.csr", "-subj", "/CN=localhost"},
        {"x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
         "-CAcreateserial", "-days", "1", "-extfile", "server.ext", "-out", "server.pem"},
    };
    for (const QStringList& step : steps) {
        made.error = runOpenssl(dir, step);
        if (!made.error.isEmpty())
            return made;
    }
    return made;
}
