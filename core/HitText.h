#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

// The texts of hits (names, folders, hosts) are bytes in Windows-1252, as every engine has
// always sent them. Our own service can agree on UTF-8 (docs/search-run.md); a text from it
// that Windows-1252 can hold is kept in Windows-1252 all the same, byte for byte as any
// engine's, and only a text it cannot hold is kept as UTF-8 behind the UTF-8 byte order mark.
// Such a text stays one byte string, so the stores, the record fields and every comparison
// take it as they are, and it says itself how it reads.
namespace HitText {

// The mark in front of a UTF-8 text: the byte order mark EF BB BF, which no Windows-1252
// name starts with ("ï»¿").
inline constexpr char kUtf8Mark[] = "\xEF\xBB\xBF";

// True when the text is marked UTF-8.
bool isUtf8(QByteArrayView bytes);

// Unicode text in the hit form: Windows-1252 when it has a code for every character, else
// marked UTF-8.
QByteArray fromUnicode(const QString& text);

// UTF-8 text from our service in the hit form. Invalid sequences become U+FFFD.
QByteArray fromUtf8(QByteArrayView bytes);

// The text a hit text shows: marked UTF-8 decoded, anything else read as Windows-1252.
QString toUnicode(QByteArrayView bytes);

// Hit texts put together (host, folder and name to a path): plain concatenation while none
// is marked, else the whole as one marked UTF-8 text.
QByteArray joined(const QList<QByteArray>& parts);

} // namespace HitText
