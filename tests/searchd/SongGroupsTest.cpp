#include "searchd/pages/SongGroups.h"

#include <gtest/gtest.h>

namespace {

// A crawled file: its name, tags, and (when bitrate > 0) its read quality.
struct Crawled {
    const char* path;
    const char* artist = "";
    const char* title = "";
    int bitrate = 0;
    Verdict verdict = Verdict::Unknown;
    double seconds = 0;
};

FoundFile crawled(const Crawled& c) {
    FoundFile found;
    found.fromLibrary = false;
    found.file = {QString::fromUtf8(c.path), 5000, QString::fromUtf8(c.artist),
                  QString::fromUtf8(c.title)};
    found.crawled.sourceUrl = QUrl(QStringLiteral("http://host.example/"));
    found.crawled.path = found.file.path;
    found.crawled.hasQuality = c.bitrate > 0;
    found.crawled.bitrate = c.bitrate;
    found.crawled.quality.bitrate = c.bitrate;
    found.crawled.quality.verdict = c.verdict;
    found.crawled.quality.durationSeconds = c.seconds;
    return found;
}

FoundFile library(const Crawled& c) {
    FoundFile found = crawled(c);
    found.fromLibrary = true;
    found.crawled = {};
    found.file.frame.error = c.bitrate > 0 ? QByteArray() : QByteArray("no frame");
    found.file.frame.quality.bitrate = c.bitrate;
    found.file.frame.quality.verdict = c.verdict;
    found.file.frame.quality.durationSeconds = c.seconds;
    return found;
}

QStringList pathsOf(const QList<FoundFile>& files) {
    QStringList paths;
    for (const FoundFile& file : files)
        paths.append(file.file.path);
    return paths;
}

} // namespace

TEST(SongGroups, TwoFilesAreOneSongByTagsOrCleanedNameWithin2Seconds) {
    struct Row {
        const char* why;
        Crawled a, b;
        int songs;
    };
    const Row rows[] = {
        {"same tags, other case and blanks",
         {"x/one.mp3", "Ella Fitzgerald", "Blue Moon"},
         {"y/two.mp3", " ella  FITZGERALD", "blue moon"},
         1},
        {"other tags, same name: the tags decide",
         {"a/Song.mp3", "Ella", "Song"},
         {"b/Song.mp3", "Louis", "Song"},
         2},
        {"same cleaned name",
         {"Jazz/01 - Ella Fitzgerald - Blue Moon.mp3"},
         {"ella_fitzgerald-blue.moon.MP3"},
         1},
        {"one tagged, one named alike",
         {"Blue Moon.mp3", "Ella", "Blue Moon"},
         {"blue moon.mp3"},
         1},
        {"other names", {"Blue Moon.mp3"}, {"Blue Monday.mp3"}, 2},
        {"durations 3 s apart",
         {"a.mp3", "Ella", "Blue Moon", 128, Verdict::Genuine, 200},
         {"b.mp3", "Ella", "Blue Moon", 128, Verdict::Genuine, 203},
         2},
        {"durations 2 s apart",
         {"a.mp3", "Ella", "Blue Moon", 128, Verdict::Genuine, 200},
         {"b.mp3", "Ella", "Blue Moon", 128, Verdict::Genuine, 202},
         1},
        {"one duration unknown",
         {"a.mp3", "Ella", "Blue Moon", 128, Verdict::Genuine, 200},
         {"b.mp3", "Ella", "Blue Moon"},
         1},
    };
    for (const Row& row : rows)
        EXPECT_EQ(SongGroups({crawled(row.a), crawled(row.b)}).songs().size(), row.songs)
            << row.why;
}

