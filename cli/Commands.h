#pragma once

#include <QStringList>

// Sub-commands of pellmar-cli. Each takes its arguments (without the program and the
// command name) and returns the process exit code.
int runDataFileCommand(const QStringList& args);
int runGetCommand(const QStringList& args);
int runDownloadCommand(const QStringList& args);
int runProbeCommand(const QStringList& args);
int runSearchCommand(const QStringList& args);
int runSavedCommand(const QStringList& args);
