#include "RawHttp.h"
#include "core/TextHelpers.h"
#include "download/ExternalHandoff.h"
#include "platform/Cp1252.h"
#include "search/ListingScraper.h"
#include "support/FreePort.h"
#include "support/TempHome.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/syscall.h>

// pellmar-searchd serving a library over FTP and SMB, reached by the program's stand-ins
// for the outside FTP and SMB programs, as the program starts them.

namespace {

const QString kBinary = QStringLiteral(PELLMAR_SEARCHD_BINARY);
const QString kPrograms = QStringLiteral(PELLMAR_SOURCE_DIR "/resources/programs/");

// The library: a name with blanks, non-ASCII letters and an apostrophe, and links out.
const QStringList kFiles = {QStringLiteral("Folder A/Plain tune.mp3"),
                            QStringLiteral("Ökö Folder/Björk's Café tune.mp3")};

QString missingPackages() {
    QStringList missing;
    if (!QFile::exists(QStringLiteral("/usr/sbin/smbd")))
        missing << QStringLiteral("samba");
    if (QProcess::execute(QStringLiteral("/usr/bin/python3"),
                          {QStringLiteral("-c"), QStringLiteral("import pyftpdlib")}) != 0)
        missing << QStringLiteral("python3-pyftpdlib");
    return missing.join(QLatin1Char(' '));
}

QByteArray contentOf(int index) {
    QByteArray bytes;
    for (int i = 0; i < 70000; ++i)
        bytes.append(static_cast<char>((i * (index + 7)) % 251));
    return bytes;
}

// Every file under a folder with its bytes, links not followed.
QMap<QString, QByteArray> snapshot(const QString& folder) {
    QMap<QString, QByteArray> files;
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        QFile file(info.filePath());
        files.insert(info.filePath(),
                     info.isSymLink() || info.isDir() || !file.open(QIODevice::ReadOnly)
                         ? info.symLinkTarget().toUtf8()
                         : file.readAll());
    }
    return files;
}

// The processes below pid, read from /proc.
QList<pid_t> descendants(pid_t pid) {
    QMap<pid_t, pid_t> parents;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/") + entry + QStringLiteral("/stat"));
        if (entry.toInt() > 0 && stat.open(QIODevice::ReadOnly)) {
            const QByteArray text = stat.readAll();
            const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
            parents.insert(entry.toInt(), fields.value(1).toInt());
        }
    }
    QList<pid_t> found;
    for (auto it = parents.cbegin(); it != parents.cend(); ++it) {
        for (pid_t up = it.value(); up > 1; up = parents.value(up)) {
            if (up == pid) {
                found.append(it.key());
                break;
            }
        }
    }
    return found;
}

// True once the process has ended (or waits as a zombie), within ten seconds.
bool ends(pid_t pid) {
    const int fd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (fd < 0)
        return true; // gone already
    pollfd ended{fd, POLLIN, 0};
    const bool done = poll(&ended, 1, 10000) == 1;
    ::close(fd);
    return done;
}

// The service on a temporary library, with the stand-ins in a temporary program folder.
struct ServedLibrary {
    TempHome home;
    QProcess service;
    QByteArray out;
    int httpPort = 0;

    ServedLibrary() {
        for (int i = 0; i < kFiles.size(); ++i) {
            QDir().mkpath(QFileInfo(library(kFiles[i])).path());
            home.write("lib/" + kFiles[i], contentOf(i));
        }
        home.write("outside.mp3", "secret");
        QFile::link(home.file("outside.mp3"), library("Out tune.mp3"));
        QFile::link(home.path(), library("Out"));
        for (const QString& program :
             {QStringLiteral("veskftp.exe"), QStringLiteral("Lanpull.exe")})
            QFile::copy(kPrograms + program, home.file(program));
    }
    ~ServedLibrary() {
        service.terminate();
        if (!service.waitForFinished(10000))
            service.kill();
        service.waitForFinished();
    }
    QString library(const QString& name = QString()) const {
        return home.file(QStringLiteral("lib/") + name);
    }

