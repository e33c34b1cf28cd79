#include "cli/ConsolePlatform.h"

#include <cstdio>

MessageResult ConsolePlatform::Messages::show(const QString& caption, const QString& text,
                                              MessageIcon, MessageButtons buttons) {
    QString lines = text;
    lines.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    std::fprintf(stderr, "%s: %s\n", caption.toLocal8Bit().constData(),
                 lines.toLocal8Bit().constData());
    return buttons == MessageButtons::YesNo || buttons == MessageButtons::YesNoCancel
               ? MessageResult::No
               : MessageResult::Ok;
}
