#include "net/SplitUrl.h"

namespace {

// Splits "user:password" at its first colon; later colons stay in the password.
void splitUserInfo(const QByteArray& info, UrlParts& parts) {
    const qsizetype colon = info.indexOf(':');
    if (colon < 0) {
        parts.user = info;
        return;
    }
    parts.user = info.left(colon);
    parts.password = info.mid(colon + 1);
}

// Host, port and user information of the text between the scheme and the path.
void splitAuthority(const QByteArray& authority, UrlParts& parts) {
    // 1-based positions, 0 when absent.
    const qsizetype c = authority.lastIndexOf(':') + 1;
    const qsizetype a = authority.lastIndexOf('@') + 1;
    if (c == 0 && a == 0) {
        parts.host = authority;
        return;
    }
    if (a < c) {
        parts.port = authority.mid(c);
        parts.host = authority.mid(a, c - a - 1);
        if (a == 0)
            return;
    } else {
        parts.host = authority.mid(a);
    }
    splitUserInfo(authority.left(a - 1), parts);
}

} // namespace

UrlParts SplitUrl(const QByteArray& url) {
    UrlParts parts;
    if (url.isEmpty())
        return parts;

    // The cursor is the 1-based position of the last character before the remainder.
    qsizetype cursor = 0;
    const qsizetype separator = url.indexOf("://");
    if (separator >= 0) {
        parts.scheme = url.left(separator);
        cursor = separator + 3;
    } else if (url.startsWith('/')) {
        parts.scheme = "http";
        cursor = 1;
        if (url.size() > 1 && url.at(1) != '/') {
            parts.path = url;
            return parts;
        }
    } else if (url.left(5).toLower() == "http:") {
        parts.scheme = "http";
        cursor = 6;
        if (url.size() > 6 && url.at(6) != '/') {
            parts.path = url.mid(5);
            return parts;
        }
    } else if (url.left(7).toLower() == "mailto:") {
        parts.scheme = "mailto";
        cursor = url.indexOf(':') + 1;
    }

    const QByteArray remainder = url.mid(cursor);
    const qsizetype slash = remainder.indexOf('/');
    QByteArray authority = remainder;
    if (slash >= 0) {
        parts.path = remainder.mid(slash);
        authority = remainder.left(slash);
    }
    splitAuthority(authority, parts);
    return parts;
}
