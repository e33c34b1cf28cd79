#pragma once

#include <QString>

// The program folder holds the data file, the settings file, temp/, help/ and the
// outside programs. It is the folder of the running binary unless PELLMAR_HOME names
// another one (tests give each case its own folder that way).
namespace ProgramFolder {

// The folder without a trailing slash.
QString path();

// The running binary's full path, wherever the program folder is: what the registry
// records must name a program that exists.
QString executablePath();

// A file inside the program folder, for example file("Pellmar.dat").
QString file(const QString& relative);

} // namespace ProgramFolder
