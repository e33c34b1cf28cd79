#pragma once

#include <QString>
#include <QStringList>

// The program folder holds the data file, the settings file, temp/, help/ and the
// outside programs. PELLMAR_HOME names it when set (tests give each case its own folder
// that way). Otherwise a program run from its build folder uses the folder of its binary,
// and an installed one (defaults beside it under ../share/pellmar and ../lib/pellmar, or a
// binary folder it may not write) uses a per-user folder, $XDG_DATA_HOME/Pellmar.
namespace ProgramFolder {

// The folder without a trailing slash.
QString path();

// The decision of path(), for a binary in binaryFolder, the value of PELLMAR_HOME and the
// user's data folder ($XDG_DATA_HOME, by default ~/.local/share).
QString choose(const QString& binaryFolder, const QString& home, const QString& userDataFolder);

// The folders of installed defaults that exist beside a binary in binaryFolder.
QStringList defaultsBeside(const QString& binaryFolder);

// Creates the program folder with its temp/ and brings in the installed defaults. Returns
// what went wrong, naming the folder, or nothing.
QString prepare();

// The running binary's full path, wherever the program folder is: what the registry
// records must name a program that exists.
QString executablePath();

// A file inside the program folder, for example file("Pellmar.dat").
QString file(const QString& relative);

} // namespace ProgramFolder
