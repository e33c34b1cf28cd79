#include "net/HeaderEncodings.h"

#include <QDate>
#include <cmath>
#include <cstdio>

QByteArray Base64Encode(const QByteArray& data) {
    static const char symbols[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    QByteArray out;
    out.reserve((data.size() + 2) / 3 * 4);
    for (qsizetype i = 0; i < data.size(); i += 3) {
        const qsizetype left = data.size() - i;
        quint32 group = quint32(quint8(data[i])) << 16;
        if (left > 1)
            group |= quint32(quint8(data[i + 1])) << 8;
        if (left > 2)
            group |= quint32(quint8(data[i + 2]));
        out += symbols[(group >> 18) & 63];
        out += symbols[(group >> 12) & 63];
        out += left > 1 ? symbols[(group >> 6) & 63] : '=';
        out += left > 2 ? symbols[group & 63] : '=';
    }
    return out;
}

QByteArray FormatHttpDate(double value) {
    static const char dayNames[] = "MonTueWedThuFriSatSun";
    static const char monthNames[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    if (!std::isfinite(value) || std::fabs(value) > 3e6)
        value = 0; // outside any calendar date a QDate can hold

    auto days = static_cast<qint64>(std::trunc(value));
    qint64 msecs = std::llround(std::fabs(value - double(days)) * 86400000.0);
    if (msecs >= 86400000) { // rounding reached midnight: it is the next day
        msecs -= 86400000;
        ++days;
    }
    const QDate date = QDate(1899, 12, 30).addDays(days);
    // Whole days minus 2, kept positive for dates before 1899.
    const int dayIndex = int(((days - 2) % 7 + 7) % 7);
    const qint64 seconds = msecs / 1000;

    char text[64];
    std::snprintf(text, sizeof text, "%.3s, %2.2d %.3s %4.4d %2.2d:%2.2d:%2.2d",
                  dayNames + 3 * dayIndex, date.day(), monthNames + 3 * (date.month() - 1),
                  date.year(), int(seconds / 3600), int(seconds / 60 % 60), int(seconds % 60));
    return QByteArray(text);
}
