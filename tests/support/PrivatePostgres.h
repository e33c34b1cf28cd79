#pragma once

#include "searchd/index/postgres/PgConnection.h"

#include <QAtomicInt>
#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>
#include <libpq-fe.h>
#include <memory>
#include <stdexcept>

// A PostgreSQL cluster of the tests' own, reached through a Unix socket in its folder (see
// support/private_postgres.sh, which makes, starts and stops it). The tests of one ctest run
// share one cluster, which a fixture starts in the build folder (PELLMAR_TEST_POSTGRES names
// another); a test binary run alone starts one for the process. A test that stops its server
// makes its own. Databases are made and dropped over libpq, without a psql process each.
class PrivatePostgres {
public:
    // A new cluster in a temporary folder, started. Throws when it cannot start.
    PrivatePostgres() : m_own(true) {
        m_temp = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/pg-XXXXXX"));
        m_dir = m_temp->path();
        start();
    }
    // Removes the cluster it made, or else the databases it made in the shared one.
    ~PrivatePostgres() {
        try {
            if (m_own) {
                script(QStringLiteral("clean"));
                return;
            }
            PgConnection administrator(connectionString());
            for (const QString& name : std::as_const(m_databases))
                administrator.script(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)")
                                         .arg(name)
                                         .toUtf8()
                                         .constData());
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s\n", e.what()); // what stays is left for a look
        }
    }
    PrivatePostgres(const PrivatePostgres&) = delete;
    PrivatePostgres& operator=(const PrivatePostgres&) = delete;

    // The cluster the tests share.
    static PrivatePostgres& shared() {
        static const std::unique_ptr<PrivatePostgres> cluster = [] {
            QString dir = qEnvironmentVariable("PELLMAR_TEST_POSTGRES");
            if (dir.isEmpty() && answers(QStringLiteral(PELLMAR_TEST_POSTGRES_DIR)))
                dir = QStringLiteral(PELLMAR_TEST_POSTGRES_DIR);
            return dir.isEmpty() ? std::make_unique<PrivatePostgres>()
                                 : std::unique_ptr<PrivatePostgres>(new PrivatePostgres(dir));
        }();
        return *cluster;
    }

    void start() { script(QStringLiteral("start")); }
    // Stops the server at once, as a crash would; start() brings it back on the same socket.
    void stop() { script(QStringLiteral("stop")); }

    // A connection string for an administrator's database of the cluster.
    QString connectionString(const QString& database = QStringLiteral("postgres")) const {
        return connectionString(m_dir, database);
    }
    static QString connectionString(QString host, const QString& database) {
        host.replace(QLatin1Char('\\'), QLatin1String("\\\\"))
            .replace(QLatin1Char('\''), QLatin1String("\\'"));
        return QStringLiteral("host='%1' port=5432 user=postgres dbname=%2").arg(host, database);
    }

    // A new empty database; returns its connection string.
    QString freshDatabase() {
        static QAtomicInt counter;
        const QString name = QStringLiteral("test_%1_%2")
                                 .arg(QCoreApplication::applicationPid())
                                 .arg(counter.fetchAndAddRelaxed(1));
        PgConnection administrator(connectionString());
        administrator.script(("DROP DATABASE IF EXISTS " + name).toUtf8().constData());
        administrator.script(("CREATE DATABASE " + name).toUtf8().constData());
        m_databases.append(name);
        return connectionString(name);
    }

    // Runs SQL as the administrator in database; returns psql's unaligned output.
    QByteArray sql(const QString& conninfo, const QString& statements) {
        QProcess psql;
        psql.start(QStringLiteral("psql"),
                   {QStringLiteral("-qXAt"), QStringLiteral("-v"),
                    QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-c"), statements, conninfo});
        finish(psql, statements);
        return psql.readAllStandardOutput().trimmed();
    }

private:
    explicit PrivatePostgres(QString dir) : m_dir(std::move(dir)), m_own(false) {}

    void script(const QString& command) {
        QProcess process;
        process.start(QStringLiteral(PELLMAR_PRIVATE_POSTGRES), {command, m_dir});
        finish(process, QStringLiteral("private_postgres.sh ") + command);
    }

    // A server answers on the socket in dir.
    static bool answers(const QString& dir) {
        const QString conninfo = connectionString(dir, QStringLiteral("postgres")) +
                                 QStringLiteral(" connect_timeout=5");
        return PQping(conninfo.toUtf8().constData()) == PQPING_OK;
    }

    static void finish(QProcess& process, const QString& what) {
        if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit ||
            process.exitCode() != 0)
            throw std::runtime_error((what + QStringLiteral(" failed: ") +
                                      QString::fromLocal8Bit(process.readAllStandardError()))
                                         .toStdString());
    }

    std::unique_ptr<QTemporaryDir> m_temp;
    QString m_dir;
    bool m_own;
    QStringList m_databases;
};
