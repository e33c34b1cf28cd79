#include "download/LocationUrl.h"

#include <QList>

namespace {

// "a/./b/../c" -> "a/c", keeping a leading and a trailing slash.
QByteArray removeDotSegments(const QByteArray& path) {
    QList<QByteArray> kept;
    const QList<QByteArray> segments = path.split('/');
    for (qsizetype i = 0; i < segments.size(); ++i) {
        const QByteArray& segment = segments[i];
        const bool last = i == segments.size() - 1;
        if (segment == "..") {
            if (kept.size() > 1)
                kept.removeLast();
            if (last)
                kept.append(QByteArray());
        } else if (segment == ".") {
            if (last)
                kept.append(QByteArray());
        } else {
            kept.append(segment);
        }
    }
    return kept.join('/');
}

} // namespace

QByteArray ResolveLocation(const QByteArray& base, const QByteArray& location) {
    const QByteArray value = location.trimmed();
    const qsizetype schemeEnd = base.indexOf("://");
    if (value.contains("://") || schemeEnd < 0)
        return value;
    const QByteArray scheme = base.left(schemeEnd);
    if (value.startsWith("//"))
        return scheme + ':' + value;
    qsizetype pathStart = base.indexOf('/', schemeEnd + 3);
    if (pathStart < 0)
        pathStart = base.size();
    const QByteArray origin = base.left(pathStart);
    if (value.startsWith('/'))
        return origin + removeDotSegments(value);
    QByteArray basePath = base.mid(pathStart);
    basePath = basePath.left(basePath.indexOf('?') < 0 ? basePath.size() : basePath.indexOf('?'));
    if (basePath.isEmpty())
        basePath = "/";
    if (value.isEmpty())
        return origin + basePath;
    if (value.startsWith('?'))
        return origin + basePath + value;
    const QByteArray folder = basePath.left(basePath.lastIndexOf('/') + 1);
    return origin + removeDotSegments(folder + value);
}
