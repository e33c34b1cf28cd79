#include "platform/ProgramFolder.h"
#include "platform/FolderDefaults.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

class ProgramFolderLayout : public ::testing::Test {
protected:
    QString at(const QString& relative) const { return m_root.filePath(relative); }
    void write(const QString& relative, const QByteArray& content) const {
        QDir().mkpath(QFileInfo(at(relative)).absolutePath());
        QFile file(at(relative));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    QByteArray read(const QString& relative) const {
        QFile file(at(relative));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
    QString fill() const {
        return FolderDefaults::fill(
            at(QStringLiteral("user/Pellmar")),
            {at(QStringLiteral("usr/share/pellmar")), at(QStringLiteral("usr/lib/pellmar"))});
    }

    QTemporaryDir m_root;
};

} // namespace

TEST_F(ProgramFolderLayout, BuildRunsKeepTheBinaryFolderAndInstalledOnesUseTheUsersFolder) {
    for (const char* folder :
         {"build/bin", "usr/bin", "usr/share/pellmar", "opt/bin", "opt/lib/pellmar"})
        QDir().mkpath(at(QString::fromUtf8(folder)));
    const QString user = at(QStringLiteral("data"));
    struct Row {
        const char* binary;
        QString home;
        QString expected;
    };
    const QList<Row> rows = {
        {"build/bin", {}, at(QStringLiteral("build/bin"))},
        {"usr/bin", {}, user + QStringLiteral("/Pellmar")},
        {"opt/bin", {}, user + QStringLiteral("/Pellmar")},
        {"usr/bin", at(QStringLiteral("mine/")), at(QStringLiteral("mine"))},
        {"build/bin", at(QStringLiteral("mine")), at(QStringLiteral("mine"))},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.binary);
        EXPECT_EQ(ProgramFolder::choose(at(QString::fromUtf8(row.binary)), row.home, user + '/'),
                  row.expected);
    }
    EXPECT_EQ(ProgramFolder::defaultsBeside(at(QStringLiteral("usr/bin"))),
              QStringList{at(QStringLiteral("usr/share/pellmar"))});
}

TEST_F(ProgramFolderLayout, FirstStartCopiesTheDefaultsAndUpdatesKeepWhatChangedSince) {
    write(QStringLiteral("usr/share/pellmar/help/index.htm"), "index 1");
    write(QStringLiteral("usr/share/pellmar/help/ftp.htm"), "ftp 1");
    write(QStringLiteral("usr/share/pellmar/Pellmar.dat"), "data 1");
    write(QStringLiteral("usr/lib/pellmar/tool.exe"), "#!/bin/sh\n");
    QFile::setPermissions(at(QStringLiteral("usr/lib/pellmar/tool.exe")),
                          QFileDevice::ReadOwner | QFileDevice::ExeOwner);

    ASSERT_EQ(fill(), QString());
    EXPECT_EQ(read(QStringLiteral("user/Pellmar/help/index.htm")), "index 1");
    EXPECT_EQ(read(QStringLiteral("user/Pellmar/Pellmar.dat")), "data 1");
    EXPECT_TRUE(QFileInfo(at(QStringLiteral("user/Pellmar/temp"))).isDir());
    const QFileInfo tool(at(QStringLiteral("user/Pellmar/tool.exe")));
    EXPECT_TRUE(tool.permissions() & QFileDevice::ExeOwner);
    EXPECT_TRUE(tool.permissions() & QFileDevice::WriteOwner);

    // The data file refreshed by the program, a help page lost; then a package update.
    write(QStringLiteral("user/Pellmar/Pellmar.dat"), "refreshed");
    QFile::remove(at(QStringLiteral("user/Pellmar/help/ftp.htm")));
    write(QStringLiteral("usr/share/pellmar/help/index.htm"), "index 2");
    write(QStringLiteral("usr/share/pellmar/Pellmar.dat"), "data 2");
    write(QStringLiteral("user/Pellmar/Pellmar.ini"), "[Options]\r\nTimeLimit=60\r\n");
    ASSERT_EQ(fill(), QString());
    EXPECT_EQ(read(QStringLiteral("user/Pellmar/help/index.htm")), "index 2");
    EXPECT_EQ(read(QStringLiteral("user/Pellmar/help/ftp.htm")), "ftp 1");
    EXPECT_EQ(read(QStringLiteral("user/Pellmar/Pellmar.dat")), "refreshed");
    EXPECT_EQ(read(QStringLiteral("user/Pellmar/Pellmar.ini")), "[Options]\r\nTimeLimit=60\r\n");
    EXPECT_FALSE(QFile::exists(at(QStringLiteral("user/Pellmar/help/index.htm.part"))));
}

TEST_F(ProgramFolderLayout, AFileGivenBeforeTheFirstStartIsKept) {
    // The search service may write the user's data file before the program first starts.
    write(QStringLiteral("usr/share/pellmar/Pellmar.dat"), "data 1");
    write(QStringLiteral("user/Pellmar/Pellmar.dat"), "from the service");
    ASSERT_EQ(fill(), QString());
    EXPECT_EQ(read(QStringLiteral("user/Pellmar/Pellmar.dat")), "from the service");
}

TEST_F(ProgramFolderLayout, AFolderThatCannotBeMadeIsNamedInTheMessage) {
    write(QStringLiteral("user"), "a file where the folder should be");
    EXPECT_EQ(fill(), QStringLiteral("Pellmar cannot create or write its folder ") +
                          at(QStringLiteral("user/Pellmar")) + QLatin1Char('.'));
}
