#include "crawl/ListingRead.h"

bool ListingCollector::add(RemoteEntry entry) {
    if (full())
        return false;
    if (entry.name.isEmpty()) {
        ++m_read.leftOut;
        return true;
    }
    const auto found = m_rows.constFind(entry.name);
    if (found != m_rows.constEnd()) {
        RemoteEntry& first = m_read.entries[*found];
        if (first.folder == entry.folder) {
            if (first.size < 0)
                first.size = entry.size;
            if (!first.modified.isValid())
                first.modified = entry.modified;
        }
        return true;
    }
    if (m_read.entries.size() >= kMaxEntries) {
        m_read.error = QStringLiteral("more than %1 entries").arg(kMaxEntries);
        return false;
    }
    m_rows.insert(entry.name, m_read.entries.size());
    m_read.entries.append(std::move(entry));
    return true;
}
