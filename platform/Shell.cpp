#include "platform/Shell.h"

#include "platform/Clipboard.h"

#include <QProcess>
#include <QTimer>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <vector>

extern char** environ;

namespace {

// Reaps the child in the background so that fire-and-forget starts leave no zombies.
void reapLater(pid_t pid) {
    std::thread([pid] {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}

bool spawn(const QString& program, const QStringList& args) {
    if (program.isEmpty())
        return false;
    std::vector<QByteArray> encoded;
    encoded.reserve(args.size() + 1);
    encoded.push_back(program.toLocal8Bit());
    for (const QString& arg : args)
        encoded.push_back(arg.toLocal8Bit());
    std::vector<char*> argv;
    argv.reserve(encoded.size() + 1);
    for (QByteArray& item : encoded)
        argv.push_back(item.data());
    argv.push_back(nullptr);

    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return false;
    reapLater(pid);
    return true;
}

} // namespace

void PosixShell::openWithShell(const QString& target) {
    spawn(QStringLiteral("xdg-open"), {target});
}

bool PosixShell::launch(const QString& program, const QStringList& args) {
    return spawn(program, args);
}

void PosixShell::launchWatched(const QString& program, const QStringList& args,
                               ProgramEnded ended) {
    auto* process = new QProcess;
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardOutputFile(QProcess::nullDevice());
    // The report runs after the process's own signal has returned: it may show a modal box.
    const auto report = [process, ended](const ProgramEnd& end) {
        process->disconnect();
        process->deleteLater();
        QTimer::singleShot(0, [ended, end] { ended(end); });
    };
    QObject::connect(process, &QProcess::finished, [process, report] {
        const QList<QByteArray> lines = process->readAllStandardError().trimmed().split('\n');
        report({true, process->exitStatus() == QProcess::CrashExit, process->exitCode(),
                QString::fromLocal8Bit(lines.last().trimmed())});
    });
    QObject::connect(process, &QProcess::errorOccurred, [report](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            report({});
    });
    // An argument vector, no shell: names come from the network.
    process->start(program, args);
}

QStringList splitCommandLine(const QString& text) {
    QStringList args;
    QString current;
    bool inQuotes = false;
    bool haveArg = false;
    for (QChar ch : text) {
        if (ch == QLatin1Char('"')) {
            inQuotes = !inQuotes;
            haveArg = true;
        } else if (!inQuotes && (ch == QLatin1Char(' ') || ch == QLatin1Char('\t'))) {
            if (haveArg)
                args.append(current);
            current.clear();
            haveArg = false;
        } else {
            current.append(ch);
            haveArg = true;
        }
    }
    if (haveArg)
        args.append(current);
    return args;
}

bool launchWithClipboard(IClipboard& clipboard, IShell& shell, const QString& program,
                         const QString& argument, const QString& suffix) {
    clipboard.setText(argument);
    return shell.launch(program, splitCommandLine(argument + suffix));
}
