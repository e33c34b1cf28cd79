#include "searchd/fileservers/PrivateFolder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The id of a process that has ended.
pid_t endedProcess() {
    const pid_t pid = fork();
    if (pid == 0)
        _exit(0);
    int status = 0;
    waitpid(pid, &status, 0);
    return pid;
}

} // namespace

TEST(PrivateFolder, AStartRemovesOnlyMarkedFoldersOfServicesThatHaveEnded) {
    QTemporaryDir temp;
    QTemporaryDir library; // reached through a link, as the SMB share reaches it
    QFile(library.filePath("song.mp3")).open(QIODevice::WriteOnly);
    const QByteArray ownStart = PrivateFolder::markFor(getpid()).split(' ').value(1);
    ASSERT_FALSE(ownStart.isEmpty());
    struct Row {
        const char* name;
        QByteArray mark; // empty: no mark at all
        bool removed;
    };
    const QList<Row> rows = {
        {"pellmar-searchd-Ended1", QByteArray::number(endedProcess()) + " 5\n", true},
        {"pellmar-searchd-Reused", QByteArray::number(getpid()) + " 1\n", true},
        {"pellmar-searchd-Living", PrivateFolder::markFor(getpid()), false},
        {"pellmar-searchd-NoMark", {}, false},
        {"pellmar-searchd-Garble", "12 x\n", false},
        {"pellmar-searchd-toolong", QByteArray::number(endedProcess()) + " 5\n", false},
        {"other-program-Ended2", QByteArray::number(endedProcess()) + " 5\n", false},
    };
    for (const Row& row : rows) {
        QDir(temp.path()).mkpath(QString::fromLatin1(row.name) + "/smb");
        const QString folder = temp.filePath(QString::fromLatin1(row.name));
        QFile::link(library.path(), folder + "/smb/library");
        QFile mark(folder + "/" + PrivateFolder::kMarkName);
        if (!row.mark.isEmpty() && mark.open(QIODevice::WriteOnly))
            mark.write(row.mark);
    }
    const PrivateFolder own(temp.path()); // a running service's folder

    QStringList expected;
    for (const Row& row : rows) {
        if (row.removed)
            expected.append(temp.filePath(QString::fromLatin1(row.name)));
    }
    QStringList removed = PrivateFolder::removeStale(temp.path());
    removed.sort();
    expected.sort();
    EXPECT_EQ(removed, expected);
    for (const Row& row : rows)
        EXPECT_EQ(QDir(temp.filePath(QString::fromLatin1(row.name))).exists(), !row.removed)
            << row.name;
    EXPECT_TRUE(QDir(own.path()).exists());
    EXPECT_TRUE(QFile::exists(library.filePath("song.mp3"))) << "a link's target stays";
}
