#include "search/LocalSearchService.h"
#include "searchd/http/TlsContext.h"
#include "support/FreePort.h"
#include "support/NonLatinSongs.h"
#include "support/ScriptedServer.h"
#include "support/TempHome.h"
#include "support/TestCertificates.h"

#include <QDirIterator>
#include <QProcess>
#include <QRegularExpression>
#include <QUrl>
#include <gtest/gtest.h>
#include <thread>

namespace {

// The program folder's stand-ins for the outside programs.
const QString kPrograms = PELLMAR_SOURCE_DIR "/resources/programs/";

struct Output {
    int exitCode = -1;
    QStringList lines; // sorted, but the summary stays last
};

// Runs in the program folder of the TempHome alive (PELLMAR_HOME).
Output search(const QStringList& args) {
    QProcess process;
    process.start(QStringLiteral(PELLMAR_CLI), QStringList{QStringLiteral("search")} + args);
    process.waitForFinished(60000);
    Output output{
        process.exitCode(),
        QString::fromUtf8(process.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts)};
    if (!output.lines.isEmpty())
        std::sort(output.lines.begin(), output.lines.end() - 1);
    return output;
}

} // namespace

TEST(SearchCommand, PrintsEveryHitAndTheSummary) {
    TempHome home;
    LocalSearchService service;
    WriteDataFile(home.file("Pellmar.dat"), ServiceFiles::dataFileLines(service.base(), 1));
    home.write("Pellmar.ini", "[Options]\r\nMinBitrate=100\r\n");
    const QString files = service.base() + "/files/Jazz/Marla%20Quinn%20-%20";
    const QString ftp = "ftp://anonymous@127.0.0.1:2121/Jazz/Marla Quinn - ";
    const QString smb = "\\\\127.0.0.1\\mp3\\Jazz\\Marla Quinn - ";
    const struct {
        QStringList args;
        int exitCode;
        QStringList lines;
    } rows[] = {
        {{"marla", "--sources", "http,ftp"},
         0,
         {"ftp\tMarla Quinn - Blue Motel.mp3\t80000\t\t1\t" + ftp + "Blue Motel.mp3",
          "ftp\tMarla Quinn - Telephone Wires.mp3\t30001\t\t1\t" + ftp + "Telephone Wires.mp3",
          "ftp\tMarla Quinn - Velvet Underpass.mp3\t24000\t\t1\t" + ftp + "Velvet Underpass.mp3",
          "http\tMarla Quinn - Blue Motel\t80000\t112kb/s 48kHz Stereo\t0\t" + files +
              "Blue%20Motel.mp3",
          "http\tMarla Quinn - Telephone Wires\t30001\t48kb/s 22kHz Stereo\t2\t" + files +
              "Telephone%20Wires.mp3",
          "Done\thttp 2\tsmb 0\tftp 3"}},
        {{"quinn", "--sources", "smb", "--leech"},
         0,
         {"smb\tMarla Quinn - Blue Motel.mp3\t80000\tN/A\t1\t" + smb + "Blue Motel.mp3",
          "smb\tMarla Quinn - Telephone Wires.mp3\t30001\tN/A\t1\t" + smb + "Telephone Wires.mp3",
          "smb\tMarla Quinn - Velvet Underpass.mp3\t24000\tN/A\t1\t" + smb + "Velvet Underpass.mp3",
          "Search aborted\thttp 0\tsmb 3\tftp 0"}},
        {{"marla", "--sources", "gopher"}, 2, {}},
        {{"marla", "--save", home.file("out"), "--marks", "3"}, 2, {}},
        {{"marla", "--marks", "01"}, 2, {}},
        {{}, 2, {}},
        {{""}, 1, {}},
    };
    for (const auto& row : rows) {
        const Output output = search(row.args);
        EXPECT_EQ(output.exitCode, row.exitCode) << row.args.join(' ').toStdString();
        EXPECT_EQ(output.lines, row.lines) << row.args.join(' ').toStdString();
    }
}