    // Starts the service with both servers; its standard output up to "listening on".
    // The servers' private folder goes into the program folder, which goes with the test
    // even when the service is killed.
    QByteArray start(const QString& tempFolder = QString(), const QStringList& extra = {}) {
        QDir(home.path()).mkdir("tmp");
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TMPDIR", tempFolder.isEmpty() ? home.file("tmp") : tempFolder);
        service.setProcessEnvironment(env);
        service.start(kBinary,
                      QStringList{"--library", library(), "--port", "0", "--db", home.file("db"),
                                  "--serve-ftp", "--serve-smb", "--program-folder", home.path()} +
                          extra);
        while (!out.contains("listening on") && service.waitForReadyRead(30000))
            out += service.readAllStandardOutput();
        const auto match = QRegularExpression("listening on http://127.0.0.1:(\\d+)")
                               .match(QString::fromUtf8(out));
        httpPort = match.captured(1).toInt();
        return out;
    }
    unsigned short port(const char* pattern) const {
        return QRegularExpression(QString::fromLatin1(pattern))
            .match(QString::fromUtf8(out))
            .captured(1)
            .toUShort();
    }
    QList<QByteArray> listing(const QByteArray& target) const {
        return SplitLines(httpGet(httpPort, target).body);
    }
    // Runs a launch and returns its exit code.
    static int run(const QString& program, const QStringList& args) {
        QProcess process;
        process.start(program, args);
        process.waitForFinished(60000);
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }
};

const RandomIndex kFirst = [](int) { return 0; };

class ServedLibraryTest : public testing::Test {
protected:
    void SetUp() override {
        const QString missing = missingPackages();
        if (!missing.isEmpty())
            GTEST_SKIP() << "Debian packages missing: " << missing.toStdString()
                         << " (scripts/setup.sh installs them)";
        // Run as another user (tests/support/as_nobody.sh), the build or the source may be
        // out of reach.
        for (const QString& needed : {kBinary, kPrograms + "veskftp.exe"}) {
            if (!QFileInfo(needed).isReadable())
                GTEST_SKIP() << "this user cannot reach " << needed.toStdString();
        }
    }
};

// Runs a command with a time limit, so that a server that stops answering fails the test
// instead of hanging it; returns its exit code and what it printed.
QPair<int, QByteArray> runClient(const QStringList& command) {
    QProcess client;
    client.start(command.first(), command.mid(1));
    client.waitForFinished(60000);
    return {client.exitStatus() == QProcess::NormalExit ? client.exitCode() : -1,
            client.readAllStandardOutput() + client.readAllStandardError()};
}

QStringList sortedLines(const QByteArray& text) {
    QStringList lines = QString::fromUtf8(text).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    lines.sort();
    return lines;
}

} // namespace

