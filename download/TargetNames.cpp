#include "download/TargetNames.h"

#include "core/HitText.h"

#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace TargetNames {

namespace {

// Enough for any real folder; a folder that refuses every number is not worth more tries.
constexpr int kMostNumbers = 10000;

const QString kMp3 = QStringLiteral(".mp3");

} // namespace

bool IsControl(QChar ch) {
    const char16_t code = ch.unicode();
    return code < 0x20 || (code >= 0x7F && code <= 0x9F);
}

QString FromCaption(const QByteArray& caption) {
    QString name = HitText::toUnicode(caption);
    for (QChar& ch : name) {
        if (ch == QLatin1Char('/') || IsControl(ch))
            ch = QLatin1Char('_');
    }
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        name = QStringLiteral("_");
    return name;
}

QString LocalName(const QByteArray& caption) {
    QString name = FromCaption(caption);
    while (name.endsWith(kMp3 + kMp3))
        name.chop(kMp3.size());
    if (!name.endsWith(kMp3))
        name += kMp3;
    return name;
}

QString SmbFileName(const QString& target) {
    const QString bare = target.endsWith(kMp3) ? target.chopped(kMp3.size()) : target;
    return bare.endsWith(kMp3) ? bare : bare + kMp3;
}

QString FtpFileName(const QString& target) {
    if (!target.endsWith(kMp3))
        return target + kMp3;
    if (target.endsWith(kMp3 + kMp3))
        return target.chopped(kMp3.size());
    return target;
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
            return {path,
                    QStringLiteral("Cannot create file %1: %2").arg(path, qt_error_string(errno))};
    }
    return {QString(), QStringLiteral("No free name for %1 in %2").arg(name, folder)};
}

} // namespace TargetNames
