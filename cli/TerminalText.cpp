#include "cli/TerminalText.h"

#include "download/TargetNames.h"

namespace {

bool turnsDirection(char16_t code) {
    return code == 0x200E || code == 0x200F || code == 0x061C ||
           (code >= 0x202A && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069);
}

QString hex(char16_t code, int width) {
    return QString::number(code, 16).toUpper().rightJustified(width, QLatin1Char('0'));
}

} // namespace

QByteArray forTerminal(const QString& text) {
    QString shown;
    shown.reserve(text.size());
    for (QChar ch : text) {
        if (TargetNames::IsControl(ch))
            shown += QStringLiteral("\\x") + hex(ch.unicode(), 2);
        else if (turnsDirection(ch.unicode()))
            shown += QStringLiteral("\\u") + hex(ch.unicode(), 4);
        else
            shown += ch;
    }
    return shown.toLocal8Bit();
}
