#include "cli/Commands.h"
#include "download/DownloadJob.h"
#include "download/SourceFailover.h"
#include "platform/Cp1252.h"
#include "platform/Errors.h"
#include "platform/ProgramFolder.h"
#include "platform/SettingsFile.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

// pellmar-cli download [--continue] URL [URL...] -o FILE: one download job without a window,
// under the same rules as the program's download windows (redirects, broken links, the minimum
// size, retries, the proxy of the program folder's settings). The URLs are sources of one
// file, best first: when one fails for good, a line says so and the next one goes on from the
// partial file or starts afresh (SourceFailover decides). The job writes FILE.part beside
// FILE and replaces FILE with it only when complete, so a reply too small or cut short never
// costs the user's file; a partial stays as FILE.part. --continue takes up FILE.part (or,
// when there is none, FILE) from its end instead of starting afresh. Status texts and messages go
// to standard error as they happen (a wait between tries once, not every second of it), the speed
// at the end; on a terminal one progress line is redrawn in place. Exit code 0 only when the file
// is complete, 1 otherwise (after "all N sources failed" when there were several), 2 for wrong
// arguments.

namespace {

constexpr qint64 kRedrawMs = 200;

void printLine(const QString& text) {
    std::fprintf(stderr, "%s\n", qPrintable(text));
}

QString plainMessage(QString text) {
    return text.replace(QLatin1Char('\r'), QLatin1Char(' '));
}

// The file that -o names: through a symbolic link, the file it points at, so that the link
// stays a link.
QString finalPath(const QString& output) {
    const QFileInfo info(output);
    if (!info.isSymLink())
        return output;
    return info.exists() ? info.canonicalFilePath() : info.symLinkTarget();
}

// Puts the complete part file in place of the target, with the target's permissions when
// it existed. An empty text on success, else the reason.
QString replaceWith(const QString& part, const QString& target) {
    struct stat old {};
    if (::stat(QFile::encodeName(target).constData(), &old) == 0)
        ::chmod(QFile::encodeName(part).constData(), old.st_mode & 07777);
    if (::rename(QFile::encodeName(part).constData(), QFile::encodeName(target).constData()) == 0)
        return QString();
    return QStringLiteral("cannot replace %1: %2").arg(target, qt_error_string(errno));
}

// The in-place progress line: percent, bytes, and the speed and time left of the current
// try, measured since it started.
class ProgressLine {
public:
    explicit ProgressLine(const DownloadJob& job) : m_job(job) {
        m_clock.start();
        m_tryClock.start();
    }

