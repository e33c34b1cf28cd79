#include "core/DataFileConfig.h"
#include "core/TextHelpers.h"
#include "platform/Errors.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

namespace {

QList<QString> sampleLines() {
    return {QStringLiteral("7"),
            QStringLiteral("http://home.example"),
            QStringLiteral("kept"),
            QStringLiteral("12"),
            QStringLiteral("http://one.example/s?w="),
            QStringLiteral("http://two.example/s?w="),
            QStringLiteral("also kept"),
            QStringLiteral("http://smb.example/s?q="),
            QStringLiteral("http://ftp.example/s?q=")};
}

QByteArray scrambled(const QList<QString>& lines, const char* end = "\r\n") {
    QByteArray out;
    for (const QString& line : lines)
        out += ScrambleText(line.toLatin1()) + end;
    return out;
}

} // namespace

TEST(DataFileConfig, ReadsTheNineLinesIntoTheirFields) {
    TempHome home;
    home.write(QStringLiteral("Pellmar.dat"), scrambled(sampleLines()) + "ignored\r\n");
    DataFileConfig config;
    EXPECT_EQ(config.load(home.file(QStringLiteral("Pellmar.dat"))),
              DataFileConfig::LoadResult::Loaded);
    EXPECT_EQ(config.DataVersion, 7);
    EXPECT_EQ(config.HomeUrl, QStringLiteral("http://home.example"));
    EXPECT_EQ(config.HttpQueryUrl1, QStringLiteral("http://one.example/s?w="));
    EXPECT_EQ(config.HttpQueryUrl2, QStringLiteral("http://two.example/s?w="));
    EXPECT_EQ(config.SmbQueryUrl, QStringLiteral("http://smb.example/s?q="));
    EXPECT_EQ(config.FtpQueryUrl, QStringLiteral("http://ftp.example/s?q="));
}

TEST(DataFileConfig, LineEndsMayBeLfOrCr) {
    TempHome home;
    for (const char* end : {"\n", "\r"}) {
        home.write(QStringLiteral("Pellmar.dat"), scrambled(sampleLines(), end));
        DataFileConfig config;
        config.load(home.file(QStringLiteral("Pellmar.dat")));
        EXPECT_EQ(config.FtpQueryUrl, QStringLiteral("http://ftp.example/s?q="));
    }
}

TEST(DataFileConfig, MissingFileCannotBeOpened) {
    TempHome home;
    DataFileConfig config;
    const QString path = home.file(QStringLiteral("Pellmar.dat"));
    try {
        config.load(path);
        FAIL();
    } catch (const EFOpenError& error) {
        EXPECT_EQ(error.message(), QStringLiteral("Cannot open file ") + path);
    }
    EXPECT_TRUE(config.HomeUrl.isEmpty());
}

TEST(DataFileConfig, EmptyFileChangesNothing) {
    TempHome home;
    home.write(QStringLiteral("Pellmar.dat"), QByteArray());
    DataFileConfig config;
    config.HomeUrl = QStringLiteral("before");
    EXPECT_EQ(config.load(home.file(QStringLiteral("Pellmar.dat"))),
              DataFileConfig::LoadResult::Empty);
    EXPECT_EQ(config.HomeUrl, QStringLiteral("before"));
}

TEST(DataFileConfig, ShortFileKeepsTheFieldsBeforeTheMissingLine) {
    TempHome home;
    home.write(QStringLiteral("Pellmar.dat"), scrambled(sampleLines().mid(0, 6)));
    DataFileConfig config;
    try {
        config.load(home.file(QStringLiteral("Pellmar.dat")));
        FAIL();
    } catch (const EListError& error) {
        EXPECT_EQ(error.message(), QStringLiteral("List index out of bounds (6)"));
    }
    EXPECT_EQ(config.HttpQueryUrl2, QStringLiteral("http://two.example/s?w="));
    EXPECT_TRUE(config.SmbQueryUrl.isEmpty());
}

TEST(DataFileConfig, LineFourNotAnIntegerStopsAtLineFour) {
    TempHome home;
    QList<QString> lines = sampleLines();
    lines[3] = QStringLiteral("4x");
    home.write(QStringLiteral("Pellmar.dat"), scrambled(lines));
    DataFileConfig config;
    try {
        config.load(home.file(QStringLiteral("Pellmar.dat")));
        FAIL();
    } catch (const EConvertError& error) {
        EXPECT_EQ(error.message(), QStringLiteral("'4x' is not a valid integer value"));
    }
    EXPECT_EQ(config.DataVersion, 7);
    EXPECT_EQ(config.Line3, QStringLiteral("kept"));
    EXPECT_TRUE(config.HttpQueryUrl1.isEmpty());
}

TEST(DataFileConfig, WriterRoundTripsAndRefusesLinesThatWouldBreak) {
    TempHome home;
    const QString path = home.file(QStringLiteral("Pellmar.dat"));
    WriteDataFile(path, sampleLines());
    DataFileConfig config;
    config.load(path);
    EXPECT_EQ(config.plainLines(), [] {
        QList<QString> lines = sampleLines();
        lines[3] = QStringLiteral("0");
        return lines;
    }());
    // 'z' at an odd position of an 88-character line scrambles to LF.
    QList<QString> bad = sampleLines();
    bad[2] = QStringLiteral("z") + QString(87, QLatin1Char('a'));
    EXPECT_THROW(WriteDataFile(path, bad), PellmarError);
    EXPECT_THROW(WriteDataFile(path, sampleLines().mid(0, 8)), PellmarError);
}

// A data file is small: a larger one is refused unread, and a message quotes at most the
// first 200 characters of a line.
TEST(DataFileConfig, SizeIsCappedAndMessagesQuoteTheStartOfALine) {
    TempHome home;
    const QString path = home.file(QStringLiteral("Pellmar.dat"));
    const QByteArray nine = scrambled(sampleLines());
    const QByteArray filler = "\r\n" + QByteArray(DataFileConfig::kMaxFileBytes, 'f');
    home.write(QStringLiteral("Pellmar.dat"),
               nine + filler.left(DataFileConfig::kMaxFileBytes - nine.size()));
    DataFileConfig config;
    EXPECT_EQ(config.load(path), DataFileConfig::LoadResult::Loaded);
    EXPECT_EQ(config.DataVersion, 7);

    home.write(QStringLiteral("Pellmar.dat"),
               nine + filler.left(DataFileConfig::kMaxFileBytes - nine.size() + 1));
    DataFileConfig refused;
    try {
        refused.load(path);
        FAIL();
    } catch (const EFOpenError& error) {
        EXPECT_EQ(error.message(),
                  QStringLiteral("Cannot open file %1: it is larger than 1048576 bytes").arg(path));
    }
    EXPECT_EQ(refused.DataVersion, 0);

    QList<QString> lines = sampleLines();
    lines[0] = QString(300, QLatin1Char('a'));
    home.write(QStringLiteral("Pellmar.dat"), scrambled(lines));
    try {
        refused.load(path);
        FAIL();
    } catch (const EConvertError& error) {
        EXPECT_EQ(error.message(), QStringLiteral("'%1...' is not a valid integer value")
                                       .arg(QString(200, QLatin1Char('a'))));
    }
}
