#include "download/TargetNames.h"

#include "platform/Cp1252.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace TargetNames {

namespace {

// Enough for any real folder; a folder that refuses every number is not worth more tries.
constexpr int kMostNumbers = 10000;

} // namespace

QString FromCaption(const QByteArray& caption) {
    QString name = Cp1252::toUnicode(caption);
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    name.remove(QChar(0));
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        name = QStringLiteral("_");
    return name;
}

QString Numbered(const QString& name, int n) {
    const QString number = QStringLiteral(" (%1)").arg(n);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0)
        return name + number;
    return name.left(dot) + number + name.mid(dot);
}

Reservation Reserve(const QString& folder, const QString& name, QSet<QString>& taken) {
    for (int n = 1; n <= kMostNumbers; ++n) {
        const QString path = folder + QLatin1Char('/') + (n == 1 ? name : Numbered(name, n));
        if (taken.contains(path))
            continue;
        const int fd = ::open(QFile::encodeName(path).constData(),
                              O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd >= 0) {
            ::close(fd);
            taken.insert(path);
            return {path, QString()};
        }
        if (errno != EEXIST)
            return {path, QStringLiteral("Cannot create file %1: %2")
                              .arg(path, QString::fromLocal8Bit(std::strerror(errno)))};
    }
    return {QString(), QStringLiteral("No free name for %1 in %2").arg(name, folder)};
}

} // namespace TargetNames