// A CJK word goes to our service whole and finds a CJK name in all three sources, printed
// in UTF-8 as the file is named.
TEST(SearchCommand, CjkWordsFindCjkNames) {
    TempHome home;
    LocalSearchService service({}, 60, nullptr, NonLatinSongs::files());
    WriteDataFile(home.file("Pellmar.dat"), ServiceFiles::dataFileLines(service.base(), 1));
    const QString name = NonLatinSongs::kCjkArtist + " - " + NonLatinSongs::kCjkTitle;
    const Output output = search({NonLatinSongs::kCjkTitle.left(2)});
    EXPECT_EQ(output.exitCode, 0);
    ASSERT_EQ(output.lines.size(), 4) << output.lines.join('\n').toStdString();
    EXPECT_EQ(output.lines.last(), "Done\thttp 1\tsmb 1\tftp 1");
    const QString files = service.base() + "/files/World/" +
                          QString::fromLatin1(QUrl::toPercentEncoding(name + ".mp3", "/"));
    const QStringList rows[] = {
        {"ftp", name + ".mp3", "ftp://anonymous@127.0.0.1:2121/World/" + name + ".mp3"},
        {"http", name, files},
        {"smb", name + ".mp3", "\\\\127.0.0.1\\mp3\\World\\" + name + ".mp3"},
    };
    for (qsizetype i = 0; i < 3; ++i) {
        const QStringList fields = output.lines[i].split('\t');
        ASSERT_EQ(fields.size(), 6) << output.lines[i].toStdString();
        EXPECT_EQ((QStringList{fields[0], fields[1], fields[5]}), rows[i]);
    }
}

namespace {

// The lines of a run that name a file in dir (its save lines), sorted.
QStringList savedLines(const QString& dir, const QStringList& args, int& exitCode) {
    QProcess process;
    process.start(QStringLiteral(PELLMAR_CLI),
                  QStringList{QStringLiteral("search")} + args + QStringList{"--save", dir});
    process.waitForFinished(60000);
    exitCode = process.exitCode();
    QStringList lines =
        QString::fromUtf8(process.readAllStandardOutput()).split('\n').filter("\t" + dir + "/");
    lines.sort();
    return lines;
}

QByteArray contentOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(none)");
}

} // namespace

TEST(SearchCommand, SavesTheChosenHitsAndSaysHowEachEnded) {
    TempHome home;
    ServiceSettings settings;
    const ClosedPort closed;
    settings.ftpSite = "anonymous@127.0.0.1:" + QByteArray::number(closed.port);
    LocalSearchService service(settings);
    WriteDataFile(home.file("Pellmar.dat"), ServiceFiles::dataFileLines(service.base(), 1));
    home.write("Pellmar.ini", "[Options]\r\nMinBitrate=100\r\n");
    QFile::copy(kPrograms + "veskftp.exe", home.file("veskftp.exe"));
    const QString out = home.file("out");
    const QString blue = "Marla Quinn - Blue Motel.mp3";
    const QString wires = "Marla Quinn - Telephone Wires.mp3";
    const QString velvet = "Marla Quinn - Velvet Underpass.mp3";
    const QString failed =
        "veskftp.exe ended with exit code 7: curl: (7) Failed to connect to 127.0.0.1 port " +
        QString::number(closed.port);
    const struct {
        QStringList args;
        int exitCode;
        QStringList lines; // a failure's reason up to its first variable part
    } rows[] = {
        // The hits that meet the quality settings only.
        {{"marla", "--sources", "http"},
         0,
         {"http\tMarla Quinn - Blue Motel\t" + out + "/" + blue + "\tok"}},
        // A name already there gets a number; nothing is written over.
        {{"marla", "--sources", "http", "--marks", "012"},
         0,
         {"http\tMarla Quinn - Blue Motel\t" + out + "/Marla Quinn - Blue Motel (2).mp3\tok",
          "http\tMarla Quinn - Telephone Wires\t" + out + "/" + wires + "\tok"}},
        {{"marla", "--sources", "ftp", "--marks", "2"},
         1,
         {"ftp\t" + blue + "\t" + out + "/" + blue.chopped(4) + " (3).mp3\t" + failed,
          "ftp\t" + wires + "\t" + out + "/" + wires.chopped(4) + " (2).mp3\t" + failed,
          "ftp\t" + velvet + "\t" + out + "/" + velvet + "\t" + failed}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.args.join(' ').toStdString());
        int exitCode = -1;
        QStringList lines = savedLines(out, row.args, exitCode);
        for (QString& line : lines)
            line = line.left(line.indexOf(" after "));
        EXPECT_EQ(exitCode, row.exitCode);
        EXPECT_EQ(lines.join('\n').toStdString(), row.lines.join('\n').toStdString());
    }
    const QString jazz = service.library() + "/Jazz/";
    EXPECT_EQ(contentOf(out + "/" + blue), contentOf(jazz + blue));
    EXPECT_EQ(contentOf(out + "/Marla Quinn - Blue Motel (2).mp3"), contentOf(jazz + blue));
    EXPECT_EQ(contentOf(out + "/" + wires), contentOf(jazz + wires));
    EXPECT_EQ(QDir(out).count(), 2 + 3); // no file is left by the failed fetches
}

