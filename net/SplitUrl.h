#pragma once

#include <QByteArray>

// The six parts of a URL, a proxy setting or a Location value. Each is empty when absent;
// the port stays text and is never checked.
struct UrlParts {
    QByteArray scheme;
    QByteArray user;
    QByteArray password;
    QByteArray host;
    QByteArray port;
    QByteArray path;

    bool operator==(const UrlParts&) const = default;
};

// Cuts a URL into its parts. Never fails: text it cannot recognise lands in the parts
// (a bare name becomes the host, "/dir/file" the path with scheme "http").
UrlParts SplitUrl(const QByteArray& url);