    void redraw(bool force) {
        if (m_job.RetriesDone() != m_try) {
            m_try = m_job.RetriesDone();
            m_tryClock.start();
        }
        if (!force && m_lastDraw >= 0 && m_clock.elapsed() - m_lastDraw < kRedrawMs)
            return;
        m_lastDraw = m_clock.elapsed();
        const qint64 bytes = m_job.BytesReceived();
        const double trySeconds = double(m_tryClock.nsecsElapsed()) / 1e9;
        const double speed = trySeconds > 0 ? double(m_job.TryBytes()) / trySeconds / 1024.0 : 0.0;
        QString text = QStringLiteral("%1%  %2").arg(m_job.percent(), 3).arg(bytes);
        if (m_job.LengthKnown())
            text += QStringLiteral(" of %1").arg(m_job.AnnouncedLength());
        text += QStringLiteral(" bytes  %1 kb/s").arg(speed, 0, 'f', 2);
        if (m_job.LengthKnown() && speed > 0 && m_job.AnnouncedLength() >= bytes) {
            const qint64 left = qint64((m_job.AnnouncedLength() - bytes) / (speed * 1024.0));
            text += QStringLiteral("  %1:%2:%3 left")
                        .arg(left / 3600, 2, 10, QLatin1Char('0'))
                        .arg(left / 60 % 60, 2, 10, QLatin1Char('0'))
                        .arg(left % 60, 2, 10, QLatin1Char('0'));
        }
        std::fprintf(stderr, "\r%s\033[K", qPrintable(text));
        m_drawn = true;
    }
    // Ends the progress line so that the next text starts on its own line.
    void breakLine() {
        if (m_drawn)
            std::fputs("\n", stderr);
        m_drawn = false;
        m_lastDraw = -1;
    }
    double kbPerSecond() const {
        const double seconds = double(m_clock.nsecsElapsed()) / 1e9;
        return seconds > 0 ? double(m_job.BytesReceived()) / seconds / 1024.0 : 0.0;
    }
    double seconds() const { return double(m_clock.nsecsElapsed()) / 1e9; }

private:
    const DownloadJob& m_job;
    QElapsedTimer m_clock;
    QElapsedTimer m_tryClock;
    int m_try = 0;
    qint64 m_lastDraw = -1;
    bool m_drawn = false;
};

struct Paths {
    QString target;  // the file -o names, through a symbolic link
    QString part;    // FILE.part beside it
    QString writing; // the file the jobs write: the part file, or FILE itself for --continue
};

// The files of a download to output; none (the refusal printed) for a FILE that is a device,
// a FIFO or a folder.
std::optional<Paths> choosePaths(const QString& output, DownloadJob::TargetMode mode) {
    const QFileInfo given(output);
    if (given.exists() && !given.isFile()) {
        printLine(QStringLiteral("pellmar-cli download: Cannot create file %1: not a regular file")
                      .arg(output));
        return std::nullopt;
    }
    Paths paths;
    paths.target = finalPath(output);
    paths.part = paths.target + QStringLiteral(".part");
    const bool resumeTarget = mode == DownloadJob::TargetMode::Resume &&
                              !QFileInfo::exists(paths.part) && QFileInfo::exists(paths.target);
    paths.writing = resumeTarget ? paths.target : paths.part;
    return paths;
}

// Runs the job from url into the file until it ends: its status texts and messages as they
// come, the progress line on a terminal, the speed at the end. False when the file could not
// be opened (said so).
bool runJob(DownloadJob& job, const QString& writing, const QString& url,
            DownloadJob::TargetMode mode) {
    QObject context; // the connections end with this run
    ProgressLine progress(job);
    const bool terminal = isatty(STDERR_FILENO);
    QString lastStatus = job.status();
    int lastWait = 0;
    QEventLoop loop;
    QObject::connect(&job, &DownloadJob::changed, &context, [&] {
        if (job.status() != lastStatus) {
            lastStatus = job.status();
            if (job.Waiting() && job.RetriesDone() == lastWait)
                return; // the same wait counting down
            if (job.Waiting())
                lastWait = job.RetriesDone();
            progress.breakLine();
            printLine(lastStatus);
        }
    });
    QObject::connect(&job, &DownloadJob::progressed, &context, [&] {
        if (terminal)
            progress.redraw(false);
    });
    QObject::connect(&job, &DownloadJob::message, &context, [&](const QString& text) {
        if (text == lastStatus)
            return; // printed already as the status (a file error)
        progress.breakLine();
        printLine(plainMessage(text));
    });
    QObject::connect(&job, &DownloadJob::ended, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    try {
        job.StartTransfer(writing, Cp1252::fromUnicode(url), mode);
    } catch (const PellmarError& error) {
        printLine(QStringLiteral("pellmar-cli download: ") + error.message());
        return false;
    }
    loop.exec();
    if (terminal)
        progress.redraw(true);
    progress.breakLine();
    printLine(QStringLiteral("%1 bytes in %2 s, %3 kb/s")
                  .arg(job.BytesReceived())
                  .arg(progress.seconds(), 0, 'f', 1)
                  .arg(progress.kbPerSecond(), 0, 'f', 2));
    return true;
}

// "source 2 of 3", and after it what else the line says and the shown URL.
QString sourceText(const SourceFailover& sources, const QString& what = QString()) {
    return QStringLiteral("source %1 of %2%3: %4")
        .arg(QString::number(sources.index() + 1), QString::number(sources.count()), what,
             SourceFailover::shownUrl(sources.current()));
}

// How the current source takes over from the failed ones, said on standard error: it
// continues the partial file, or starts afresh (and replaces it once its reply is the file).
DownloadJob::TargetMode takeOver(SourceFailover& sources) {
    std::optional<SourceFailover::Start> start;
    QEventLoop loop;
    sources.chooseStart([&](SourceFailover::Start chosen) {
        start = chosen;
        loop.quit();
    });
    if (!start)
        loop.exec();
    if (*start == SourceFailover::Start::Continue) {
        printLine(QStringLiteral("pellmar-cli download: continuing at byte %1 from %2")
                      .arg(QString::number(sources.partial().size), sourceText(sources)));
        return DownloadJob::TargetMode::Resume;
    }
    printLine(QStringLiteral("pellmar-cli download: starting afresh from ") + sourceText(sources));
    return DownloadJob::TargetMode::Replace;
}

// Puts a complete part file in place of FILE; the exit code.
int finish(const Paths& paths) {
    if (paths.writing != paths.part)
        return 0;
    const QString problem = replaceWith(paths.part, paths.target);
    if (problem.isEmpty())
        return 0;
    printLine(QStringLiteral("pellmar-cli download: ") + problem);
    return 1;
}

} // namespace

int runDownloadCommand(const QStringList& args) {
    QStringList urls;
    QString output;
    bool wrong = false;
    auto mode = DownloadJob::TargetMode::Replace;
    for (qsizetype i = 0; i < args.size() && !wrong; ++i) {
        if (args[i] == QLatin1String("-o") && i + 1 < args.size())
            output = args[++i];
        else if (args[i] == QLatin1String("--continue"))
            mode = DownloadJob::TargetMode::Resume;
        else if (!args[i].startsWith(QLatin1Char('-')))
            urls << args[i];
        else
            wrong = true;
    }
    if (wrong || urls.isEmpty() || output.isEmpty()) {
        std::fputs("usage: pellmar-cli download [--continue] URL [URL...] -o FILE\n", stderr);
        return 2;
    }

    const SettingsFile ini(ProgramFolder::file(QStringLiteral("Pellmar.ini")));
    SourceFailover sources(ini, urls);
    std::optional<Paths> paths;
    bool firstJob = true;
    do {
        const QString url = sources.current();
        // The download manager speaks HTTP; FTP and SMB hits go to their outside programs.
        if (!SourceFailover::fetchable(url)) {
            printLine(QStringLiteral("pellmar-cli download: only http:// and https:// addresses "
                                     "are downloaded here (FTP and SMB hits: pellmar-cli search "
                                     "--save): ") +
                      SourceFailover::shownUrl(url));
            continue;
        }
        if (!paths && !(paths = choosePaths(output, mode)))
            return 1;
        if (!firstJob)
            mode = takeOver(sources);
        firstJob = false;
        DownloadJob job(ini);
        if (!runJob(job, paths->writing, url, mode))
            return 1;
        if (job.outcome() == DownloadJob::Outcome::Complete)
            return finish(*paths);
        if (job.TargetFailed())
            return 1; // no other source would find room on the disk
        sources.jobEnded(job, mode == DownloadJob::TargetMode::Resume);
        if (sources.count() > 1)
            printLine(QStringLiteral("pellmar-cli download: ") +
                      sourceText(sources, QStringLiteral(" failed")));
    } while (sources.next());
    if (sources.count() > 1)
        printLine(
            QStringLiteral("pellmar-cli download: all %1 sources failed").arg(sources.count()));
    return 1;
}