namespace {

bool fileServersInstalled() {
    return QFile::exists("/usr/sbin/smbd") &&
           QProcess::execute("/usr/bin/python3", {"-c", "import pyftpdlib"}) == 0;
}

} // namespace

TEST(SearchCommand, SavesEveryHitOfAllThreeSourcesByteForByte) {
    if (!fileServersInstalled())
        GTEST_SKIP() << "samba or python3-pyftpdlib missing (scripts/setup.sh installs them)";
    TempHome home;
    const QString lib = home.file("lib");
    SampleLibrary::write(lib, 60);
    // Blanks, non-ASCII letters and an apostrophe on every way.
    SampleLibrary::SampleFile odd{"Jazz/Bj\u00F6rk's Caf\u00E9 - Velvet Night.mp3",
                                  "",
                                  "",
                                  SampleLibrary::plan(60).value(1).frame,
                                  SampleLibrary::Wrapping::None,
                                  90000};
    home.write("lib/" + odd.path, SampleLibrary::content(odd));
    for (const QString program : {"veskftp.exe", "Lanpull.exe"})
        QFile::copy(kPrograms + program, home.file(program));

    QDir(home.path()).mkdir("tmp");
    QProcess service;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TMPDIR", home.file("tmp"));
    service.setProcessEnvironment(env);
    service.start(PELLMAR_SEARCHD_BINARY,
                  {"--library", lib, "--port", "0", "--db", home.file("db"), "--write-datafile",
                   home.file("Pellmar.dat"), "--serve-ftp", "--serve-smb", "--program-folder",
                   home.path()});
    QByteArray started;
    while (!started.contains("listening on") && service.waitForReadyRead(30000))
        started += service.readAllStandardOutput();
    ASSERT_TRUE(started.contains("SMB server on")) << started.constData();

    const QString out = home.file("out");
    QProcess cli;
    cli.start(PELLMAR_CLI,
              {"search", "velvet", "--sources", "http,ftp,smb", "--save", out, "--marks", "012"});
    ASSERT_TRUE(cli.waitForFinished(120000));
    const QStringList lines = QString::fromUtf8(cli.readAllStandardOutput()).split('\n');
    EXPECT_EQ(cli.exitCode(), 0) << lines.join('\n').toStdString();
    // A file the user agreed to replace becomes the remote file whole, whatever it held.
    QMap<QString, QString> remote; // kind -> the URL or UNC path of its first hit
    for (const QString& line : lines) {
        const QStringList fields = line.split('\t');
        if (fields.size() == 6 && !remote.contains(fields[0]))
            remote[fields[0]] = fields[5];
    }
    home.write("over-ftp.mp3", QByteArray(4096, 'x'));
    home.write("over-smb.mp3", QByteArray(4096, 'x'));
    EXPECT_EQ(QProcess::execute(home.file("veskftp.exe"),
                                {remote.value("ftp"), home.file("over-ftp.mp3")}),
              0);
    EXPECT_EQ(
        QProcess::execute(home.file("Lanpull.exe"), {remote.value("smb"), home.file("over-smb")}),
        0);
    service.terminate();
    service.waitForFinished(30000);
    QList<QPair<QString, QString>> replaced = {
        {home.file("over-ftp.mp3"), QFileInfo(remote.value("ftp")).fileName()},
        {home.file("over-smb.mp3"), remote.value("smb").section('\\', -1)}};

    // Every hit line (six fields) has its save line (four), and each saved file is the
    // library's file of that name.
    QMap<QString, QByteArray> library;
    QDirIterator it(lib, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        library[QFileInfo(path).fileName()] = contentOf(path);
    }
    QMap<QString, int> hits;
    QMap<QString, int> saved;
    for (const QString& line : lines) {
        const QStringList fields = line.split('\t');
        if (fields.size() == 6)
            ++hits[fields[0]];
        if (fields.size() != 4 || !fields[2].startsWith(out + "/"))
            continue;
        SCOPED_TRACE(line.toStdString());
        ++saved[fields[0]];
        EXPECT_EQ(fields[3], "ok");
        const QString name = fields[1].endsWith(".mp3") ? fields[1] : fields[1] + ".mp3";
        ASSERT_TRUE(library.contains(name));
        EXPECT_EQ(contentOf(fields[2]), library.value(name));
    }
    EXPECT_EQ(saved, hits);
    for (const auto& [file, name] : replaced) {
        SCOPED_TRACE(file.toStdString());
        EXPECT_EQ(contentOf(file), library.value(name));
    }
    // Files from the network are not executable, whatever mode the server reports.
    QDirIterator files(out, QDir::Files);
    while (files.hasNext()) {
        const QString path = files.next();
        EXPECT_EQ(QFileInfo(path).permissions() &
                      (QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther),
                  QFile::Permissions())
            << path.toStdString();
    }
    for (const char* kind : {"http", "ftp", "smb"})
        EXPECT_GE(hits.value(kind), 2) << kind;
    EXPECT_TRUE(lines.contains("smb\tBj\u00F6rk's Caf\u00E9 - Velvet Night.mp3\t" + out +
                               "/Bj\u00F6rk's Caf\u00E9 - Velvet Night (3).mp3\tok"))
        << lines.join('\n').toStdString();
    EXPECT_EQ(home.read("download.dat"), "");
}

