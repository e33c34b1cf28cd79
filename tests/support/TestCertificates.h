#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

// Certificates made at test time with the openssl command in a temporary folder: a test CA
// and, signed by it, a server certificate for localhost and 127.0.0.1, an expired one and
// one for wrong.example; besides them a self-signed one for localhost and 127.0.0.1.
// Each server certificate X comes as X.pem with its key X.key.
class TestCertificates {
public:
    // Empty on success, else what went wrong.
    QString make() {
        if (!m_dir.isValid())
            return QStringLiteral("no temporary folder");
        const QString local = QStringLiteral("subjectAltName=DNS:localhost,IP:127.0.0.1\n");
        QString problem = run({"req", "-x509", "-newkey", "ec", "-pkeyopt",
                               "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", "ca.key",
                               "-out", "ca.pem", "-days", "30", "-subj", "/CN=Pellmar Test CA"});
        if (problem.isEmpty())
            problem = signedBy("server", "localhost", local, "30");
        if (problem.isEmpty())
            problem = signedBy("expired", "localhost", local, "-1");
        if (problem.isEmpty())
            problem =
                signedBy("wrong", "wrong.example", "subjectAltName=DNS:wrong.example\n", "30");
        if (problem.isEmpty())
            problem =
                run({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                     "-nodes", "-keyout", "self.key", "-out", "self.pem", "-days", "30", "-subj",
                     "/CN=localhost", "-addext", local.trimmed()});
        return problem;
    }

    QString path(const QString& name) const { return QDir(m_dir.path()).filePath(name); }
    QString caFile() const { return path(QStringLiteral("ca.pem")); }

private:
    QString signedBy(const QString& name, const QString& commonName, const QString& extension,
                     const QString& days) {
        QFile file(path(name + QStringLiteral(".ext")));
        if (!file.open(QIODevice::WriteOnly) || file.write(extension.toUtf8()) < 0)
            return QStringLiteral("cannot write ") + file.fileName();
        file.close();
        QString problem =
            run({"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                 "-keyout", name + ".key", "-out", name + ".csr", "-subj", "/CN=" + commonName});
        if (!problem.isEmpty())
            return problem;
        return run({"x509", "-req", "-in", name + ".csr", "-CA", "ca.pem", "-CAkey", "ca.key",
                    "-CAcreateserial", "-days", days, "-extfile", name + ".ext", "-out",
                    name + ".pem"});
    }

    QString run(const QStringList& args) {
        QProcess openssl;
        openssl.setWorkingDirectory(m_dir.path());
        openssl.setProcessChannelMode(QProcess::MergedChannels);
        openssl.start(QStringLiteral("openssl"), args);
        if (!openssl.waitForFinished(30000) || openssl.exitStatus() != QProcess::NormalExit ||
            openssl.exitCode() != 0)
            return QStringLiteral("openssl %1 failed: %2")
                .arg(args.join(QLatin1Char(' ')), QString::fromLocal8Bit(openssl.readAll()));
        return QString();
    }

    QTemporaryDir m_dir;
};
