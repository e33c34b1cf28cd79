#include "searchd/LibraryIndex.h"

#include "searchd/FileTags.h"
#include "searchd/LibraryFolder.h"
#include "searchd/SqliteDatabase.h"

#include <QFileInfo>
#include <QHash>

namespace {

constexpr int kSchemaVersion = 1;

struct KnownFile {
    qint64 id = 0;
    qint64 size = 0;
    qint64 modified = 0;
};

} // namespace

QString LibraryIndex::searchableName(const QString& path) {
    QString name = path;
    if (LibraryFolder::isMp3Name(name))
        name.chop(4);
    return name.replace(QLatin1Char('/'), QLatin1Char(' '));
}

QString IndexedFile::displayName() const {
    if (!artist.isEmpty() && !title.isEmpty())
        return artist + QLatin1String(" - ") + title + QLatin1String(".mp3");
    return path.section(QLatin1Char('/'), -1);
}

LibraryIndex::LibraryIndex(SqliteDatabase& db) : m_db(db) {
    std::lock_guard lock(m_db.mutex());
    SqliteStatement version(m_db, "PRAGMA user_version");
    version.step();
    if (version.integer(0) != kSchemaVersion) {
        m_db.exec("DROP TABLE IF EXISTS files_fts; DROP TABLE IF EXISTS files");
        m_db.exec("CREATE TABLE files(id INTEGER PRIMARY KEY, path TEXT UNIQUE NOT NULL, "
                  "size INTEGER NOT NULL, modified INTEGER NOT NULL, artist TEXT NOT NULL, "
                  "title TEXT NOT NULL)");
        m_db.exec("CREATE VIRTUAL TABLE files_fts USING fts5(name, artist, title, "
                  "tokenize='unicode61 remove_diacritics 2', prefix='1 2 3')");
        m_db.exec(("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str());
    }
}

// The statements that change the index, prepared once per transaction.
struct LibraryIndex::Writer {
    explicit Writer(SqliteDatabase& db)
        : store(db, "INSERT INTO files(path, size, modified, artist, title) "
                    "VALUES(?1, ?2, ?3, ?4, ?5) ON CONFLICT(path) DO UPDATE SET "
                    "size=excluded.size, modified=excluded.modified, "
                    "artist=excluded.artist, title=excluded.title RETURNING id"),
          dropText(db, "DELETE FROM files_fts WHERE rowid = ?1"),
          addText(db, "INSERT INTO files_fts(rowid, name, artist, title) VALUES(?1, ?2, ?3, ?4)"),
          dropFile(db, "DELETE FROM files WHERE id = ?1") {}

    void upsert(const IndexedFile& file, qint64 modified) {
        store.bind(1, file.path);
        store.bind(2, file.size);
        store.bind(3, modified);
        store.bind(4, file.artist);
        store.bind(5, file.title);
        store.step();
        const qint64 id = store.integer(0);
        store.reset();
        run(dropText, id);
        addText.bind(1, id);
        addText.bind(2, searchableName(file.path));
        addText.bind(3, file.artist);
        addText.bind(4, file.title);
        addText.step();
        addText.reset();
    }

    void remove(qint64 id) {
        run(dropText, id);
        run(dropFile, id);
    }

private:
    static void run(SqliteStatement& statement, qint64 id) {
        statement.bind(1, id);
        statement.step();
        statement.reset();
    }

    SqliteStatement store, dropText, addText, dropFile;
};

ScanSummary LibraryIndex::rescan(const LibraryFolder& library) {
    const QList<LibraryEntry> entries = library.scan();
    std::lock_guard lock(m_db.mutex());
    QHash<QString, KnownFile> known;
    {
        SqliteStatement all(m_db, "SELECT id, path, size, modified FROM files");
        while (all.step())
            known.insert(all.text(1), {all.integer(0), all.integer(2), all.integer(3)});
    }
    ScanSummary summary;
    summary.files = static_cast<int>(entries.size());
    SqliteTransaction transaction(m_db);
    Writer writer(m_db);
    for (const LibraryEntry& entry : entries) {
        const auto found = known.constFind(entry.path);
        const bool unchanged =
            found != known.cend() && found->size == entry.size && found->modified == entry.modified;
        if (found != known.cend())
            known.erase(found);
        if (unchanged)
            continue;
        const FileTags tags = FileTags::read(library.root() + QLatin1Char('/') + entry.path);
        writer.upsert({entry.path, entry.size, tags.artist, tags.title}, entry.modified);
        ++summary.added;
    }
    for (const KnownFile& gone : std::as_const(known))
        writer.remove(gone.id);
    summary.removed = static_cast<int>(known.size());
    transaction.commit();
    return summary;
}

void LibraryIndex::add(const QList<IndexedFile>& files) {
    std::lock_guard lock(m_db.mutex());
    SqliteTransaction transaction(m_db);
    Writer writer(m_db);
    for (const IndexedFile& file : files)
        writer.upsert(file, 0);
    transaction.commit();
}

QString LibraryIndex::matchExpression(const QStringList& words) {
    QStringList terms;
    for (QString word : words)
        terms.append(QLatin1Char('"') + word.replace(QLatin1Char('"'), QLatin1String("\"\"")) +
                     QLatin1String("\"*"));
    return terms.join(QLatin1Char(' '));
}

QList<IndexedFile> LibraryIndex::search(const QStringList& words, int offset, int limit) {
    QList<IndexedFile> found;
    if (words.isEmpty() || limit <= 0)
        return found;
    std::lock_guard lock(m_db.mutex());
    SqliteStatement query(m_db, "SELECT path, size, artist, title FROM files WHERE id IN "
                                "(SELECT rowid FROM files_fts WHERE files_fts MATCH ?1 "
                                "ORDER BY rowid LIMIT ?2 OFFSET ?3) ORDER BY id");
    query.bind(1, matchExpression(words));
    query.bind(2, static_cast<qint64>(limit));
    query.bind(3, static_cast<qint64>(offset));
    while (query.step())
        found.append({query.text(0), query.integer(1), query.text(2), query.text(3)});
    return found;
}

int LibraryIndex::count(const QStringList& words) {
    if (words.isEmpty())
        return 0;
    std::lock_guard lock(m_db.mutex());
    SqliteStatement count(m_db, "SELECT count(*) FROM files_fts WHERE files_fts MATCH ?1");
    count.bind(1, matchExpression(words));
    count.step();
    return static_cast<int>(count.integer(0));
}

int LibraryIndex::fileCount() {
    std::lock_guard lock(m_db.mutex());
    SqliteStatement count(m_db, "SELECT count(*) FROM files");
    count.step();
    return static_cast<int>(count.integer(0));
}
