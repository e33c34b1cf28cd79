#include "platform/SettingsFile.h"
#include "platform/Errors.h"
#include "support/TempHome.h"

#include <QFile>
#include <QFileDevice>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

const QString O = QStringLiteral("Options");

class SettingsFileTest : public ::testing::Test {
protected:
    TempHome home;
    QString path = home.file(QStringLiteral("Pellmar.ini"));
    SettingsFile ini{path};
};

} // namespace

TEST_F(SettingsFileTest, MissingFileReadsDefaultsAndIsCreatedByFirstWrite) {
    EXPECT_EQ(ini.readString(O, QStringLiteral("FtpPath"), QStringLiteral("x")),
              QStringLiteral("x"));
    EXPECT_EQ(ini.readInteger(O, QStringLiteral("TimeLimit"), 180), 180);
    EXPECT_TRUE(ini.readBool(O, QStringLiteral("NeedStereo"), true));
    EXPECT_FALSE(QFile::exists(path));
    ini.writeString(O, QStringLiteral("Limit"), QStringLiteral("False"));
    EXPECT_EQ(home.read(QStringLiteral("Pellmar.ini")), QByteArray("[Options]\r\nLimit=False\r\n"));
}

TEST_F(SettingsFileTest, LenientIntegersAndFlags) {
    home.write(QStringLiteral("Pellmar.ini"),
               "[Options]\nTimeLimit=0x1E\nA=0X10\nB=0x\nC=12abc\nD= 42 \nE=$1F\n"
               "NeedStereo=True\nSearchFtp=0\nSearchSMB=-3\nF=99999999999\n");
    EXPECT_EQ(ini.readInteger(O, QStringLiteral("TimeLimit"), 180), 30);
    EXPECT_EQ(ini.readInteger(O, QStringLiteral("A"), 0), 16);
    EXPECT_EQ(ini.readInteger(O, QStringLiteral("B"), 7), 7);
    EXPECT_EQ(ini.readInteger(O, QStringLiteral("C"), 7), 7);
    EXPECT_EQ(ini.readInteger(O, QStringLiteral("D"), 7), 42);
    EXPECT_EQ(ini.readInteger(O, QStringLiteral("E"), 7), 31);
    EXPECT_EQ(ini.readInteger(O, QStringLiteral("F"), 7), 7);
    EXPECT_TRUE(ini.readBool(O, QStringLiteral("NeedStereo"), true));
    EXPECT_FALSE(ini.readBool(O, QStringLiteral("NeedStereo"), false));
    EXPECT_FALSE(ini.readBool(O, QStringLiteral("SearchFtp"), true));
    EXPECT_TRUE(ini.readBool(O, QStringLiteral("SearchSMB"), false));
}

TEST_F(SettingsFileTest, NamesMatchWithoutCaseAndRewritesKeepPlaceAndOrder) {
    home.write(QStringLiteral("Pellmar.ini"),
               "[options]\r\nuseproxy=True\r\nProxyServer=a\r\n\r\n[WinPos]\r\nLeft=3\r\n");
    EXPECT_EQ(ini.readString(QStringLiteral("OPTIONS"), QStringLiteral("UseProxy"), QString()),
              QStringLiteral("True"));
    ini.writeString(O, QStringLiteral("UseProxy"), QStringLiteral("False"));
    ini.writeString(O, QStringLiteral("ProxyPort"), QStringLiteral("8080"));
    ini.writeInteger(QStringLiteral("winpos"), QStringLiteral("LEFT"), 5);
    ini.writeInteger(QStringLiteral("Searches"), QStringLiteral("Count"), 0);
    EXPECT_EQ(home.read(QStringLiteral("Pellmar.ini")),
              QByteArray("[options]\r\nuseproxy=False\r\nProxyServer=a\r\nProxyPort=8080\r\n\r\n"
                         "[WinPos]\r\nLeft=5\r\n\r\n[Searches]\r\nCount=0\r\n"));
}

TEST_F(SettingsFileTest, DuplicateKeysReadTheFirst) {
    home.write(QStringLiteral("Pellmar.ini"), "[Options]\nKey=1\nKEY=2\n[Options]\nkey=3\n");
    EXPECT_EQ(ini.readInteger(O, QStringLiteral("key"), 0), 1);
    ini.writeInteger(O, QStringLiteral("kEy"), 9);
    EXPECT_EQ(home.read(QStringLiteral("Pellmar.ini")),
              QByteArray("[Options]\r\nKey=9\r\nKEY=2\r\n[Options]\r\nkey=3\r\n"));
}

TEST_F(SettingsFileTest, ValuesAreCutAt2047CharactersAndQuotesDropped) {
    ini.writeString(O, QStringLiteral("Long"), QString(3000, QLatin1Char('a')));
    EXPECT_EQ(ini.readString(O, QStringLiteral("Long"), QString()).size(), 2047);
    home.write(QStringLiteral("Pellmar.ini"), "[Options]\nQ=\"quoted value\"\nR=\"half\n");
    EXPECT_EQ(ini.readString(O, QStringLiteral("Q"), QString()), QStringLiteral("quoted value"));
    EXPECT_EQ(ini.readString(O, QStringLiteral("R"), QString()), QStringLiteral("\"half"));
}

