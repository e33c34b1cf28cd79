#pragma once

#include <QStringList>

class SettingsFile;

// The search box's drop-down history: at most eleven entries, newest first, kept in the
// settings file's section "Searches".
namespace SearchHistory {

inline constexpr int kMaxEntries = 11;

// The entries after a search for text. A text equal to an entry but for letter case
// changes nothing (the entry does not move); otherwise the text goes on top and, with
// eleven entries, the oldest falls off.
QStringList Updated(QStringList entries, const QString& text);

// "Count" entries "Search0".., at most eleven: a damaged count never makes a start read
// the file a million times.
QStringList Read(const SettingsFile& ini);

// "Count" and every entry.
void Write(SettingsFile& ini, const QStringList& entries);

} // namespace SearchHistory
