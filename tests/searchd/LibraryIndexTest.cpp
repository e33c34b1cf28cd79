#include "searchd/LibraryFolder.h"
#include "searchd/library/LibraryScan.h"
#include "searchd/library/SampleLibrary.h"
#include "support/IndexEngines.h"
#include "support/TempHome.h"

#include <QDir>
#include <QFile>
#include <array>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QStringList paths(const QList<IndexedFile>& files) {
    QStringList list;
    for (const IndexedFile& file : files)
        list.append(file.path);
    return list;
}

QStringList words(const char* text) {
    return QString::fromUtf8(text).split(' ');
}

class LibraryIndexTest : public ::testing::TestWithParam<std::string> {
protected:
    TempHome home;
    std::unique_ptr<ServiceIndex> engine =
        openServiceIndex(freshIndexSettings(GetParam(), home.path()));
    ServiceIndex& index = *engine;

    void addNames(const QStringList& names) {
        QList<LibraryChange> files;
        for (const QString& name : names)
            files.append({{name, 100, {}, {}}, 0});
        index.changeLibrary(files, {});
    }
};

} // namespace

TEST_P(LibraryIndexTest, MatchesEveryWordCaseAndAccentsIgnored) {
    addNames({"Rock/Marla Quinn - Slow Burn.mp3", "Marla Quinn - Glass Houses.mp3",
              QStringLiteral("Caf\u00E9 Lumi\u00E8re - Blue Motel.mp3"), "Slow Motion.mp3"});
    EXPECT_EQ(paths(index.searchLibrary(words("marla SLOW"), 0, 10)),
              QStringList{"Rock/Marla Quinn - Slow Burn.mp3"});
    EXPECT_EQ(paths(index.searchLibrary(words("cafe lumiere"), 0, 10)).size(), 1);
    EXPECT_EQ(paths(index.searchLibrary({QStringLiteral("CAF\u00C9")}, 0, 10)).size(), 1);
    EXPECT_EQ(paths(index.searchLibrary(words("rock"), 0, 10)).size(), 1) << "folders count";
    EXPECT_EQ(paths(index.searchLibrary(words("slo"), 0, 10)).size(), 2) << "words are prefixes";
    EXPECT_TRUE(index.searchLibrary(words("mp3"), 0, 10).isEmpty()) << "the extension is not text";
    EXPECT_TRUE(index.searchLibrary(words("marla blues"), 0, 10).isEmpty());
    EXPECT_TRUE(index.searchLibrary({}, 0, 10).isEmpty());
}

TEST_P(LibraryIndexTest, PagesThroughResultsInIndexOrder) {
    QStringList names;
    for (int i = 0; i < 25; ++i)
        names.append(QStringLiteral("Band %1 - Song.mp3").arg(i, 2, 10, QLatin1Char('0')));
    addNames(names);
    EXPECT_EQ(paths(index.searchLibrary(words("song"), 0, 10)), names.mid(0, 10));
    EXPECT_EQ(paths(index.searchLibrary(words("song"), 20, 10)), names.mid(20));
    EXPECT_TRUE(index.searchLibrary(words("song"), 25, 10).isEmpty());
    EXPECT_EQ(index.libraryFileCount(), 25);
}

TEST_P(LibraryIndexTest, WordsWithQuotesCannotBreakTheQuery) {
    addNames({"A - B.mp3"});
    EXPECT_TRUE(index.searchLibrary({QStringLiteral("\"a\" OR *")}, 0, 10).isEmpty());
}

TEST_P(LibraryIndexTest, RescanFollowsTheFolderAndReadsTags) {
    const QString lib = home.file("lib");
    SampleLibrary::write(lib, 20);
    const LibraryFolder folder(lib);
    ScanSummary scan = LibraryScan::run(index, folder);
    EXPECT_EQ(scan.files, 20);
    EXPECT_EQ(scan.added, 20);

    // A tagged file: the tag's artist and title are searchable and name the file.
    const auto tagged = SampleLibrary::plan(20)[3];
    ASSERT_EQ(tagged.wrapping, SampleLibrary::Wrapping::Id3v2Tag);
    const QString renamed = QStringLiteral("Jazz/track03.mp3");
    QDir(lib).rename(tagged.path, renamed);
    home.write("lib/new.mp3", "new");
    home.write("lib/notes.txt", "not music");
    QFile::remove(lib + "/" + SampleLibrary::plan(20)[0].path);

    scan = LibraryScan::run(index, folder);
    EXPECT_EQ(scan.files, 20);
    EXPECT_EQ(scan.added, 2);
    EXPECT_EQ(scan.removed, 2);
    const auto found = index.searchLibrary(tagged.artist.split(QLatin1Char(' ')), 0, 50);
    const auto byPath = std::find_if(found.begin(), found.end(),
                                     [&](const IndexedFile& f) { return f.path == renamed; });
    ASSERT_NE(byPath, found.end());
    EXPECT_EQ(byPath->artist, tagged.artist);
    EXPECT_EQ(byPath->displayName(), tagged.artist + " - " + tagged.title + ".mp3");
    // Its quality, read past the tag: silence says nothing of a transcode.
    EXPECT_EQ(std::tuple(byPath->frame.error, byPath->frame.quality.bitrate,
                         byPath->frame.quality.verdict),
              std::tuple(QByteArray(), tagged.frame.bitrate(), Verdict::Unknown));
    EXPECT_EQ(index.searchLibrary(words("new"), 0, 10).size(), 1);
    EXPECT_EQ(index.searchLibrary(words("new"), 0, 10)[0].displayName(), "new.mp3");

    // Entries an older reading made are read again, once.
    QList<LibraryChange> older;
    for (auto [path, stamp] : index.libraryStamps().asKeyValueRange())
        older.append({{path, stamp.size, {}, {}, {}}, stamp.modified});
    index.changeLibrary(older, {});
    EXPECT_EQ(LibraryScan::run(index, folder).added, 20);
    EXPECT_EQ(LibraryScan::run(index, folder).added, 0);
}