TEST_F(SettingsFileTest, WindowsTextSurvivesARoundTrip) {
    const QString text = QStringLiteral("Couldn\u00b4t \u20ac");
    ini.writeString(O, QStringLiteral("T"), text);
    EXPECT_EQ(ini.readString(O, QStringLiteral("T"), QString()), text);
    EXPECT_TRUE(home.read(QStringLiteral("Pellmar.ini")).contains("Couldn\xb4t \x80"));
}

TEST_F(SettingsFileTest, GarbageReadsWhatItCanAndDefaultsTheRest) {
    QByteArray garbage;
    for (int i = 0; i < 4096; ++i)
        garbage.append(static_cast<char>((i * 7919) % 256));
    home.write(QStringLiteral("Pellmar.ini"),
               garbage + "\n[Options]\nTimeLimit=77\n[broken\n=novalue\n" + garbage);
    EXPECT_EQ(ini.readInteger(O, QStringLiteral("TimeLimit"), 180), 77);
    EXPECT_EQ(ini.readInteger(O, QStringLiteral("MinSizeToAdd"), 30), 30);
    EXPECT_EQ(ini.readString(QStringLiteral("WinPos"), QStringLiteral("Left"), QStringLiteral("d")),
              QStringLiteral("d"));
    ini.writeInteger(O, QStringLiteral("TimeLimit"), 60);
    EXPECT_EQ(ini.readInteger(O, QStringLiteral("TimeLimit"), 180), 60);
}

TEST_F(SettingsFileTest, LineBreaksInAValueCannotStartNewKeys) {
    ini.writeString(O, QStringLiteral("FtpPath"), QStringLiteral("a\r\nUseProxy=True"));
    EXPECT_EQ(ini.readString(O, QStringLiteral("UseProxy"), QStringLiteral("False")),
              QStringLiteral("False"));
}

TEST(SettingsFileRefusal, RefusedWriteRaisesWithThePathAndEarlierWritesStay) {
    TempHome home;
    // A file where the folder should be refuses the write even for root.
    home.write(QStringLiteral("notafolder"), "x");
    const QString path = home.file(QStringLiteral("notafolder/Pellmar.ini"));
    SettingsFile ini(path);
    try {
        ini.writeInteger(O, QStringLiteral("TimeLimit"), 90);
        FAIL() << "the write should have been refused";
    } catch (const EIniFileException& error) {
        EXPECT_EQ(error.message(), QStringLiteral("Unable to write to ") + path);
    }
    EXPECT_EQ(ini.readInteger(O, QStringLiteral("TimeLimit"), 180), 180);
}

TEST_F(SettingsFileTest, WriteToAFolderInTheFilesPlaceIsRefused) {
    QDir(home.path()).mkdir(QStringLiteral("Pellmar.ini"));
    EXPECT_THROW(ini.writeInteger(O, QStringLiteral("TimeLimit"), 90), EIniFileException);
}

TEST_F(SettingsFileTest, AWriteReplacesTheFileWholeAndLeavesNoTemporaryFiles) {
    ini.writeInteger(O, QStringLiteral("TimeLimit"), 60);
    ini.writeInteger(O, QStringLiteral("MinSizeToAdd"), 10);
    EXPECT_EQ(QDir(home.path()).entryList(QDir::Files), QStringList{QStringLiteral("Pellmar.ini")});
    EXPECT_EQ(home.read(QStringLiteral("Pellmar.ini")),
              QByteArray("[Options]\r\nTimeLimit=60\r\nMinSizeToAdd=10\r\n"));
}

// Root reads any file, so CTest runs this case once more as an ordinary user.
TEST_F(SettingsFileTest, AWriteThatCannotReadTheFileFailsAndLeavesItAlone) {
    if (geteuid() == 0)
        GTEST_SKIP() << "root may read the file; tests/support/as_nobody.sh runs this as nobody";
    const QByteArray before = "[Options]\r\nProxyServer=proxy\r\nTimeLimit=60\r\n";
    home.write(QStringLiteral("Pellmar.ini"), before);
    ASSERT_TRUE(QFile::setPermissions(path, QFileDevice::WriteOwner));
    try {
        ini.writeInteger(O, QStringLiteral("MinSizeToAdd"), 10);
        ADD_FAILURE() << "the write should have been refused";
    } catch (const EIniFileException& error) {
        EXPECT_EQ(error.message(), QStringLiteral("Unable to write to ") + path);
    }
    EXPECT_EQ(ini.readInteger(O, QStringLiteral("TimeLimit"), 180), 180);
    ASSERT_TRUE(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    EXPECT_EQ(home.read(QStringLiteral("Pellmar.ini")), before);
}
