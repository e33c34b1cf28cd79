#include "platform/ProgramFolder.h"

#include "platform/FolderDefaults.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace ProgramFolder {

namespace {

QString binaryPath() {
    QString exe = QCoreApplication::applicationFilePath();
    if (exe.isEmpty())
        exe = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    return exe;
}

QString binaryFolder() {
    return QFileInfo(binaryPath()).absolutePath();
}

QString withoutTrailingSlash(QString folder) {
    while (folder.size() > 1 && folder.endsWith(QLatin1Char('/')))
        folder.chop(1);
    return folder;
}

} // namespace

QStringList defaultsBeside(const QString& binaryFolder) {
    QStringList found;
    for (const char* relative : {PELLMAR_DEFAULTS_DATA, PELLMAR_DEFAULTS_PROGRAMS}) {
        const QString folder = QDir(binaryFolder).absoluteFilePath(QString::fromUtf8(relative));
        if (QFileInfo(folder).isDir())
            found.append(QDir::cleanPath(folder));
    }
    return found;
}

QString choose(const QString& binaryFolder, const QString& home, const QString& userDataFolder) {
    if (!home.isEmpty())
        return withoutTrailingSlash(QDir(home).absolutePath());
    // An installed binary's folder is the system's (root may write /usr/bin, but must not
    // keep settings there).
    if (!defaultsBeside(binaryFolder).isEmpty() || !QFileInfo(binaryFolder).isWritable())
        return withoutTrailingSlash(userDataFolder) + QStringLiteral("/Pellmar");
    return withoutTrailingSlash(binaryFolder);
}

QString path() {
    return choose(binaryFolder(), QString::fromLocal8Bit(qgetenv("PELLMAR_HOME")),
                  QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation));
}

QString prepare() {
    return FolderDefaults::fill(path(), defaultsBeside(binaryFolder()));
}

QString executablePath() {
    return binaryPath();
}

QString file(const QString& relative) {
    return path() + QLatin1Char('/') + relative;
}

} // namespace ProgramFolder
