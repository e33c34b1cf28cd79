#pragma once

#include <QByteArrayView>
#include <QString>
#include <optional>

// The names a crawled folder may hold: one path segment of valid UTF-8, 1 to 255 bytes, no
// control character (C0, DEL or C1: a tab or line break would break the text listings the
// service sends), no '/' or '\\' (the SMB listing separates folders with '\\'), and not "."
// or "..". Readers drop every other name rather than rewrite it: a rewritten name would
// lead nowhere on the server.
namespace SafeNames {

constexpr qsizetype kMaxNameBytes = 255;

// The name as text when the bytes (UTF-8, already percent-decoded) make a safe name.
std::optional<QString> fromUtf8(QByteArrayView bytes);

// "." or "..": a folder's own entries, left out without a word.
bool isDots(QByteArrayView bytes);

// The same test for a name that is already text.
bool isSafe(const QString& name);

} // namespace SafeNames
