#include "search/EngineCharset.h"

#include <QList>

namespace {

const QByteArray kUtf8 = "charset=utf-8";

} // namespace

EngineCharset RequestedCharset(const QByteArray& url) {
    const qsizetype mark = url.indexOf('?');
    if (mark < 0)
        return EngineCharset::Windows1252;
    QByteArray query = url.mid(mark + 1);
    query.truncate(query.indexOf('#') < 0 ? query.size() : query.indexOf('#'));
    for (const QByteArray& parameter : query.split('&')) {
        if (parameter.toLower() == kUtf8)
            return EngineCharset::Utf8;
    }
    return EngineCharset::Windows1252;
}

EngineCharset AnswerCharset(const QByteArray& url, const QByteArray& contentType) {
    if (RequestedCharset(url) != EngineCharset::Utf8)
        return EngineCharset::Windows1252;
    // "text/html; charset=utf-8", also written "charset=UTF-8" or "charset=\"utf-8\"".
    for (QByteArray parameter : contentType.split(';')) {
        parameter = parameter.trimmed().toLower().replace('"', "");
        if (parameter == kUtf8)
            return EngineCharset::Utf8;
    }
    return EngineCharset::Windows1252;
}
