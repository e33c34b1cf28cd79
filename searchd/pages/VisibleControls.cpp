#include "searchd/pages/VisibleControls.h"

#include <QList>

namespace VisibleControls {

namespace {

bool acts(char32_t code) {
    switch (QChar::category(code)) {
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return true;
    default:
        return false;
    }
}

QString written(char32_t code) {
    const auto [prefix, digits] = code <= 0xFF     ? std::pair(QLatin1String("\\x"), 2)
                                  : code <= 0xFFFF ? std::pair(QLatin1String("\\u"), 4)
                                                   : std::pair(QLatin1String("\\U"), 8);
    return prefix + QString::number(code, 16).toUpper().rightJustified(digits, QLatin1Char('0'));
}

} // namespace

QString shown(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const char32_t code : text.toUcs4()) {
        if (acts(code))
            out += written(code);
        else
            out += QString::fromUcs4(&code, 1);
    }
    return out;
}

} // namespace VisibleControls