TEST_F(ServedLibraryTest, TheStandInsFetchEveryListedFileByteForByteAndNothingOutside) {
    ServedLibrary served;
    const QByteArray out = served.start();
    const unsigned short ftpPort = served.port("FTP server on ftp://127.0.0.1:(\\d+)/");
    const unsigned short smbPort =
        served.port("SMB server on \\\\\\\\127.0.0.1\\\\mp3 port (\\d+)");
    ASSERT_GT(ftpPort, 0) << out.constData();
    ASSERT_GT(smbPort, 0) << out.constData();
    EXPECT_EQ(served.home.read("Lanpull.ini"),
              "[Lanpull]\r\nHost=127.0.0.1\r\nPort=" + QByteArray::number(smbPort) + "\r\n");

    const QByteArray site = "anonymous@127.0.0.1:" + QByteArray::number(ftpPort);
    const QList<QByteArray> ftp = served.listing("/ftp/search?q=tune&leech=y");
    EXPECT_EQ(ftp, (QList<QByteArray>{
                       site + "\t/Folder A/\tPlain tune.mp3\t70000",
                       site + "\t/\xD6k\xF6 Folder/\tBj\xF6rk's Caf\xE9 tune.mp3\t70000"}));
    const QList<QByteArray> ftpStore = ScrapeFtpListing(ftp, kFirst);
    const QList<QByteArray> smbStore =
        ScrapeSmbListing(served.listing("/smb/search?q=tune"), kFirst);
    ASSERT_EQ(ftpStore.size(), 2);
    ASSERT_EQ(smbStore.size(), 2);

    for (int i = 0; i < 2; ++i) {
        const QByteArray name = ftpStore[i].split('\t').value(2);
        const QString file = kFiles.filter(Cp1252::toUnicode(name)).value(0);
        const QString ftpTarget = served.home.file(QStringLiteral("ftp %1.mp3").arg(i));
        const auto ftpLaunch =
            ExternalHandoff::FtpFetch(ftpStore, name, ftpTarget, false, {}, served.home.path());
        ASSERT_TRUE(ftpLaunch);
        EXPECT_EQ(ServedLibrary::run(ftpLaunch->program, ftpLaunch->args), 0) << name.constData();
        EXPECT_EQ(served.home.read(QStringLiteral("ftp %1.mp3").arg(i)),
                  served.home.read("lib/" + file));

        const int smbIndex = smbStore[0].contains(name) ? 0 : 1;
        const auto smbLaunch = ExternalHandoff::SmbFetch(
            smbStore, smbIndex, served.home.file(QStringLiteral("smb %1.mp3").arg(i)),
            served.home.path());
        EXPECT_EQ(ServedLibrary::run(smbLaunch->program, smbLaunch->args), 0) << name.constData();
        EXPECT_EQ(served.home.read(QStringLiteral("smb %1.mp3").arg(i)),
                  served.home.read("lib/" + file));
    }
    EXPECT_EQ(served.home.read("download.dat"), ""); // finished fetches leave no line

    // Links that lead out of the library are not served; a fetch that brought
    // nothing has failed for good and leaves no line to resume.
    const QString ftpUrl = QStringLiteral("ftp://") + QString::fromLatin1(site);
    const QList<QPair<QString, QString>> outside = {
        {"veskftp.exe", ftpUrl + "/Out tune.mp3"},
        {"veskftp.exe", ftpUrl + "/Out/outside.mp3"},
        {"Lanpull.exe", "\\\\127.0.0.1\\mp3\\Out tune.mp3"},
        {"Lanpull.exe", "\\\\127.0.0.1\\mp3\\Out\\outside.mp3"}};
    for (const auto& [program, source] : outside) {
        EXPECT_NE(
            ServedLibrary::run(served.home.file(program), {source, served.home.file("o.mp3")}), 0)
            << source.toStdString();
        EXPECT_NE(served.home.read("o.mp3"), "secret") << source.toStdString();
    }
    EXPECT_EQ(served.home.read("download.dat"), "");
}

TEST_F(ServedLibraryTest, OnlyReadableRegularFilesAreListedAndServed) {
    ServedLibrary served;
    ASSERT_EQ(mkfifo(served.library("Folder A/Pipe tune.mp3").toUtf8().constData(), 0644), 0);
    served.home.write("lib/Folder A/Line\nbreak tune.mp3", contentOf(2));
    served.home.write("lib/Folder A/Locked tune.mp3", contentOf(3));
    QFile::setPermissions(served.library("Folder A/Locked tune.mp3"), {});
    const bool root = geteuid() == 0; // root reads every file
    const QByteArray out = served.start();
    const QByteArray ftp =
        "ftp://127.0.0.1:" +
        QByteArray::number(served.port("FTP server on ftp://127.0.0.1:(\\d+)/")) + "/Folder%20A/";
    const QString smbPort =
        QString::number(served.port("SMB server on \\\\\\\\127.0.0.1\\\\mp3 port (\\d+)"));
    ASSERT_GT(served.httpPort, 0) << out.constData();
    QStringList names = {"Plain tune.mp3"};
    if (root)
        names.prepend("Locked tune.mp3");

    QStringList listed; // every name the service lists in that folder
    for (const QByteArray& line : served.listing("/smb/search?q=folder+a")) {
        const QList<QByteArray> fields = line.split('\t'); // ... NAME TAB SIZE
        listed.append(QString::fromLatin1(fields.value(fields.size() - 2)));
    }
    listed.sort();
    EXPECT_EQ(listed, names);
    EXPECT_EQ(httpGet(served.httpPort, "/files/Folder%20A/Pipe%20tune.mp3").body, "No such file\n");

    const auto nlst = runClient({"curl", "-sS", "--max-time", "20", "--list-only", ftp});
    EXPECT_EQ(nlst.first, 0) << nlst.second.constData();
    EXPECT_EQ(sortedLines(nlst.second), names);
    // curl asks for the size first unless told not to; RETR itself must not block.
    const auto pipe = runClient(
        {"curl", "-sS", "--max-time", "20", "--ignore-content-length", ftp + "Pipe%20tune.mp3"});
    EXPECT_EQ(pipe, qMakePair(78, QByteArray("curl: (78) RETR response: 550\n")));
    const auto plain = runClient({"curl", "-sS", "--max-time", "20", ftp + "Plain%20tune.mp3"});
    EXPECT_EQ(plain, qMakePair(0, contentOf(0))) << "the server still serves";

    // smbd lists a FIFO (Samba 4.17 does not honour "hide special files"), but opens it
    // without blocking; an unreadable file it leaves out.
    const auto smbLs = runClient(
        {"smbclient", "//127.0.0.1/mp3", "-p", smbPort, "-N", "-c", "ls \"Folder A\\*\""});
    EXPECT_TRUE(smbLs.second.contains("  Plain tune.mp3 ")) << smbLs.second.constData();
    EXPECT_EQ(smbLs.second.contains("  Locked tune.mp3 "), root) << smbLs.second.constData();
}

