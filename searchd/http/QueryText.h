#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QMap>
#include <QString>
#include <QStringList>
#include <optional>

// Reading the request targets the program sends. The program does not escape its search
// text: blanks become '+', '/' and '"' are escaped, and everything else, '&', '%' and
// Windows-1252 letters included, arrives as typed.
namespace QueryText {

struct Target {
    QByteArray path;  // still escaped
    QByteArray query; // after the first '?', still escaped
};

Target splitTarget(QByteArrayView target);

// The value of name=..., where the value may itself hold '&': it runs from "name=" to the
// end of the query, less any trailing "&key=value" whose key is in trailingKeys; those
// land in trailing. Nothing when the query has no "name=".
std::optional<QByteArray> openEndedValue(QByteArrayView query, QByteArrayView name,
                                         const QList<QByteArray>& trailingKeys,
                                         QMap<QByteArray, QByteArray>* trailing = nullptr);

// Undoes %XX escapes; a '%' without two hex digits after it stays as it is. With
// plusIsSpace, '+' becomes a blank.
QByteArray percentDecode(QByteArrayView bytes, bool plusIsSpace);

// Like percentDecode without '+', but nothing when a '%' is not followed by two hex digits.
std::optional<QByteArray> strictPercentDecode(QByteArrayView bytes);

// Text from the bytes of a decoded value: UTF-8 when the bytes are valid UTF-8, otherwise
// Windows-1252, the program's own code page. Nothing when the text holds control
// characters or codes that Windows-1252 leaves undefined.
std::optional<QString> decodeText(QByteArrayView bytes);

// Strict UTF-8, for file paths. Nothing for invalid UTF-8 or control characters.
std::optional<QString> decodeUtf8(QByteArrayView bytes);

// The words a search matches: runs of letters and digits.
QStringList searchWords(const QString& text);

// Escapes text (as UTF-8) for a query value: blanks become '+', every other byte but
// ASCII digits becomes %XX, so that no marker word of a result page can appear in a link.
QByteArray encodeValue(const QString& text);

// Escapes a relative file path for a URL: every byte but ASCII letters, digits, '-', '.',
// '_', '~' and the '/' between folders becomes %XX.
QByteArray encodePath(const QString& path);

} // namespace QueryText
