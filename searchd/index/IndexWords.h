#pragma once

#include <QString>
#include <QStringList>

// The words the index matches, the same for every engine: a file's words are taken from its
// path (folders and name without ".mp3"), artist and title; a query word matches a file when
// it starts one of the file's words. Both sides are reduced the same way here, so that
// SQLite and PostgreSQL see the very same words and answer alike.
namespace IndexWords {

// Runs of letters and digits, lower case, accents removed (a letter with a mark becomes
// the letter), each at most kMaxLength characters. "Café Lumière" -> {"cafe", "lumiere"}.
QStringList of(const QString& text);

// A file's words in one text, joined by blanks: its path's folders and name (without
// ".mp3"), its artist and its title.
QString ofFile(const QString& path, const QString& artist, const QString& title);

// The query's words, each reduced as above and without repeats; empty when no word is left.
QStringList ofQuery(const QStringList& words);

constexpr int kMaxLength = 200; // UTF-16 units; well inside every engine's word limit

} // namespace IndexWords
