#include "core/HitText.h"

#include "platform/Cp1252.h"

#include <algorithm>

namespace HitText {

namespace {

constexpr qsizetype kMarkSize = sizeof(kUtf8Mark) - 1;

} // namespace

bool isUtf8(QByteArrayView bytes) {
    return bytes.startsWith(QByteArrayView(kUtf8Mark, kMarkSize));
}

QByteArray fromUnicode(const QString& text) {
    // A text that starts with "ï»¿" itself is marked too, or it would read as marked.
    QByteArray cp1252 = Cp1252::fromUnicode(text);
    if (Cp1252::toUnicode(cp1252) == text && !isUtf8(cp1252))
        return cp1252;
    return QByteArray(kUtf8Mark, kMarkSize) + text.toUtf8();
}

QByteArray fromUtf8(QByteArrayView bytes) {
    return fromUnicode(QString::fromUtf8(bytes));
}

QString toUnicode(QByteArrayView bytes) {
    if (isUtf8(bytes))
        return QString::fromUtf8(bytes.sliced(kMarkSize));
    return Cp1252::toUnicode(bytes);
}

QByteArray joined(const QList<QByteArray>& parts) {
    const bool marked = std::any_of(parts.begin(), parts.end(),
                                    [](const QByteArray& part) { return isUtf8(part); });
    if (!marked)
        return parts.join();
    QString text;
    for (const QByteArray& part : parts)
        text += toUnicode(part);
    return QByteArray(kUtf8Mark, kMarkSize) + text.toUtf8();
}

} // namespace HitText
