#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class IClipboard;

// Handing things to the desktop: the "open" action for URLs, mailto: links and files,
// and starting a program. Programs are started with an argument vector, never through a
// shell: names that reach a command line may come from the network.
// How a watched program ended.
struct ProgramEnd {
    bool started = false;
    bool crashed = false; // killed by a signal
    int exitCode = 0;
    QString said; // the last line it wrote to its error output
    bool ok() const { return started && !crashed && exitCode == 0; }
};
using ProgramEnded = std::function<void(const ProgramEnd& end)>;

class IShell {
public:
    virtual ~IShell() = default;
    // Opens target with the desktop's handler; failures are silent.
    virtual void openWithShell(const QString& target) = 0;
    // Starts program with args, without waiting; true when the process started.
    virtual bool launch(const QString& program, const QStringList& args) = 0;
    // Starts program with args and calls ended from the event loop once it has ended (or
    // could not start); never blocks and never calls ended from within this call.
    virtual void launchWatched(const QString& program, const QStringList& args,
                               ProgramEnded ended) = 0;
};

// The Linux version: xdg-open for the open action, posix_spawn for programs.
class PosixShell : public IShell {
public:
    void openWithShell(const QString& target) override;
    bool launch(const QString& program, const QStringList& args) override;
    void launchWatched(const QString& program, const QStringList& args,
                       ProgramEnded ended) override;
};

// Splits a command line's argument text the way Windows programs read theirs: blanks
// separate arguments, double quotes group blanks into one argument and are dropped.
QStringList splitCommandLine(const QString& text);

// Puts argument on the clipboard, then starts program with the command line
// argument + suffix (split as above). True when the program started.
bool launchWithClipboard(IClipboard& clipboard, IShell& shell, const QString& program,
                         const QString& argument, const QString& suffix);
