#include "service/FtpClientWalk.h"
#include "support/TempHome.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

namespace {

void touch(const QString& path) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
}

} // namespace

TEST(FtpClientWalkTest, LocalDiskRootsSkipPseudoAndNetworkFileSystems) {
    const QByteArray mounts = "sysfs /sys sysfs rw,nosuid 0 0\n"
                              "proc /proc proc rw 0 0\n"
                              "overlay / overlay rw,relatime 0 0\n"
                              "tmpfs /run tmpfs rw 0 0\n"
                              "/dev/sda2 /proc/fake ext4 rw 0 0\n"
                              "/dev/sdb1 /media/My\\040Music vfat rw 0 0\n"
                              "server:/export /net/files nfs4 rw 0 0\n"
                              "/dev/sda1 /home ext4 rw 0 0\n"
                              "/dev/sda3 / ext4 rw 0 0\n"
                              "//nas/share /mnt/nas cifs rw 0 0\n"
                              "broken line\n";
    EXPECT_EQ(FtpClientWalk::localDiskRoots(mounts),
              QStringList({"/", "/media/My Music", "/home"}));
}

TEST(FtpClientWalkTest, ClientNamesMatchExeFilesWhateverTheCase) {
    struct Row {
        const char* name;
        QStringList clients;
    };
    for (const Row& row : {Row{"wS_fTp95.exe", {"WS_FTP95"}}, Row{"WS_FTP95.DLL", {}},
                           Row{"cutftp32.EXE", {"CUTFTP"}}, Row{"leechftp.exe.bak", {}},
                           Row{"BPFTP-LeechFTP.exe", {"BPFTP", "LEECHFTP"}}, Row{"ftp.exe", {}}}) {
        EXPECT_EQ(FtpClientWalk::matchingClients(QString::fromLatin1(row.name)), row.clients)
            << row.name;
    }
}

TEST(FtpClientWalkTest, WalkFindsClientsBelowEveryFolderButFollowsNoLinks) {
    TempHome disk;
    const QString root = disk.path();
    touch(root + QStringLiteral("/Program Files/CuteFTP/cutftp.exe"));
    touch(root + QStringLiteral("/tools.exe/wS_fTp95.exe")); // a folder named like a program
    touch(root + QStringLiteral("/a/b/c/BPFTP-LeechFTP.exe"));
    touch(root + QStringLiteral("/a/WS_FTP95.DLL"));
    TempHome elsewhere; // reachable only through links
    touch(elsewhere.file(QStringLiteral("leechftp.exe")));
    ASSERT_TRUE(QFile::link(elsewhere.path(), root + QStringLiteral("/a/linked")));
    ASSERT_TRUE(QFile::link(elsewhere.file(QStringLiteral("leechftp.exe")),
                            root + QStringLiteral("/a/cutftp.exe")));

    FtpClientWalk walk;
    QStringList reported;
    walk.onFound = [&](const QString& path) { reported.append(path); };
    walk.walk(root);
    QStringList found = walk.found();
    found.sort();
    EXPECT_EQ(
        found,
        QStringList({root + "/Program Files/CuteFTP/cutftp.exe", root + "/a/b/c/BPFTP-LeechFTP.exe",
                     root + "/a/b/c/BPFTP-LeechFTP.exe", root + "/tools.exe/wS_fTp95.exe"}));
    EXPECT_EQ(reported, walk.found());
}

TEST(FtpClientWalkTest, StopEndsTheWalkAtTheNextTenthEntry) {
    TempHome disk;
    for (int i = 0; i < 25; ++i)
        touch(disk.file(QStringLiteral("cutftp%1.exe").arg(i)));
    FtpClientWalk walk;
    int breaks = 0;
    walk.letInputThrough = [&] {
        ++breaks;
        walk.stop();
    };
    walk.walk(disk.path());
    EXPECT_EQ(breaks, 1);
    EXPECT_EQ(walk.found().size(), 10);
}

TEST(FtpClientWalkTest, KernelViewsAreNeverWalked) {
    for (const char* root : {"/proc", "/sys", "/proc/self"}) {
        FtpClientWalk walk;
        int breaks = 0;
        walk.letInputThrough = [&] { ++breaks; };
        walk.walk(QString::fromLatin1(root));
        EXPECT_EQ(breaks, 0) << root;
    }
}
