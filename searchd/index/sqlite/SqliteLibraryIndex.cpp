#include "searchd/index/sqlite/SqliteLibraryIndex.h"

#include "searchd/index/FrameBlob.h"
#include "searchd/index/IndexWords.h"
#include "searchd/index/sqlite/SqliteDatabase.h"

SqliteLibraryIndex::SqliteLibraryIndex(SqliteDatabase& db) : m_db(db) {}

// The statements that change the index, prepared once per transaction.
struct SqliteLibraryIndex::Writer {
    explicit Writer(SqliteDatabase& db)
        : store(db, "INSERT INTO files(path, size, modified, artist, title, frame, "
                    "quality_version, has_quality, bitrate, verdict) VALUES(?1, ?2, ?3, ?4, ?5, "
                    "?6, ?7, ?8, ?9, ?10) ON CONFLICT(path) DO UPDATE SET size=excluded.size, "
                    "modified=excluded.modified, artist=excluded.artist, title=excluded.title, "
                    "frame=excluded.frame, quality_version=excluded.quality_version, "
                    "has_quality=excluded.has_quality, bitrate=excluded.bitrate, "
                    "verdict=excluded.verdict RETURNING id"),
          dropText(db, "DELETE FROM files_fts WHERE rowid = ?1"),
          addText(db, "INSERT INTO files_fts(rowid, words) VALUES(?1, ?2)"),
          dropFile(db, "DELETE FROM files WHERE path = ?1 RETURNING id") {}

    void upsert(const LibraryChange& change) {
        const IndexedFile& file = change.file;
        store.bind(1, file.path);
        store.bind(2, file.size);
        store.bind(3, change.modified);
        store.bind(4, file.artist);
        store.bind(5, file.title);
        store.bindBlob(6, packFrame(file.frame));
        store.bind(7, qint64(file.frame.quality.version));
        const bool known = file.frame.error.isEmpty();
        store.bind(8, qint64(known));
        store.bind(9, qint64(known ? file.frame.quality.bitrate : 0));
        store.bind(10, QString::fromLatin1(verdictName(file.frame.quality.verdict)));
        store.step();
        const qint64 id = store.integer(0);
        store.reset();
        run(dropText, id);
        addText.bind(1, id);
        addText.bind(2, IndexWords::ofFile(file.path, file.artist, file.title));
        addText.step();
        addText.reset();
    }

    void remove(const QString& path) {
        dropFile.bind(1, path);
        const bool found = dropFile.step();
        const qint64 id = found ? dropFile.integer(0) : 0;
        dropFile.reset();
        if (found)
            run(dropText, id);
    }

private:
    static void run(SqliteStatement& statement, qint64 id) {
        statement.bind(1, id);
        statement.step();
        statement.reset();
    }

    SqliteStatement store, dropText, addText, dropFile;
};

QHash<QString, LibraryStamp> SqliteLibraryIndex::stamps() {
    std::lock_guard lock(m_db.mutex());
    QHash<QString, LibraryStamp> known;
    SqliteStatement all(m_db, "SELECT path, size, modified, quality_version FROM files");
    while (all.step())
        known.insert(all.text(0),
                     {all.integer(1), all.integer(2), static_cast<int>(all.integer(3))});
    return known;
}

void SqliteLibraryIndex::change(const QList<LibraryChange>& store, const QStringList& drop) {
    std::lock_guard lock(m_db.mutex());
    SqliteTransaction transaction(m_db, "BEGIN IMMEDIATE");
    Writer writer(m_db);
    for (const QString& path : drop)
        writer.remove(path);
    for (const LibraryChange& change : store)
        writer.upsert(change);
    transaction.commit();
}

QString SqliteLibraryIndex::matchExpression(const QStringList& tokens) {
    QStringList terms;
    for (QString token : tokens)
        terms.append(QLatin1Char('"') + token.replace(QLatin1Char('"'), QLatin1String("\"\"")) +
                     QLatin1String("\"*"));
    return terms.join(QLatin1Char(' '));
}

namespace {

// Without a quality filter the word index alone pages the matches; with one, the files'
// quality decides first.
const char* const kPageByWords =
    "SELECT path, size, artist, title, frame FROM files WHERE id IN (SELECT rowid FROM "
    "files_fts WHERE files_fts MATCH ?1 ORDER BY rowid LIMIT ?2 OFFSET ?3) ORDER BY id";
const char* const kPageByQuality =
    "SELECT path, size, artist, title, frame FROM files f JOIN files_fts ON files_fts.rowid = "
    "f.id WHERE files_fts MATCH ?1 AND (?4 <= 0 OR (f.has_quality = 1 AND f.bitrate >= ?4)) "
    "AND (?5 = 0 OR f.verdict <> 'transcoded') ORDER BY f.id LIMIT ?2 OFFSET ?3";
const char* const kCountByQuality =
    "SELECT count(*) FROM files f JOIN files_fts ON files_fts.rowid = f.id WHERE files_fts "
    "MATCH ?1 AND (?4 <= 0 OR (f.has_quality = 1 AND f.bitrate >= ?4)) AND (?5 = 0 OR "
    "f.verdict <> 'transcoded')";

void bindQuality(SqliteStatement& statement, const QualityFilter& quality) {
    statement.bind(4, qint64(quality.minBitrate));
    statement.bind(5, qint64(quality.hideTranscodes));
}

} // namespace

QList<IndexedFile> SqliteLibraryIndex::search(const QStringList& words,
                                              const QualityFilter& quality, int offset, int limit) {
    QList<IndexedFile> found;
    const QStringList tokens = IndexWords::ofQuery(words);
    if (tokens.isEmpty() || limit <= 0)
        return found;
    std::lock_guard lock(m_db.mutex());
    SqliteStatement query(m_db, quality.any() ? kPageByQuality : kPageByWords);
    query.bind(1, matchExpression(tokens));
    query.bind(2, static_cast<qint64>(limit));
    query.bind(3, static_cast<qint64>(std::max(offset, 0)));
    if (quality.any())
        bindQuality(query, quality);
    while (query.step())
        found.append({query.text(0), query.integer(1), query.text(2), query.text(3),
                      unpackFrame(query.blob(4))});
    return found;
}

int SqliteLibraryIndex::count(const QStringList& words, const QualityFilter& quality) {
    const QStringList tokens = IndexWords::ofQuery(words);
    if (tokens.isEmpty())
        return 0;
    std::lock_guard lock(m_db.mutex());
    SqliteStatement count(m_db, quality.any()
                                    ? kCountByQuality
                                    : "SELECT count(*) FROM files_fts WHERE files_fts MATCH ?1");
    count.bind(1, matchExpression(tokens));
    if (quality.any())
        bindQuality(count, quality);
    count.step();
    return static_cast<int>(count.integer(0));
}

int SqliteLibraryIndex::fileCount() {
    std::lock_guard lock(m_db.mutex());
    SqliteStatement count(m_db, "SELECT count(*) FROM files");
    count.step();
    return static_cast<int>(count.integer(0));
}
