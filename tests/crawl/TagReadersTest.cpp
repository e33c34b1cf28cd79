#include "crawl/FileHeadReader.h"
#include "searchd/library/FileTags.h"
#include "support/Mp3Corpus.h"

#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <taglib/id3v2framefactory.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>

// The crawler reads artist and title from a remote file's first bytes and last 128 bytes
// (crawl/Id3Tags); the library scan reads its own files with TagLib (searchd/FileTags). Both
// are asked about real files tagged at test time, and must give the same answer.
namespace {

// Runs lame with its tag options on dir/sound.wav into dir/name.mp3. Arguments reach lame in
// UTF-8, which it turns into Latin-1 or UTF-16 frames.
QString lameTagged(const QTemporaryDir& dir, const QString& name, const QStringList& tagArgs) {
    QProcess lame;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    lame.setProcessEnvironment(environment);
    QString mp3 = dir.filePath(name + QStringLiteral(".mp3"));
    lame.start(QStringLiteral("lame"), QStringList{QStringLiteral("--quiet")} + tagArgs +
                                           QStringList{dir.filePath("sound.wav"), mp3});
    if (!lame.waitForFinished(60000) || lame.exitStatus() != QProcess::NormalExit ||
        lame.exitCode() != 0)
        return QString();
    return mp3;
}

// What the crawler makes of the file: its leading bytes, as many as the crawler asks for,
// and its last 128 bytes.
std::pair<QString, QString> crawlerTags(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    const QByteArray start = bytes.left(FileHead::kFirstRead);
    const QByteArray head = bytes.left(qMax(FileHeadReader::bytesWanted(start), start.size()));
    const FileHead read = FileHeadReader::read(head, bytes.size(), bytes.right(128));
    return {read.artist, read.title};
}

std::pair<QString, QString> libraryTags(const QString& path) {
    const FileTags tags = FileTags::read(path);
    return {tags.artist, tags.title};
}

} // namespace

TEST(TagReaders, CrawlerAndLibraryReadTheSameTagsFromLameFiles) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_FALSE(
        Mp3Corpus::writeTestSignal(dir.path(), "sound", 0.3, 44100, 1, 7, Mp3Corpus::Band::Silence)
            .isEmpty());
    const QString longTitle = QStringLiteral("A Title Longer Than Thirty Characters Here");
    struct Row {
        const char* name;
        QStringList tagArgs;
        QString artist, title; // what both readers must say
    };
    const Row rows[] = {
        {"v1-and-v2", {"--add-id3v2", "--ta", "The Band", "--tt", "Song"}, "The Band", "Song"},
        {"v2-only", {"--id3v2-only", "--ta", "The Band", "--tt", "Song"}, "The Band", "Song"},
        {"v1-only", {"--id3v1-only", "--ta", "The Band", "--tt", "Song"}, "The Band", "Song"},
        // ID3v1 holds 30 characters; with an ID3v2 tag beside it the whole title is read.
        {"v1-long",
         {"--id3v1-only", "--ta", "The Band", "--tt", longTitle},
         "The Band",
         longTitle.left(30)},
        {"v2-long", {"--add-id3v2", "--ta", "The Band", "--tt", longTitle}, "The Band", longTitle},
        {"v1-spaces",
         {"--id3v1-only", "--space-id3v1", "--ta", "The Band", "--tt", "Song"},
         "The Band",
         "Song"},
        {"v1-latin1", {"--id3v1-only", "--ta", "Björk", "--tt", "Jóga"}, "Björk", "Jóga"},
        {"v2-latin1",
         {"--id3v2-only", "--id3v2-latin1", "--ta", "Mötley Crüe", "--tt", "Café"},
         "Mötley Crüe",
         "Café"},
        {"v2-utf16",
         {"--id3v2-only", "--id3v2-utf16", "--ta", "Ωmega Ψ", "--tt", "夜に駆ける"},
         "Ωmega Ψ",
         "夜に駆ける"},
        {"v2-blanks",
         {"--id3v2-only", "--ta", "The Band ", "--tt", " Intro "},
         "The Band",
         "Intro"},
    };
    for (const Row& row : rows) {
        const QString mp3 = lameTagged(dir, QString::fromLatin1(row.name), row.tagArgs);
        ASSERT_FALSE(mp3.isEmpty()) << row.name;
        const std::pair<QString, QString> expected{row.artist, row.title};
        EXPECT_EQ(crawlerTags(mp3), expected) << row.name;
        EXPECT_EQ(libraryTags(mp3), expected) << row.name;
    }
}

// lame writes no UTF-8 frames; TagLib writes an ID3v2.4 tag in UTF-8 over a lame file.
TEST(TagReaders, CrawlerAndLibraryReadTheSameUtf8Tags) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_FALSE(
        Mp3Corpus::writeTestSignal(dir.path(), "sound", 0.3, 44100, 1, 7, Mp3Corpus::Band::Silence)
            .isEmpty());
    const QString mp3 = lameTagged(dir, QStringLiteral("utf8"), {"--id3v1-only"});
    ASSERT_FALSE(mp3.isEmpty());
    const QString artist = QStringLiteral("Sigur Rós ✓");
    const QString title = QStringLiteral("Ágætis byrjun");
    {
        TagLib::ID3v2::FrameFactory::instance()->setDefaultTextEncoding(TagLib::String::UTF8);
        TagLib::MPEG::File file(QFile::encodeName(mp3).constData());
        TagLib::ID3v2::Tag* tag = file.ID3v2Tag(true);
        tag->setArtist(TagLib::String(artist.toStdString(), TagLib::String::UTF8));
        tag->setTitle(TagLib::String(title.toStdString(), TagLib::String::UTF8));
        // The frames keep the encoding they were made with; TagLib's default goes back.
        TagLib::ID3v2::FrameFactory::instance()->setDefaultTextEncoding(TagLib::String::Latin1);
        ASSERT_TRUE(
            file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripOthers, TagLib::ID3v2::v4));
    }
    QFile written(mp3);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    const QByteArray bytes = written.readAll();
    ASSERT_TRUE(bytes.startsWith("ID3\x04"));
    ASSERT_TRUE(bytes.contains("\x03Sigur R\xC3\xB3s")); // a UTF-8 frame
    const std::pair<QString, QString> expected{artist, title};
    EXPECT_EQ(crawlerTags(mp3), expected);
    EXPECT_EQ(libraryTags(mp3), expected);
}
