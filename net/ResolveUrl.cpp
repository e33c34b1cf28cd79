#include "net/ResolveUrl.h"

#include <QList>

namespace {

// The five components of a URL reference; "has" flags tell an empty part from none.
struct Reference {
    bool hasScheme = false;
    QByteArray scheme;
    bool hasAuthority = false;
    QByteArray authority;
    QByteArray path;
    bool hasQuery = false;
    QByteArray query;
};

bool IsSchemeStart(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsSchemeChar(char c) {
    return IsSchemeStart(c) || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
}

// The scheme ends at the first ':' when only scheme characters come before it.
qsizetype SchemeEnd(const QByteArray& text) {
    if (text.isEmpty() || !IsSchemeStart(text[0]))
        return -1;
    for (qsizetype i = 1; i < text.size(); ++i) {
        if (text[i] == ':')
            return i;
        if (!IsSchemeChar(text[i]))
            return -1;
    }
    return -1;
}

Reference Parse(QByteArray text) {
    Reference parts;
    const qsizetype fragment = text.indexOf('#');
    if (fragment >= 0)
        text.truncate(fragment);
    const qsizetype schemeEnd = SchemeEnd(text);
    if (schemeEnd > 0) {
        parts.hasScheme = true;
        parts.scheme = text.left(schemeEnd).toLower();
        text.remove(0, schemeEnd + 1);
    }
    if (text.startsWith("//")) {
        qsizetype end = 2;
        while (end < text.size() && text[end] != '/' && text[end] != '?')
            ++end;
        parts.hasAuthority = true;
        parts.authority = text.mid(2, end - 2);
        text.remove(0, end);
    }
    const qsizetype query = text.indexOf('?');
    if (query >= 0) {
        parts.hasQuery = true;
        parts.query = text.mid(query + 1);
        text.truncate(query);
    }
    parts.path = text;
    return parts;
}

// Removes "." and ".." segments; ".." never climbs above the root.
QByteArray RemoveDotSegments(const QByteArray& path) {
    const QList<QByteArray> segments = path.split('/');
    QList<QByteArray> kept;
    for (qsizetype i = 0; i < segments.size(); ++i) {
        const QByteArray& segment = segments[i];
        const bool last = i == segments.size() - 1;
        if (segment == "." || segment == "..") {
            if (segment == ".." && kept.size() > 1)
                kept.removeLast();
            if (last)
                kept.append(QByteArray()); // "a/.." ends in a folder: keep the slash
            continue;
        }
        kept.append(segment);
    }
    return kept.join('/');
}

// The link's path appended to the folder of the base path.
QByteArray Merge(const Reference& base, const QByteArray& path) {
    if (base.hasAuthority && base.path.isEmpty())
        return '/' + path;
    const qsizetype slash = base.path.lastIndexOf('/');
    return base.path.left(slash + 1) + path;
}

QByteArray Compose(const Reference& target) {
    QByteArray url = target.scheme + "://" + target.authority;
    url += target.path.startsWith('/') ? target.path : '/' + target.path;
    if (target.hasQuery)
        url += '?' + target.query;
    return url;
}

} // namespace

QByteArray ResolveUrl(const QByteArray& base, const QByteArray& link) {
    const Reference from = Parse(base);
    Reference ref = Parse(link.trimmed());
    // "http:page" from an http page is a relative link, as browsers read it.
    if (ref.hasScheme && ref.scheme == from.scheme && !ref.hasAuthority)
        ref.hasScheme = false;

    Reference target;
    if (ref.hasScheme) {
        target = ref;
        target.path = RemoveDotSegments(ref.path);
        return Compose(target);
    }
    target.scheme = from.scheme;
    if (ref.hasAuthority) {
        target.authority = ref.authority;
        target.path = RemoveDotSegments(ref.path);
        target.hasQuery = ref.hasQuery;
        target.query = ref.query;
        return Compose(target);
    }
    target.authority = from.authority;
    if (ref.path.isEmpty()) {
        target.path = from.path;
        target.hasQuery = ref.hasQuery || from.hasQuery;
        target.query = ref.hasQuery ? ref.query : from.query;
        return Compose(target);
    }
    target.path = RemoveDotSegments(ref.path.startsWith('/') ? ref.path : Merge(from, ref.path));
    target.hasQuery = ref.hasQuery;
    target.query = ref.query;
    return Compose(target);
}