TEST(SongGroups, SourcesRankByVerdictThenBitrateThenSearchOrder) {
    struct Row {
        const char* why;
        QList<Crawled> files; // in the search's order
        QStringList best;     // the paths, best first
    };
    const Row rows[] = {
        {"genuine 128 before transcoded 320",
         {{"t.mp3", "A", "S", 320, Verdict::Transcoded},
          {"g.mp3", "A", "S", 128, Verdict::Genuine}},
         {"g.mp3", "t.mp3"}},
        {"genuine, unknown, transcoded, unread",
         {{"t.mp3", "A", "S", 320, Verdict::Transcoded},
          {"r.mp3", "A", "S"},
          {"u.mp3", "A", "S", 192},
          {"g.mp3", "A", "S", 96, Verdict::Genuine}},
         {"g.mp3", "u.mp3", "r.mp3", "t.mp3"}},
        {"higher bitrate first",
         {{"128.mp3", "A", "S", 128, Verdict::Genuine},
          {"320.mp3", "A", "S", 320, Verdict::Genuine},
          {"256.mp3", "A", "S", 256, Verdict::Genuine}},
         {"320.mp3", "256.mp3", "128.mp3"}},
        {"alike: the search's order",
         {{"b.mp3", "A", "S", 192}, {"a.mp3", "A", "S", 192}},
         {"b.mp3", "a.mp3"}},
    };
    for (const Row& row : rows) {
        QList<FoundFile> files;
        for (const Crawled& c : row.files)
            files.append(crawled(c));
        const QList<Song> songs = SongGroups(files).songs();
        ASSERT_EQ(songs.size(), 1) << row.why;
        EXPECT_EQ(pathsOf(songs[0].sources), row.best) << row.why;
    }
}

// Songs go where their best source stands; each song's sources stay together.
TEST(SongGroups, SongsFollowTheirBestSource) {
    const SongGroups groups({crawled({"Moon 128.mp3", "Ella", "Moon", 128, Verdict::Genuine}),
                             crawled({"Sun.mp3", "Ella", "Sun", 128, Verdict::Genuine}),
                             crawled({"Moon 320.mp3", "ella", "moon", 320, Verdict::Genuine})});
    EXPECT_EQ(pathsOf(groups.bestFirst()),
              QStringList({"Sun.mp3", "Moon 320.mp3", "Moon 128.mp3"}));
    const QList<Song> songs = groups.songs();
    EXPECT_EQ(songs[1].artist, "ella") << "the best tagged source's tags";
    EXPECT_EQ(songs[1].title, "moon");
    const Song named = SongGroups({crawled({"Jazz/03 - The Band - A Tune.mp3"})}).songs()[0];
    EXPECT_EQ(named.artist, "The Band") << "from the name when untagged";
    EXPECT_EQ(named.title, "A Tune");
}

TEST(SongGroups, LibraryCopyAtTheSameOrBetterQualityIsAlreadyHad) {
    struct Row {
        const char* why;
        Crawled libraryCopy;
        bool inLibrary;
    };
    const Crawled best{"Moon.mp3", "Ella", "Moon", 256, Verdict::Unknown, 200};
    const Row rows[] = {
        {"same bitrate", {"Ella - Moon.mp3", "ELLA", "moon", 256, Verdict::Genuine}, true},
        {"higher, verdict unknown", {"x.mp3", "Ella", "Moon", 320}, true},
        {"lower", {"x.mp3", "Ella", "Moon", 192, Verdict::Genuine}, false},
        {"a transcode", {"x.mp3", "Ella", "Moon", 320, Verdict::Transcoded}, false},
        {"quality unread", {"x.mp3", "Ella", "Moon"}, false},
        {"another song", {"x.mp3", "Ella", "Sun", 320, Verdict::Genuine}, false},
        {"3 s longer", {"x.mp3", "Ella", "Moon", 320, Verdict::Genuine, 203}, false},
    };
    for (const Row& row : rows) {
        SongGroups groups({crawled(best), crawled({"Moon 128.mp3", "Ella", "Moon", 128})});
        groups.markLibrary({library(row.libraryCopy)});
        const Song song = groups.songs().value(0);
        EXPECT_EQ(song.inLibrary, row.inLibrary) << row.why;
        EXPECT_EQ(song.libraryBitrate, row.inLibrary ? row.libraryCopy.bitrate : 0) << row.why;
    }
    // A copy found among the song's own sources counts as well.
    SongGroups found({crawled(best), library({"Ella - Moon.mp3", "", "", 320, Verdict::Genuine})});
    found.markLibrary({});
    EXPECT_TRUE(found.songs().value(0).inLibrary);
}
