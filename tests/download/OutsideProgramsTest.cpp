#include "support/TempHome.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>
#include <sys/stat.h>

// The stand-ins for the outside programs are scripts around curl and smbget. A fake of each
// tool on PATH records the arguments it gets, one per line, and fails when told to.

namespace {

struct ScriptRun {
    TempHome home;

    // Copies the script into the program folder and puts a fake tool on PATH that records
    // its arguments, one per line, then runs toolBody ($out is the file it is told to write).
    int run(const QString& script, const QString& tool, const QStringList& args,
            const QByteArray& toolBody) {
        QDir(home.path()).mkdir("bin");
        QFile::copy(QStringLiteral(PELLMAR_SOURCE_DIR "/resources/programs/") + script,
                    home.file(script));
        home.write("bin/" + tool,
                   "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done"
                   " >\"$(dirname \"$0\")/args\"\n"
                   "while [ $# -gt 1 ]; do case $1 in --output*) out=$2;; esac; shift; done\n" +
                       toolBody + "\n");
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
    // The files of folder t, each with its mode and content.
    QStringList files() const {
        QStringList found;
        for (const QString& name : QDir(home.file("t")).entryList(QDir::Files | QDir::Hidden)) {
            struct stat info = {};
            ::stat(QFile::encodeName(home.file("t/" + name)).constData(), &info);
            found << QString("%1 %2 %3")
                         .arg(name)
                         .arg(info.st_mode & 07777, 0, 8)
                         .arg(QString::fromUtf8(home.read("t/" + name)));
        }
        return found;
    }
};

// Files from the network get the usual mode whatever the tool did; the tests fix the umask.
struct Umask022 {
    mode_t old = ::umask(022);
    ~Umask022() { ::umask(old); }
};

} // namespace

// URL syntax and the control characters curl refuses in a URL are escaped; other bytes,
// those of UTF-8 names too, go as they are.
TEST(OutsidePrograms, FtpClientHandsCurlTheEscapedUrlAndATemporaryFileBesideTheTarget) {
    const QList<std::pair<QString, QByteArray>> rows = {
        {"ftp://u@h/pub/a b#1?$(x);%.mp3", "ftp://u@h/pub/a%20b%231%3F$(x);%25.mp3"},
        {"ftp://h/pub/\x1b[31mred\a\tZo\u00eb\x7f\r\n.mp3",
         "ftp://h/pub/%1B[31mred%07%09Zo\xC3\xAB%7F%0D%0A.mp3"},
    };
    for (const auto& [url, sent] : rows) {
        SCOPED_TRACE(url.toStdString());
        ScriptRun run;
        QDir(run.home.path()).mkdir("t");
        const QString target = run.home.file("t/-a \"b\".mp3");
        EXPECT_EQ(run.run("veskftp.exe", "curl", {url, target}, ""), 0);
        const QByteArray args = run.toolArgs();
        const QByteArray before = "--fail\n--silent\n--show-error\n--globoff\n--proto\n"
                                  "=ftp,ftps\n--output\n" +
                                  run.home.file("t/.veskftp.").toUtf8();
        EXPECT_TRUE(args.startsWith(before)) << args.constData();
        EXPECT_TRUE(args.endsWith("\n" + sent + "\n")) << args.constData();
    }
}

// A file the user agreed to replace is replaced whole, or left as it was when the fetch fails.
TEST(OutsidePrograms, FtpClientReplacesTheTargetOnlyWithACompleteFile) {
    const Umask022 umask;
    const struct {
        const char* name;
        QString url;
        QByteArray curl; // empty: curl must not run
        int exitCode;
        QStringList files;
    } rows[] = {
        {"complete",
         "ftp://h/a.mp3",
         "printf new >\"$out\"; chmod 755 \"$out\"",
         0,
         {"a.mp3 644 new"}},
        {"cut short", "ftp://h/a.mp3", "printf ne >\"$out\"; exit 18", 18, {"a.mp3 644 mine"}},
        {"a folder", "ftp://h/pub/", "", 2, {"a.mp3 644 mine"}},
        {"the folder itself", "ftp://h/pub/.", "", 2, {"a.mp3 644 mine"}},
        {"the folder above", "ftp://h/pub/..", "", 2, {"a.mp3 644 mine"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ScriptRun run;
        QDir(run.home.path()).mkdir("t");
        run.home.write("t/a.mp3", "mine");
        const QByteArray curl = row.curl.isEmpty() ? "exit 99" : row.curl;
        EXPECT_EQ(run.run("veskftp.exe", "curl", {row.url, run.home.file("t/a.mp3")}, curl),
                  row.exitCode);
        EXPECT_EQ(run.files(), row.files);
        EXPECT_EQ(run.toolArgs().isEmpty(), row.curl.isEmpty());
    }
}

TEST(OutsidePrograms, SmbFetchKeepsItsLineInTheResumeListUntilItSucceeds) {
    const Umask022 umask;
    ScriptRun run;
    QDir(run.home.path()).mkdir("t");
    const QString target = run.home.file("t/a");
    const QByteArray line = "\\\\h\\mp3\\a b;c.mp3\t" + target.toUtf8() + "\r\n";
    const QByteArray other = "\\\\h\\mp3\\other.mp3\t/t/o\r\n";
    run.home.write("download.dat", other);
    run.home.write("t/a.mp3", "mine");
    const QStringList args = {"\\\\h\\mp3\\a b;c.mp3", target};
    const QByteArray toolArgs = "--guest\n--nonprompt\n--quiet\n--outputfile\n" + target.toUtf8() +
                                ".mp3.part\nsmb://h/mp3/a%20b%3Bc.mp3\n";

    // Cut short with part of the file: the line stays and the user's file is untouched.
    EXPECT_EQ(run.run("Lanpull.exe", "smbget", args, "printf ne >>\"$out\"; exit 1"), 1);
    EXPECT_EQ(run.toolArgs(), toolArgs);
    EXPECT_EQ(run.home.read("download.dat"), other + line);
    EXPECT_EQ(run.files(), (QStringList{"a.mp3 644 mine", "a.mp3.part 644 ne"}));

    // The next start continues its own partial file, replaces the target and takes the line
    // away; the remote file's mode bits do not come along.
    EXPECT_EQ(run.run("Lanpull.exe", "smbget", args, "printf w >>\"$out\"; chmod 755 \"$out\""), 0);
    EXPECT_EQ(run.toolArgs(), QByteArray(toolArgs).replace("--quiet\n", "--quiet\n--resume\n"));
    EXPECT_EQ(run.home.read("download.dat"), other);
    EXPECT_EQ(run.files(), QStringList{"a.mp3 644 new"});
}

TEST(OutsidePrograms, SmbFetchStartsAfreshUnlessItLeftThePartialFileItself) {
    const struct {
        const char* name;
        bool recorded; // the line stood in the list before
        QByteArray smbget;
        int exitCode;
        bool resumed;
        QStringList files;
        bool lineStays;
    } rows[] = {
        // A partial file the list does not name is not this program's: it goes.
        {"stray partial file", false, "printf new >>\"$out\"", 0, false, {"a.mp3 644 new"}, false},
        // Failed for good: nothing (more) came, so the line leaves the list with the partial
        // file and is not offered again.
        {"nothing came", false, "exit 1", 1, false, {"a.mp3 644 mine"}, false},
        {"nothing more came", true, "exit 1", 1, true, {"a.mp3 644 mine"}, false},
        {"more came",
         true,
         "printf er >>\"$out\"; exit 1",
         1,
         true,
         {"a.mp3 644 mine", "a.mp3.part 644 older"},
         true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const Umask022 umask;
        ScriptRun run;
        QDir(run.home.path()).mkdir("t");
        const QString target = run.home.file("t/a");
        const QByteArray line = "\\\\h\\s\\a.mp3\t" + target.toUtf8() + "\r\n";
        run.home.write("t/a.mp3", "mine");
        run.home.write("t/a.mp3.part", "old");
        run.home.write("download.dat", row.recorded ? line : "");
        EXPECT_EQ(run.run("Lanpull.exe", "smbget", {"\\\\h\\s\\a.mp3", target}, row.smbget),
                  row.exitCode);
        EXPECT_EQ(run.toolArgs().contains("--resume"), row.resumed);
        EXPECT_EQ(run.files(), row.files);
        EXPECT_EQ(run.home.read("download.dat"), row.lineStays ? line : "");
    }
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
        EXPECT_EQ(run.run("Lanpull.exe", "smbget",
                          {"\\\\127.0.0.1\\mp3\\F\\It's a.mp3", run.home.file("a")},
                          "printf x >\"$out\""),
                  0);
        EXPECT_TRUE(run.toolArgs().endsWith("\n" + url)) << settings.constData();
    }
}