TEST_F(ServedLibraryTest, UploadsDeletionsAndNewFoldersAreRefused) {
    ServedLibrary served;
    const QByteArray out = served.start();
    const QString ftp = QStringLiteral("ftp://anonymous@127.0.0.1:%1/")
                            .arg(served.port("FTP server on ftp://127.0.0.1:(\\d+)/"));
    const QString smbPort =
        QString::number(served.port("SMB server on \\\\\\\\127.0.0.1\\\\mp3 port (\\d+)"));
    served.home.write("new.mp3", "new");
    const QMap<QString, QByteArray> before = snapshot(served.library());
    const QList<QStringList> attempts = {
        {"curl", "-sS", "-T", served.home.file("new.mp3"), ftp + "new.mp3"},
        {"curl", "-sS", "-Q", "DELE Folder A/Plain tune.mp3", ftp},
        {"curl", "-sS", "-Q", "MKD made", ftp},
        {"curl", "-sS", "-Q", "RNFR Folder A", "-Q", "RNTO moved", ftp},
        {"curl", "-sS", "-Q", "SITE CHMOD 777 Folder A", ftp},
        {"smbclient", "//127.0.0.1/mp3", "-p", smbPort, "-N", "-c",
         "put " + served.home.file("new.mp3") + " new.mp3"},
        {"smbclient", "//127.0.0.1/mp3", "-p", smbPort, "-N", "-c",
         "del \"Folder A\\Plain tune.mp3\""},
        {"smbclient", "//127.0.0.1/mp3", "-p", smbPort, "-N", "-c", "mkdir made"},
        {"smbclient", "//127.0.0.1/mp3", "-p", smbPort, "-N", "-c", "rename \"Folder A\" moved"},
    };
    for (const QStringList& attempt : attempts) {
        QProcess client;
        client.start(attempt.first(), attempt.mid(1));
        ASSERT_TRUE(client.waitForFinished(60000));
        const QByteArray said = client.readAllStandardOutput() + client.readAllStandardError();
        EXPECT_TRUE(client.exitCode() != 0 || said.contains("NT_STATUS_ACCESS_DENIED") ||
                    said.contains("NT_STATUS_MEDIA_WRITE_PROTECTED"))
            << attempt.join(' ').toStdString() << ": " << said.constData();
    }
    EXPECT_EQ(snapshot(served.library()), before);
}

