// The saved searches and their matches, alike in both engines.
#include "support/IndexEngines.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

namespace {

SavedSearch search(const char* words, const char* kind = "all", int minBitrate = 0,
                   bool genuineOnly = false) {
    SavedSearch s;
    s.words = QString::fromUtf8(words);
    s.kind = QString::fromLatin1(kind);
    s.minBitrate = minBitrate;
    s.genuineOnly = genuineOnly;
    return s;
}

SavedMatch match(const QString& key) {
    return {key,
            key + QStringLiteral(".mp3"),
            QStringLiteral("http://h.example/") + key,
            QStringLiteral("http"),
            4321,
            192,
            QStringLiteral("VBR"),
            QStringLiteral("genuine"),
            {},
            false};
}

QList<SavedMatch> matches(const QString& prefix, int count) {
    QList<SavedMatch> list;
    for (int i = 0; i < count; ++i)
        list.append(match(prefix + QString::number(i)));
    return list;
}

QStringList keys(const QList<SavedMatch>& list) {
    QStringList out;
    for (const SavedMatch& m : list)
        out.append(m.key);
    return out;
}

QDateTime at(int second) {
    return QDateTime::fromSecsSinceEpoch(1700000000 + second, Qt::UTC);
}

class SavedSearchIndexTest : public ::testing::TestWithParam<std::string> {
protected:
    TempHome home;
    IndexSettings settings = freshIndexSettings(GetParam(), home.path());
    std::unique_ptr<ServiceIndex> index = openServiceIndex(settings);

    qint64 saved(SavedSearch s) {
        EXPECT_EQ(index->addSavedSearch(s), SavedSearchStore::Added::Saved);
        return s.id;
    }
};

} // namespace

TEST_P(SavedSearchIndexTest, KeepsSearchesOnceEachAndRemovesThem) {
    SavedSearch first = search("Miles Davis", "http", 192, true);
    ASSERT_EQ(index->addSavedSearch(first), SavedSearchStore::Added::Saved);
    // The same reduced words, kind, bitrate and switch are the same search.
    for (const char* same : {"miles   DAVIS", "Mîles, Davis!"}) {
        SavedSearch again = search(same, "http", 192, true);
        EXPECT_EQ(index->addSavedSearch(again), SavedSearchStore::Added::Duplicate) << same;
    }
    const qint64 other = saved(search("Miles Davis", "ftp", 192, true));
    saved(search("Miles Davis", "http", 128, true));
    saved(search("Miles Davis", "http", 192, false));

    const QList<SavedSearch> all = index->savedSearches();
    ASSERT_EQ(all.size(), 4);
    const SavedSearch& kept = all.first();
    EXPECT_EQ(kept.id, first.id);
    EXPECT_EQ(kept.words, "Miles Davis");
    EXPECT_EQ(kept.kind, "http");
    EXPECT_EQ(kept.minBitrate, 192);
    EXPECT_TRUE(kept.genuineOnly);
    EXPECT_EQ(kept.savedAt, first.savedAt);
    EXPECT_FALSE(kept.lastRun.isValid());
    EXPECT_EQ(index->savedSearch(other)->kind, "ftp");

    EXPECT_TRUE(index->removeSavedSearch(other));
    EXPECT_FALSE(index->removeSavedSearch(other));
    EXPECT_FALSE(index->savedSearch(other).has_value());
    EXPECT_FALSE(index->markSavedSeen(other));
    EXPECT_FALSE(index->recordSavedRun(other, matches("a", 1), at(1)));
    EXPECT_EQ(index->savedSearches().size(), 3);
    // An id is never given again.
    EXPECT_GT(saved(search("kind of blue")), other);
}

TEST_P(SavedSearchIndexTest, KeepsAtMostAHundredSearches) {
    for (int i = 0; i < SavedSearchStore::kMaxSearches; ++i)
        saved(search(QByteArray("song" + QByteArray::number(i)).constData()));
    SavedSearch more = search("one more");
    EXPECT_EQ(index->addSavedSearch(more), SavedSearchStore::Added::Full);
    index->removeSavedSearch(index->savedSearches().first().id);
    EXPECT_EQ(index->addSavedSearch(more), SavedSearchStore::Added::Saved);
}

TEST_P(SavedSearchIndexTest, FirstRunLearnsLaterRunsFindNewUntilSeen) {
    const qint64 id = saved(search("miles"));
    const qint64 other = saved(search("davis"));
    ASSERT_TRUE(index->recordSavedRun(id, matches("old", 2), at(1)));
    EXPECT_EQ(index->newSavedMatches(id), QList<SavedMatch>());
    EXPECT_EQ(index->savedSearch(id)->lastRun, at(1));

    ASSERT_TRUE(index->recordSavedRun(id, {match("b"), match("a"), match("old0")}, at(2)));
    ASSERT_TRUE(index->recordSavedRun(id, {match("c")}, at(3)));
    const QList<SavedMatch> fresh = index->newSavedMatches(id);
    // Newest first; within a run in the run's order. A file found before stays as it was.
    EXPECT_EQ(keys(fresh), (QStringList{"c", "b", "a"}));
    SavedMatch expected = match("c");
    expected.foundAt = at(3);
    expected.isNew = true;
    EXPECT_EQ(fresh.first(), expected);
    EXPECT_EQ(index->savedMatchKeys(id), (QSet<QString>{"old0", "old1", "a", "b", "c"}));
    EXPECT_EQ(index->savedMatchKeys(other), QSet<QString>());

    EXPECT_TRUE(index->markSavedSeen(id));
    EXPECT_EQ(index->newSavedMatches(id), QList<SavedMatch>());
    EXPECT_EQ(index->savedMatchKeys(id).size(), 5);
    // Deleting a search forgets its matches.
    EXPECT_TRUE(index->removeSavedSearch(id));
    EXPECT_EQ(index->savedMatchKeys(id), QSet<QString>());
}

TEST_P(SavedSearchIndexTest, RemembersAtMostAThousandMatchesKeepingTheNewOnes) {
    const qint64 id = saved(search("love"));
    ASSERT_TRUE(index->recordSavedRun(id, matches("first", 600), at(1)));
    ASSERT_TRUE(index->recordSavedRun(id, matches("second", 400), at(2)));
    index->markSavedSeen(id);
    ASSERT_TRUE(index->recordSavedRun(id, matches("third", 3), at(3)));
    const QSet<QString> kept = index->savedMatchKeys(id);
    EXPECT_EQ(kept.size(), SavedSearchStore::kMaxMatches);
    // The oldest seen ones are forgotten; the new ones stay.
    EXPECT_FALSE(kept.contains("first0"));
    EXPECT_TRUE(kept.contains("first3"));
    EXPECT_TRUE(kept.contains("second0"));
    EXPECT_EQ(index->newSavedMatches(id).size(), 3);
}

INSTANTIATE_TEST_SUITE_P(Engines, SavedSearchIndexTest, testing::ValuesIn(indexEngineNames()),
                         indexEngineName);
