#include "searchd/index/IndexWords.h"
#include "searchd/index/sqlite/SqliteDatabase.h"
#include "searchd/index/sqlite/SqliteIndex.h"
#include "searchd/index/sqlite/SqliteSchema.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

TEST(IndexWords, ReducesTextToLowerCaseWordsWithoutAccents) {
    const struct {
        QString text;
        QStringList words;
    } rows[] = {
        {QStringLiteral("Caf\u00E9 Lumi\u00E8re"), {"cafe", "lumiere"}},
        {"AC/DC - Back_in-Black (1980)", {"ac", "dc", "back", "in", "black", "1980"}},
        {QStringLiteral("Cafe\u0301"), {"cafe"}}, // a combining accent
        {QStringLiteral("\u03A9\u03B4\u03AE"), {QStringLiteral("\u03C9\u03B4\u03B7")}},
        {QStringLiteral("\U0001D11EMusic \U0001D400x"), {"music", QStringLiteral("\U0001D400x")}},
        {QStringLiteral("\u65E5\u672C\u8A9E\u306E\u6B4C"),
         {QStringLiteral("\u65E5\u672C\u8A9E\u306E\u6B4C")}},
        {" \t'\"*:& ", {}},
        {QString(300, QLatin1Char('A')), {QString(200, QLatin1Char('a'))}},
    };
    for (const auto& row : rows)
        EXPECT_EQ(IndexWords::of(row.text), row.words) << qPrintable(row.text);
    EXPECT_EQ(IndexWords::ofFile("Rock/Marla - Slow.MP3", "The Band", ""),
              "rock marla slow the band");
    EXPECT_EQ(IndexWords::ofQuery({"Slow", "SLOW-burn", "\"", "burn"}),
              (QStringList{"slow", "burn"}));
}

// A file of the first layout: the library matched by FTS5's own word rules over three columns.
TEST(SqliteSchema, UpgradesTheFirstLayoutInPlaceAndRefusesANewerOne) {
    TempHome home;
    const QString file = home.file("old.db");
    {
        SqliteDatabase db(file);
        db.exec("CREATE TABLE files(id INTEGER PRIMARY KEY, path TEXT UNIQUE NOT NULL, "
                "size INTEGER NOT NULL, modified INTEGER NOT NULL, artist TEXT NOT NULL, "
                "title TEXT NOT NULL); CREATE VIRTUAL TABLE files_fts USING fts5(name, artist, "
                "title, tokenize='unicode61 remove_diacritics 2', prefix='1 2 3'); "
                "INSERT INTO files VALUES(7, 'Jazz/Caf\xC3\xA9 Song.mp3', 10, 1, 'Marla', 'Blue'); "
                "INSERT INTO files_fts(rowid, name, artist, title) VALUES(7, 'Jazz Caf\xC3\xA9 "
                "Song', 'Marla', 'Blue'); CREATE TABLE submissions(id INTEGER PRIMARY KEY, kind "
                "TEXT NOT NULL, site TEXT NOT NULL, sender TEXT NOT NULL, received INTEGER NOT "
                "NULL); INSERT INTO submissions VALUES(1, 'ftp', 'x', 'y', 0); "
                "PRAGMA user_version=1");
    }
    {
        SqliteIndex index(file);
        EXPECT_EQ(index.countLibrary({"cafe", "marla", "blu"}), 1);
        EXPECT_EQ(index.submissions().size(), 1);
        EXPECT_EQ(index.crawledSources().size(), 0);
        EXPECT_EQ(index.savedSearches().size(), 0);
    }
    {
        SqliteDatabase db(file);
        db.exec("UPDATE pellmar_schema SET version = 99");
    }
    try {
        SqliteIndex index(file);
        ADD_FAILURE() << "a newer schema was opened";
    } catch (const ServiceError& error) {
        EXPECT_EQ(QString::fromUtf8(error.what()),
                  QStringLiteral("the index in SQLite file %1 has schema version 99; this "
                                 "pellmar-searchd knows up to %2")
                      .arg(file)
                      .arg(SqliteSchema::kVersion));
    }
}
