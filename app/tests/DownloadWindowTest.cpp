#include "app/frmDownloadFile.h"
#include "download/DownloadJob.h"
#include "platform/SettingsFile.h"
#include "support/DownloadHelpers.h"
#include "support/EventLoopWait.h"
#include "support/FakeJobTimers.h"
#include "support/FakePlatform.h"
#include "support/ScriptedServer.h"
#include "support/TempHome.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <gtest/gtest.h>

namespace {

struct WindowRun {
    TempHome home;
    SettingsFile ini{home.file("Pellmar.ini")};
    FakePlatform fake;
    FakeJobTimers timers; // the job's waits and ticks run only when a test fires them
    DownloadJob job{ini};
    TfrmDownloadFile window{job, fake.messages};

    WindowRun() {
        // One try each, unless a test asks for more.
        ini.writeString("Options", "RetryCount", "0");
        job.SetTimerFactory(timers.factory());
    }
    void run(const QByteArray& url) {
        window.show();
        job.StartTransfer(home.file("My Song.mp3"), url);
        ASSERT_TRUE(WaitFor([this] { return job.outcome() != DownloadJob::Outcome::Pending; }));
    }
    QStringList shown() const {
        return {window.windowTitle(),
                window.Status->text(),
                window.InfoLabel->text(),
                window.lblFileLength->text(),
                window.lblKPS->text(),
                window.lblTimeLeft->text(),
                window.Button1->isVisible() ? "Ok" : "Cancel"};
    }
};

} // namespace

TEST(DownloadWindow, ShowsItsJob) {
    const QByteArray body = PatternBytes(61440, 11);
    ScriptedServer server(ScriptedServer::reply(OkReply(body, 122880, "audio/mpeg")));
    WindowRun run;
    EXPECT_EQ(run.window.size(), QSize(267, 107));
    EXPECT_EQ(run.window.pos(), QPoint(341, 259));
    EXPECT_TRUE(run.window.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(run.window.windowFlags() & Qt::WindowMaximizeButtonHint);
    run.run(server.url("/My%20Song.mp3"));
    run.timers.tick().fire();
    EXPECT_EQ(run.shown(), (QStringList{"50% My Song", "Download incomplete", "61440", "122880",
                                        "20.00", "00:00:03", "Cancel"}));
    EXPECT_EQ(run.window.ProgressBar1->value(), 50);

    const QString shot = qEnvironmentVariable("PELLMAR_SCREENSHOT");
    if (!shot.isEmpty())
        run.window.grab().save(shot);

    EXPECT_FALSE(run.window.close()); // the close box only asks the job to go
    EXPECT_TRUE(run.job.Finished());
    EXPECT_TRUE(run.job.Stopped());
}

TEST(DownloadWindow, BrokenLinkShowsOkAndTooSmallShowsTheMessage) {
    ScriptedServer html(ScriptedServer::reply("HTTP/1.0 404 Not Found\r\nContent-Type: "
                                              "text/html\r\n\r\n<html></html>"));
    WindowRun broken;
    broken.run(html.url("/x.mp3"));
    EXPECT_EQ(broken.shown()[1], "Sorry, link broken.");
    EXPECT_EQ(broken.shown()[6], "Ok");
    broken.window.Button1->click();
    EXPECT_TRUE(broken.job.Finished());

    ScriptedServer small(ScriptedServer::reply(OkReply("tiny", 4, "audio/mpeg")));
    WindowRun tooSmall;
    tooSmall.run(small.url("/x.mp3"));
    ASSERT_EQ(tooSmall.fake.messages.shown.size(), 1);
    EXPECT_EQ(tooSmall.fake.messages.shown[0].text, "File not saved.\rSize less than 30 kb");
    EXPECT_FALSE(tooSmall.job.Finished());
    tooSmall.window.Button2->click();
    EXPECT_TRUE(tooSmall.job.Finished());
}

TEST(DownloadWindow, ShowsTheWaitAndCountsTheSpeedOfTheCurrentTryOnly) {
    const QByteArray body = PatternBytes(122880, 12);
    ScriptedServer server(
        {ScriptedServer::reply("HTTP/1.0 200 OK\r\nETag: \"w\"\r\nContent-Length: 122880\r\n\r\n" +
                               body.left(61440)),
         ScriptedServer::reply("HTTP/1.0 206 Partial Content\r\nETag: \"w\"\r\n"
                               "Content-Length: 61440\r\n"
                               "Content-Range: bytes 61440-122879/122880\r\n\r\n" +
                               body.mid(61440))});
    WindowRun run;
    run.ini.writeString("Options", "RetryCount", "3");
    run.window.show();
    run.job.StartTransfer(run.home.file("My Song.mp3"), server.url("/My%20Song.mp3"));
    ASSERT_TRUE(WaitFor([&] { return run.job.Waiting(); }));
    EXPECT_EQ(run.window.Status->text(), "Retrying (1 of 3) in 0 s");
    EXPECT_EQ(run.window.windowTitle(), "50% My Song");
    run.timers.wait().fire();
    ASSERT_TRUE(WaitFor([&] { return run.job.outcome() != DownloadJob::Outcome::Pending; }));
    run.timers.tick().fire();
    // 61440 bytes in this try's first three seconds: 20 kb/s, not the 40 of both tries.
    EXPECT_EQ(run.shown(), (QStringList{"100% My Song", "Receiving data", "122880", "122880",
                                        "20.00", "00:00:00", "Cancel"}));
    EXPECT_EQ(run.home.read("My Song.mp3"), body);
}
