#include "core/SearchHistory.h"

#include "platform/SettingsFile.h"

#include <algorithm>

namespace SearchHistory {

namespace {

const QString kSection = QStringLiteral("Searches");
const QString kCount = QStringLiteral("Count");

QString entryKey(qsizetype index) {
    return QStringLiteral("Search%1").arg(index);
}

} // namespace

QStringList Updated(QStringList entries, const QString& text) {
    const QString lower = text.toLower();
    const bool known = std::any_of(entries.cbegin(), entries.cend(),
                                   [&](const QString& entry) { return entry.toLower() == lower; });
    if (known)
        return entries;
    if (entries.isEmpty()) {
        entries.append(text);
        return entries;
    }
    if (entries.size() < kMaxEntries)
        entries.append(QString());
    for (qsizetype i = entries.size() - 1; i > 0; --i)
        entries[i] = entries[i - 1];
    entries[0] = text;
    return entries;
}

QStringList Read(const SettingsFile& ini) {
    const int count = std::min(ini.readInteger(kSection, kCount, 0), kMaxEntries);
    QStringList entries;
    for (int i = 0; i < count; ++i)
        entries.append(ini.readString(kSection, entryKey(i), QString()));
    return entries;
}

void Write(SettingsFile& ini, const QStringList& entries) {
    ini.writeInteger(kSection, kCount, static_cast<int>(entries.size()));
    for (qsizetype i = 0; i < entries.size(); ++i)
        ini.writeString(kSection, entryKey(i), entries[i]);
}

} // namespace SearchHistory