// Captions come from the network: their control characters reach neither the terminal nor a
// file name.
// The listing line's fields after the size are not part of the size shown.
TEST(SearchCommand, ControlCharactersAreWrittenOutWhenPrinted) {
    TempHome home;
    const QByteArray name = "\x1b]0;pwned\x07\x1b[31m\x9d.mp3";
    ScriptedServer server(ScriptedServer::reply("HTTP/1.0 200 OK\r\n\r\nu@127.0.0.1:1\t/p/\t" +
                                                name + "\t5\t2001-01-01\r\n"));
    WriteDataFile(home.file("Pellmar.dat"), ServiceFiles::dataFileLines(server.url(""), 1));
    QFile::copy(kPrograms + "veskftp.exe", home.file("veskftp.exe"));
    const QString out = home.file("out");
    QProcess process;
    process.start(PELLMAR_CLI, {"search", "pwned", "--sources", "ftp", "--save", out});
    process.waitForFinished(60000);
    const QByteArray printed = process.readAllStandardOutput() + process.readAllStandardError();
    EXPECT_FALSE(printed.contains('\x1b') || printed.contains('\x07') ||
                 printed.contains("\xc2\x9d"))
        << printed.toPercentEncoding().constData();
    const QString shown = "\\x1B]0;pwned\\x07\\x1B[31m\\x9D.mp3";
    const QStringList lines =
        QString::fromUtf8(printed).split('\n').filter(QRegularExpression("^ftp\t"));
    ASSERT_EQ(lines.size(), 2) << printed.constData();
    EXPECT_EQ(lines[0], "ftp\t" + shown + "\t5\t\t1\tftp://u@127.0.0.1:1/p/" + shown);
    // The name's control bytes reach curl escaped; it finds no server there.
    EXPECT_TRUE(lines[1].startsWith("ftp\t" + shown + "\t" + out +
                                    "/_]0;pwned__[31m_.mp3\tveskftp.exe ended with exit code 7: "
                                    "curl: (7) Failed to connect to 127.0.0.1 port 1"))
        << lines[1].toStdString();
}

