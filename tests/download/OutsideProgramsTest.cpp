#include "support/TempHome.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>

// The stand-ins for the outside programs are scripts around curl and smbget. A fake of each
// tool on PATH records the arguments it gets, one per line, and fails when told to.

namespace {

struct ScriptRun {
    TempHome home;

    // Copies the script into the program folder and puts a recording fake tool on PATH.
    int run(const QString& script, const QString& tool, const QStringList& args, int toolExit) {
        QDir(home.path()).mkdir("bin");
        QFile::copy(QStringLiteral(PELLMAR_SOURCE_DIR "/resources/programs/") + script,
                    home.file(script));
        home.write("bin/" + tool, "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done"
                                  " >\"$(dirname \"$0\")/args\"\nexit " +
                                      QByteArray::number(toolExit) + "\n");
        QFile::setPermissions(home.file("bin/" + tool), QFile::ReadOwner | QFile::ExeOwner);
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("PATH", home.file("bin") + ":" + env.value("PATH"));
        process.setProcessEnvironment(env);
        process.start(home.file(script), args);
        process.waitForFinished(30000);
        return process.exitCode();
    }
    QByteArray toolArgs() const { return home.read("bin/args"); }
};

} // namespace

TEST(OutsidePrograms, FtpClientHandsCurlTheEscapedUrlAndTheTarget) {
    ScriptRun run;
    EXPECT_EQ(
        run.run("veskftp.exe", "curl", {"ftp://u@h/pub/a b#1?$(x);%.mp3", "/t/-a \"b\".mp3"}, 0),
        0);
    EXPECT_EQ(run.toolArgs(), "--fail\n--silent\n--show-error\n--globoff\n--proto\n=ftp,ftps\n"
                              "--continue-at\n-\n--output\n/t/-a \"b\".mp3\n"
                              "ftp://u@h/pub/a%20b%231%3F$(x);%25.mp3\n");
    EXPECT_EQ(run.run("veskftp.exe", "curl", {"http://h/a.mp3", "/t/a.mp3"}, 0), 2);
}

TEST(OutsidePrograms, SmbFetchKeepsItsLineInTheResumeListUntilItSucceeds) {
    const QByteArray line = "\\\\h\\mp3\\a b;c.mp3\t/t/a\r\n";
    ScriptRun run;
    run.home.write("download.dat", "\\\\h\\mp3\\other.mp3\t/t/o\r\n");
    EXPECT_EQ(run.run("Lanpull.exe", "smbget", {"\\\\h\\mp3\\a b;c.mp3", "/t/a"}, 1), 1);
    EXPECT_EQ(run.toolArgs(), "--guest\n--nonprompt\n--quiet\n--resume\n--outputfile\n"
                              "/t/a.mp3\nsmb://h/mp3/a%20b%3Bc.mp3\n");
    EXPECT_EQ(run.home.read("download.dat"), "\\\\h\\mp3\\other.mp3\t/t/o\r\n" + line);

    // The retry finds its line there already and takes it away when done.
    EXPECT_EQ(run.run("Lanpull.exe", "smbget", {"\\\\h\\mp3\\a b;c.mp3", "/t/a"}, 0), 0);
    EXPECT_EQ(run.home.read("download.dat"), "\\\\h\\mp3\\other.mp3\t/t/o\r\n");
}

TEST(OutsidePrograms, SmbFetchTakesThePortFromItsSettingsFile) {
    const QList<QPair<QByteArray, QByteArray>> rows = {
        {"[Lanpull]\r\nHost=127.0.0.1\r\nPort=44512\r\n",
         "smb://127.0.0.1:44512/mp3/F/It's%20a.mp3\n"},
        {"[Lanpull]\nPort=44512\n", "smb://127.0.0.1:44512/mp3/F/It's%20a.mp3\n"},
        {"[Lanpull]\r\nHost=10.0.0.7\r\nPort=44512\r\n", "smb://127.0.0.1/mp3/F/It's%20a.mp3\n"},
        {"[Lanpull]\r\nPort=x1\r\n", "smb://127.0.0.1/mp3/F/It's%20a.mp3\n"}};
    for (const auto& [settings, url] : rows) {
        ScriptRun run;
        run.home.write("Lanpull.ini", settings);
        EXPECT_EQ(
            run.run("Lanpull.exe", "smbget", {"\\\\127.0.0.1\\mp3\\F\\It's a.mp3", "/t/a"}, 0), 0);
        EXPECT_TRUE(run.toolArgs().endsWith("\n" + url)) << settings.constData();
    }
}
