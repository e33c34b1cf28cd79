#include "search/HitSaver.h"
#include "platform/SettingsFile.h"
#include "support/DownloadHelpers.h"
#include "support/EventLoopWait.h"
#include "support/FreePort.h"
#include "support/ScriptedServer.h"
#include "support/TempHome.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

namespace {

const QByteArray kBody = PatternBytes(40000, 3);

// Answers by the request's path.
ScriptedServer::Script byPath() {
    return [](ScriptedServer::Connection& connection) {
        const QByteArray request = connection.readRequest();
        const QByteArray path = request.mid(4, request.indexOf(' ', 4) - 4);
        const QMap<QByteArray, QByteArray> replies = {
            {"/ok", OkReply(kBody, kBody.size(), "audio/mpeg")},
            {"/moved", "HTTP/1.0 302 Found\r\nLocation: /ok\r\n\r\n"},
            {"/small", OkReply(kBody.left(30000), 30000, "audio/mpeg")},
            {"/page", "HTTP/1.0 404 Not Found\r\nContent-Type: text/html\r\n\r\n<html></html>"},
            {"/gone", "HTTP/1.0 404 Not Found\r\nContent-Type: audio/mpeg\r\n\r\n" + kBody},
        };
        connection.send(replies.value(path));
    };
}

QByteArray read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(none)");
}

struct Saving {
    TempHome home;
    SettingsFile ini{home.file("Pellmar.ini")};
    QString dir = home.file("saved");
    QList<HitSaver::Result> results;
    int failures = -1;

    Saving() {
        QDir().mkpath(dir);
        ini.writeString("Options", "RetryCount", "0"); // one try per hit: no waits here
    }
    void put(const QString& name, const QByteArray& content) const {
        QFile file(dir + "/" + name);
        if (file.open(QIODevice::WriteOnly))
            file.write(content);
    }
    void program(const QString& name, const QByteArray& script) const {
        home.write(name, "#!/bin/sh\n" + script + "\n");
        QFile::setPermissions(home.file(name), QFile::ReadOwner | QFile::ExeOwner);
    }
    void save(const HitStores& stores) {
        HitSaver saver(ini, home.path(), dir, {0, 1, 2}, 2);
        bool finished = false;
        QObject::connect(&saver, &HitSaver::saved,
                         [this](const HitSaver::Result& result) { results.append(result); });
        QObject::connect(&saver, &HitSaver::finished, [&] { finished = true; });
        saver.start(stores);
        ASSERT_TRUE(WaitFor([&] { return finished; }));
        failures = saver.failures(); // the command's exit code is 1 unless this is 0
    }
};

} // namespace

TEST(HitSaver, HttpHitsTakeFreeNamesAndKeepOnlyRealFiles) {
    ScriptedServer server(byPath());
    const ClosedPort closed;
    const QByteArray refused = "http://127.0.0.1:" + QByteArray::number(closed.port) + "/a.mp3";
    Saving saving;
    saving.put("a.mp3", "mine");
    saving.put("a (2).mp3", "mine too");
    const struct {
        QByteArray caption;
        QByteArray path;
        QString file;
        QString problem;
        QByteArray content;
    } rows[] = {
        {"a", "/ok", "a (3).mp3", "", kBody},
        {"a", "/moved", "a (4).mp3", "", kBody},
        {"a.mp3", "/small", "a (5).mp3", "File not saved. Size less than 30 kb", "(none)"},
        // A name given up by a failed hit is not handed out again in the same run.
        {"a", "/page", "a (6).mp3", "Sorry, link broken.", "(none)"},
        {"b/..", "/gone", "b_...mp3", "404 Not Found", "(none)"},
        {"c", refused, "c.mp3", "Connection refused (Error #10061)", "(none)"},
        {"..", "/ok", "_.mp3", "", kBody},
    };
    HitStores stores;
    for (const auto& row : rows)
        stores.http.append(row.caption + "\t" +
                           (row.path.startsWith('/') ? server.url(row.path) : row.path) +
                           "\t40000\t320\t44100\tStereo");
    saving.save(stores);

    ASSERT_EQ(saving.results.size(), std::size(rows));
    for (qsizetype i = 0; i < saving.results.size(); ++i) {
        SCOPED_TRACE(rows[i].file.toStdString());
        const HitSaver::Result& result = saving.results.at(i);
        EXPECT_EQ(result.kind, "http");
        EXPECT_EQ(result.caption, rows[i].caption);
        EXPECT_EQ(result.file.toStdString(), (saving.dir + "/" + rows[i].file).toStdString());
        EXPECT_EQ(result.problem.toStdString(), rows[i].problem.toStdString());
        EXPECT_EQ(read(result.file), rows[i].content);
    }
    EXPECT_EQ(saving.failures, 4);
    EXPECT_EQ(read(saving.dir + "/a.mp3"), "mine");
    EXPECT_EQ(read(saving.dir + "/a (2).mp3"), "mine too");
}