// "Done" comes when the engines and the probes are over; the FTP listing that comes after it
// is still taken.
TEST(SearchCommand, ListingThatComesAfterDoneIsTaken) {
    TempHome home;
    LocalSearchService service;
    ScriptedServer listing([](ScriptedServer::Connection& connection) {
        connection.readRequest();
        std::this_thread::sleep_for(std::chrono::seconds(3)); // past the engines and probes
        connection.send("HTTP/1.0 200 OK\r\n\r\nu@127.0.0.1:1\t/p/\tMarla Late.mp3\t5\r\n");
    });
    QList<QString> lines = ServiceFiles::dataFileLines(service.base(), 1);
    lines.last() = QString::fromLatin1(listing.url("/ftp/search?q="));
    WriteDataFile(home.file("Pellmar.dat"), lines);
    const Output output = search({"marla", "--sources", "http,ftp"});
    EXPECT_EQ(output.lines.value(0),
              "ftp\tMarla Late.mp3\t5\t\t1\tftp://u@127.0.0.1:1/p/Marla Late.mp3");
    EXPECT_EQ(output.lines.last(), "Done\thttp 2\tsmb 0\tftp 1");
}

// The whole search over https: the engine pages, the probes of the hits and the download of
// the one saved, from the service with a certificate of the test CA named by --cacert.
// Without it the engines fail and nothing is taken from the service.
TEST(SearchCommand, WholeSearchRunsOverHttpsWithTheNamedCa) {
    TempHome home;
    TestCertificates certificates;
    const QString made = certificates.make();
    ASSERT_TRUE(made.isEmpty()) << made.toStdString();
    LocalSearchService service({}, 60,
                               std::make_shared<const TlsContext>(certificates.path("server.pem"),
                                                                  certificates.path("server.key")));
    ASSERT_TRUE(service.base().startsWith("https://127.0.0.1:"));
    WriteDataFile(home.file("Pellmar.dat"), ServiceFiles::dataFileLines(service.base(), 1));
    home.write("Pellmar.ini", "[Options]\r\nMinBitrate=100\r\n");
    const QString out = home.file("out");
    const QString files = service.base() + "/files/Jazz/Marla%20Quinn%20-%20";
    const QString blue = "Marla Quinn - Blue Motel.mp3";
    const struct {
        QStringList trust;
        int exitCode;
        QStringList lines;
    } rows[] = {
        {{"--cacert", certificates.caFile()},
         0,
         {"http\tMarla Quinn - Blue Motel\t80000\t112kb/s 48kHz Stereo\t0\t" + files +
              "Blue%20Motel.mp3",
          "http\tMarla Quinn - Telephone Wires\t30001\t48kb/s 22kHz Stereo\t2\t" + files +
              "Telephone%20Wires.mp3",
          "http\tMarla Quinn - Blue Motel\t" + out + "/" + blue + "\tok",
          "Done\thttp 2\tsmb 0\tftp 0"}},
        {{}, 0, {"Search aborted\thttp 0\tsmb 0\tftp 0"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.trust.join(' ').toStdString());
        QProcess process;
        process.start(QStringLiteral(PELLMAR_CLI),
                      row.trust +
                          QStringList{"search", "marla", "--sources", "http", "--save", out});
        ASSERT_TRUE(process.waitForFinished(60000));
        QStringList lines =
            QString::fromUtf8(process.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        for (QString& line : lines)
            line = line.left(line.indexOf(" after "));
        std::sort(lines.begin(), lines.end());
        QStringList expected = row.lines;
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(process.exitCode(), row.exitCode);
        EXPECT_EQ(lines.join('\n').toStdString(), expected.join('\n').toStdString());
    }
    EXPECT_EQ(contentOf(out + "/" + blue), contentOf(service.library() + "/Jazz/" + blue));
    EXPECT_EQ(QDir(out).count(), 2 + 1);
}
