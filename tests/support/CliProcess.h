#pragma once

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// pellmar-cli (PELLMAR_CLI, set by the test's target) run with home as its program folder:
// the lines it printed on standard output.
inline QStringList cli(const QString& home, const QStringList& args) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PELLMAR_HOME"), home);
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(PELLMAR_CLI), args);
    process.waitForFinished(60000);
    return QString::fromUtf8(process.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}

// A whole file, or nothing when it cannot be read.
inline QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