TEST(LibraryFolder, LinksOutOfTheLibraryAreNotIndexed) {
    TempHome home;
    home.write("outside.mp3", "secret");
    QDir().mkpath(home.file("lib/sub"));
    home.write("lib/sub/inside.mp3", "fine");
    QFile::link(home.file("outside.mp3"), home.file("lib/escape.mp3"));
    QFile::link(home.file("lib/sub/inside.mp3"), home.file("lib/alias.mp3"));
    QFile::link(home.path(), home.file("lib/up")); // a folder link is not entered
    QFile::link("sub/inside.mp3", home.file("lib/near.mp3"));
    QFile::link("../outside.mp3", home.file("lib/out.mp3"));
    const LibraryFolder folder(home.file("lib"));
    EXPECT_EQ(folder.scan().size(), 3);
    // Opened beneath the folder (relative links) or by the real path (absolute ones).
    for (const auto& [path, opens] : {std::pair("near.mp3", true),
                                      {"alias.mp3", true},
                                      {"out.mp3", false},
                                      {"escape.mp3", false}}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(folder.open(path) != nullptr, opens);
    }
    EXPECT_TRUE(folder.resolve("alias.mp3").has_value());
    EXPECT_FALSE(folder.resolve("escape.mp3").has_value());
    EXPECT_FALSE(folder.resolve("up/outside.mp3").has_value());
    EXPECT_FALSE(folder.resolve("sub/../sub/inside.mp3").has_value());
    EXPECT_FALSE(folder.resolve("sub//inside.mp3").has_value());
    EXPECT_TRUE(folder.resolve("sub/inside.mp3").has_value());
}

TEST(LibraryFolder, OnlyFilesThatCanBeServedAreIndexedAndOpened) {
    TempHome home;
    QDir().mkpath(home.file("lib"));
    home.write("lib/fine.mp3", "fine");
    home.write("lib/Line\nbreak.mp3", "x");
    home.write("lib/Carriage\rreturn.mp3", "x");
    home.write("lib/locked.mp3", "x");
    QFile::setPermissions(home.file("lib/locked.mp3"), {});
    ASSERT_EQ(mkfifo(home.file("lib/pipe.mp3").toUtf8().constData(), 0644), 0);
    QFile::link(home.file("lib/pipe.mp3"), home.file("lib/pipe link.mp3"));
    const LibraryFolder folder(home.file("lib"));

    QStringList served = {"fine.mp3"};
    if (geteuid() == 0) // root reads every file
        served.append("locked.mp3");
    QStringList indexed;
    for (const LibraryEntry& entry : folder.scan())
        indexed.append(entry.path);
    EXPECT_EQ(indexed, served);

    const std::shared_ptr<ServedFile> fine = folder.open("fine.mp3");
    ASSERT_TRUE(fine);
    std::array<char, 8> bytes{};
    EXPECT_EQ(::pread(fine->handle(), bytes.data(), bytes.size(), 0), 4);
    EXPECT_EQ(std::tuple(std::string(bytes.data()), fine->size()), std::tuple("fine", 4));
    EXPECT_FALSE(folder.open("pipe.mp3")); // would block in open() if it were tried
    EXPECT_FALSE(folder.open("pipe link.mp3"));
}

INSTANTIATE_TEST_SUITE_P(Engines, LibraryIndexTest, testing::ValuesIn(indexEngineNames()),
                         indexEngineName);

TEST(LibraryFolder, RefusesAMissingFolder) {
    EXPECT_THROW(LibraryFolder(QStringLiteral("/nonexistent/pellmar")), ServiceError);
}

TEST_P(LibraryIndexTest, QualityFiltersHoldForTheLibrary) {
    const auto song = [](const char* path, int bitrate, Verdict verdict) {
        IndexedFile file{QString::fromLatin1(path), 100, {}, {}, {}};
        file.frame.quality = {};
        file.frame.quality.bitrate = bitrate;
        file.frame.quality.verdict = verdict;
        file.frame.error = bitrate > 0 ? QByteArray() : QByteArray("Invalid Header");
        return LibraryChange{file, 0};
    };
    index.changeLibrary({song("song one.mp3", 60, Verdict::Genuine),
                         song("song two.mp3", 320, Verdict::Transcoded),
                         song("song three.mp3", 0, Verdict::Unknown)},
                        {});
    const struct {
        QualityFilter filter;
        QStringList found;
    } rows[] = {
        {{}, {"song one.mp3", "song two.mp3", "song three.mp3"}},
        {{128, false}, {"song two.mp3"}},
        {{0, true}, {"song one.mp3", "song three.mp3"}},
        {{128, true}, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.found.join(',').toStdString());
        EXPECT_EQ(paths(index.searchLibraryFiles(words("song"), row.filter, 0, 10)), row.found);
        EXPECT_EQ(index.countLibraryFiles(words("song"), row.filter), row.found.size());
    }
}
