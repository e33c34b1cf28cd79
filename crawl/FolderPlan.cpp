#include "crawl/FolderPlan.h"

#include "crawl/FileHeadReader.h"

#include <QCryptographicHash>
#include <QHash>
#include <algorithm>

bool FolderPlan::isMp3(const QString& name) {
    return name.endsWith(QLatin1String(".mp3"), Qt::CaseInsensitive);
}

QString FolderPlan::join(const QString& folder, const QString& name) {
    return folder.isEmpty() ? name : folder + QLatin1Char('/') + name;
}

QByteArray FolderPlan::fingerprintOf(const QList<RemoteEntry>& entries) {
    QCryptographicHash hash(QCryptographicHash::Sha256);
    // A folder listed before the current quality reading is planned again, so that its
    // files' heads are read again.
    hash.addData(QByteArray::number(AudioQuality::kCurrentVersion));
    for (const RemoteEntry& entry : entries) {
        // A listing without the size and date of an MP3 file cannot tell a changed file
        // from the old one: such a folder is read again each time.
        if (!entry.folder && isMp3(entry.name) && (entry.size < 0 || !entry.modified.isValid()))
            return QByteArray();
        if (!entry.folder && !isMp3(entry.name))
            continue; // other files are not indexed
        hash.addData(entry.name.toUtf8());
        // A subfolder's own date and size change with its contents, which its own listing
        // tells: here only its name counts.
        if (entry.folder) {
            hash.addData(QByteArray("\x01/\x02", 3));
            continue;
        }
        hash.addData(QByteArray("\x01-", 2));
        hash.addData(QByteArray::number(entry.size));
        hash.addData(QByteArray(1, '\x01'));
        hash.addData(QByteArray::number(
            entry.modified.isValid() ? entry.modified.toMSecsSinceEpoch() : qint64(-1)));
        hash.addData(QByteArray(1, '\x02'));
    }
    return hash.result().toHex();
}

bool FolderPlan::vouches(const RemoteEntry& entry) {
    const QTime time = entry.modified.time();
    return entry.size >= 0 && entry.modified.isValid() && (time.second() != 0 || time.msec() != 0);
}

bool FolderPlan::keepsFolder(const QByteArray& before, const QByteArray& fingerprint,
                             const QList<RemoteEntry>& entries, bool forced) {
    if (before.isEmpty() || before != fingerprint)
        return false;
    if (!forced)
        return true;
    return std::all_of(entries.begin(), entries.end(), [](const RemoteEntry& entry) {
        return entry.folder || !isMp3(entry.name) || vouches(entry);
    });
}

FolderPlan FolderPlan::make(const QString& folder, const QList<RemoteEntry>& entries,
                            const QList<CrawledFile>& old, bool forced) {
    QHash<QString, const CrawledFile*> known;
    for (const CrawledFile& file : old)
        known.insert(file.path, &file);
    FolderPlan plan;
    plan.folder = folder;
    plan.fingerprint = fingerprintOf(entries);
    for (const RemoteEntry& entry : entries) {
        if (entry.folder || !isMp3(entry.name))
            continue;
        CrawledFile file;
        file.path = join(folder, entry.name);
        file.size = entry.size;
        file.modified = entry.modified;
        const CrawledFile* before = known.value(file.path);
        // Size and date must both be known to vouch for an unchanged file.
        // A head read before the current quality reading is read again.
        if (before && before->headRead && entry.size >= 0 && entry.modified.isValid() &&
            (!forced || vouches(entry)) && before->size == entry.size &&
            before->modified == entry.modified &&
            before->head.frame.quality.version == AudioQuality::kCurrentVersion) {
            file.etag = before->etag;
            file.headRead = true;
            file.head = before->head;
        } else {
            if (before)
                plan.before.insert(int(plan.files.size()), *before);
            plan.needHead << int(plan.files.size());
        }
        plan.files << file;
    }
    return plan;
}

void FolderPlan::keepOld(int index) {
    fingerprint.clear();
    const auto old = before.constFind(index);
    if (old != before.constEnd())
        files[index] = *old;
}

HeadRead::Range HeadRead::next() const {
    if (m_done)
        return {};
    if (m_head.isEmpty() && !m_headEnded)
        return {0, FileHead::kFirstRead, false};
    if (!m_headEnded) {
        const qint64 wanted = FileHeadReader::bytesWanted(m_head);
        if (wanted > m_head.size() && (m_size < 0 || m_head.size() < m_size))
            return {m_head.size(), wanted - m_head.size(), false};
    }
    if (m_tailRead)
        return {};
    const FileHead found = FileHeadReader::read(m_head, m_size, QByteArray());
    if (!found.artist.isEmpty() || !found.title.isEmpty())
        return {};
    if (m_headEnded || (m_size >= 0 && m_size <= m_head.size()))
        return {}; // the whole file is in the head, its tail too
    if (m_size >= 0 && m_size < 128)
        return {};
    return {m_size >= 0 ? m_size - 128 : -1, 128, true};
}

void HeadRead::add(const Range& range, const QByteArray& bytes, qint64 fileSize) {
    if (fileSize >= 0)
        m_size = fileSize;
    if (range.tail) {
        m_tail = bytes.right(128);
        m_tailRead = true;
        return;
    }
    m_head += bytes.left(range.count);
    if (bytes.size() < range.count)
        m_headEnded = true;
    if (m_head.size() >= FileHead::kMaxRead)
        m_headEnded = true;
}

FileHead HeadRead::result() const {
    QByteArray tail = m_tail;
    if (tail.isEmpty() && m_headEnded && m_head.size() >= 128)
        tail = m_head.right(128);
    FileHead found =
        FileHeadReader::read(m_head, m_headEnded ? qint64(m_head.size()) : m_size, tail);
    FileHeadReader::judge(m_head, found);
    return found;
}