TEST_F(ServedLibraryTest, TheServersEndWithTheServiceHoweverItEnds) {
    for (const int signal : {SIGTERM, SIGINT, SIGKILL}) {
        SCOPED_TRACE(signal);
        ServedLibrary served;
        const QByteArray out = served.start();
        const unsigned short ports[] = {served.port("FTP server on ftp://127.0.0.1:(\\d+)/"),
                                        served.port("port (\\d+)\n")};
        const QList<pid_t> children = descendants(static_cast<pid_t>(served.service.processId()));
        ASSERT_GE(children.size(), 2) << out.constData();
        ::kill(static_cast<pid_t>(served.service.processId()), signal);
        ASSERT_TRUE(served.service.waitForFinished(30000));
        for (const pid_t child : children)
            EXPECT_TRUE(ends(child)) << child;
        for (const unsigned short port : ports)
            EXPECT_FALSE(AcceptsConnections(port)) << port;
        const QStringList left =
            QDir(served.home.file("tmp")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries);
        EXPECT_EQ(left.size(), signal == SIGKILL ? 1 : 0) << left.join(' ').toStdString();
        if (signal == SIGKILL && left.size() == 1) { // the next start removes it
            served.out.clear();
            const QString folder = served.home.file("tmp/" + left[0]);
            EXPECT_TRUE(served.start().contains("pellmar-searchd: removed " + folder.toUtf8() +
                                                ", left by a service that has ended\n"));
            EXPECT_FALSE(QFile::exists(folder));
            EXPECT_EQ(QDir(served.home.file("tmp"))
                          .entryList(QDir::NoDotAndDotDot | QDir::AllEntries)
                          .size(),
                      1);
        }
    }
}

TEST_F(ServedLibraryTest, ServersThatCannotStartAreReportedAndTheServiceGoesOn) {
    struct Row {
        QString tempFolder; // relative to the program folder
        QStringList extra;
        QByteArray errors;  // FOLDER stands for the program folder
        QByteArray ftpSite; // FTPPORT stands for the FTP server's port
    };
    const QList<Row> rows = {
        {"outside.mp3",
         {},
         "pellmar-searchd: no FTP server: cannot make a folder in FOLDER/outside.mp3\n"
         "pellmar-searchd: no SMB server: cannot make a folder in FOLDER/outside.mp3\n",
         "anonymous@127.0.0.1:21"},
        {"tmp",
         {"--smb-share", "my music"},
         "pellmar-searchd: no SMB server: the share name must be letters, digits, - and _\n",
         "anonymous@127.0.0.1:FTPPORT"}};
    for (const Row& row : rows) {
        ServedLibrary served;
        const QByteArray out = served.start(served.home.file(row.tempFolder), row.extra);
        ASSERT_GT(served.httpPort, 0) << out.constData();
        EXPECT_EQ(served.service.readAllStandardError(),
                  QByteArray(row.errors).replace("FOLDER", served.home.path().toUtf8()));
        const QByteArray ftpPort =
            QByteArray::number(served.port("FTP server on ftp://127.0.0.1:(\\d+)/"));
        EXPECT_TRUE(served.listing("/ftp/search?q=plain&leech=y")
                        .value(0)
                        .startsWith(QByteArray(row.ftpSite).replace("FTPPORT", ftpPort) + '\t'));
        EXPECT_FALSE(QFile::exists(served.home.file("Lanpull.ini")));
    }
}

TEST(AsNobody, RunsTheCommandAsNobodyOrSkipsSayingWhyItCannot) {
    if (geteuid() != 0)
        GTEST_SKIP() << "only root runs a command as nobody";
    const QString script = QStringLiteral(PELLMAR_SOURCE_DIR "/tests/support/as_nobody.sh");
    for (const bool open : {true, false}) {
        QTemporaryDir folder;
        QFile::setPermissions(folder.path(),
                              open ? QFile::Permissions(0x7755) : QFile::Permissions(0x7700));
        const QString command = folder.filePath("command");
        QFile file(command);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\nid -un\n");
        file.close();
        file.setPermissions(QFile::Permissions(0x7755));
        const auto ran = runClient({script, command});
        EXPECT_EQ(ran,
                  open ? qMakePair(0, QByteArray("nobody\n"))
                       : qMakePair(77, "Skipped: the user nobody cannot run " + command.toUtf8() +
                                           "; a folder on its way is closed to other users\n"));
    }
}