TEST(HitSaver, FtpAndSmbHitsWaitForTheOutsideProgramsAndTheirExitStatus) {
    // No sizes listed: the files the scripts write are checked here by their content.
    const HitStores stores{{},
                           {"127.0.0.1\t\\mp3\\Jazz\\\ta b.mp3\t"},
                           {"anonymous@127.0.0.1:2121\t/Jazz/\ta b.mp3\t1 MB"}};
    const QByteArray echo = "printf '%s\\n' \"$@\" >\"$2";
    const struct {
        const char* name;
        QByteArray ftpScript; // empty: no program
        QByteArray smbScript;
        QString ftpProblem;
        QString smbProblem;
    } rows[] = {
        {"saved", echo + "\"", echo + ".mp3\"", "", ""},
        {"failed", "echo 'curl: (9) denied' >&2; exit 9", "kill -9 $$",
         "veskftp.exe ended with exit code 9: curl: (9) denied", "Lanpull.exe crashed"},
        {"missing", "", "", "/veskftp.exe could not be started",
         "/Lanpull.exe could not be started"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Saving saving;
        saving.put("a b.mp3", "mine");
        if (!row.ftpScript.isEmpty())
            saving.program("veskftp.exe", row.ftpScript);
        if (!row.smbScript.isEmpty())
            saving.program("Lanpull.exe", row.smbScript);
        saving.save(stores);

        ASSERT_EQ(saving.results.size(), 2);
        const QString ftpFile = saving.dir + "/a b (2).mp3";
        const QString smbFile = saving.dir + "/a b (3).mp3";
        EXPECT_EQ(saving.results[0].kind, "ftp");
        EXPECT_EQ(saving.results[0].file, ftpFile);
        const QString folder = row.ftpScript.isEmpty() ? saving.home.path() : "";
        EXPECT_EQ(saving.results[0].problem, folder + row.ftpProblem);
        EXPECT_EQ(saving.results[1].kind, "smb");
        EXPECT_EQ(saving.results[1].file, smbFile);
        EXPECT_EQ(saving.results[1].problem, folder + row.smbProblem);
        const bool saved = row.ftpProblem.isEmpty();
        // The programs get the window's argument vectors; a failure leaves no empty file.
        EXPECT_EQ(read(ftpFile),
                  saved ? "ftp://anonymous@127.0.0.1:2121/Jazz/a b.mp3\n" + ftpFile.toUtf8() + "\n"
                        : "(none)");
        EXPECT_EQ(read(smbFile),
                  saved ? "\\\\127.0.0.1\\mp3\\Jazz\\a b.mp3\n" + smbFile.chopped(4).toUtf8() + "\n"
                        : "(none)");
        EXPECT_EQ(read(saving.dir + "/a b.mp3"), "mine");
    }
}

// An outside program that wrote something else than the listed file (a folder's listing, an
// error text) did not save the hit.
TEST(HitSaver, AFileOfAnotherSizeThanListedIsNoSuccess) {
    Saving saving;
    saving.program("veskftp.exe", "printf 'drwxr-xr-x 2 ftp ftp 4096 .' >\"$2\"");
    saving.program("Lanpull.exe", "head -c 1000 /dev/zero >\"$2.mp3\"");
    saving.save({{}, {"1.2.3.4\t\\s\\\tb.mp3\t1000\tx"}, {"u@h:21\t/p/\ta.mp3\t1000"}});
    ASSERT_EQ(saving.results.size(), 2);
    EXPECT_EQ(saving.results[0].problem, "veskftp.exe wrote 27 bytes, the listing says 1000");
    EXPECT_EQ(saving.results[1].problem, "");
    EXPECT_EQ(saving.failures, 1);
}

// Control characters of a caption (escape sequences, C1 codes) never reach a file name.
TEST(HitSaver, ControlCharactersOfCaptionsBecomeUnderscores) {
    Saving saving;
    saving.program("veskftp.exe", "printf x >\"$2\"");
    saving.save({{},
                 {},
                 {"u@h:21\t/p/\t\x1b]0;title\x07\x1b[31m\x81\x9d\x7f"
                  "a\t1"}});
    ASSERT_EQ(saving.results.size(), 1);
    EXPECT_EQ(saving.results[0].file, saving.dir + "/_]0;title__[31m___a.mp3");
    EXPECT_EQ(saving.results[0].problem, "");
}
