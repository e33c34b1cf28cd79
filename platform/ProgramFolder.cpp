#include "platform/ProgramFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace ProgramFolder {

namespace {

QString binaryPath() {
    QString exe = QCoreApplication::applicationFilePath();
    if (exe.isEmpty())
        exe = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    return exe;
}

} // namespace

QString path() {
    const QByteArray home = qgetenv("PELLMAR_HOME");
    QString folder = home.isEmpty() ? QFileInfo(binaryPath()).absolutePath()
                                    : QDir(QString::fromLocal8Bit(home)).absolutePath();
    while (folder.size() > 1 && folder.endsWith(QLatin1Char('/')))
        folder.chop(1);
    return folder;
}

QString executablePath() {
    return binaryPath();
}

QString file(const QString& relative) {
    return path() + QLatin1Char('/') + relative;
}

} // namespace ProgramFolder
