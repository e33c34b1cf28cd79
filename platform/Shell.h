#pragma once

#include <QString>
#include <QStringList>

class IClipboard;

// Handing things to the desktop: the "open" action for URLs, mailto: links and files,
// and starting a program. Programs are started with an argument vector, never through a
// shell: names that reach a command line may come from the network.
class IShell {
public:
    virtual ~IShell() = default;
    // Opens target with the desktop's handler; failures are silent.
    virtual void openWithShell(const QString& target) = 0;
    // Starts program with args, without waiting; true when the process started.
    virtual bool launch(const QString& program, const QStringList& args) = 0;
};

// The Linux version: xdg-open for the open action, posix_spawn for programs.
class PosixShell : public IShell {
public:
    void openWithShell(const QString& target) override;
    bool launch(const QString& program, const QStringList& args) override;
};

// Splits a command line's argument text the way Windows programs read theirs: blanks
// separate arguments, double quotes group blanks into one argument and are dropped.
QStringList splitCommandLine(const QString& text);

// Puts argument on the clipboard, then starts program with the command line
// argument + suffix (split as above). True when the program started.
bool launchWithClipboard(IClipboard& clipboard, IShell& shell, const QString& program,
                         const QString& argument, const QString& suffix);
