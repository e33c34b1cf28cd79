#pragma once

#include <QString>
#include <QStringList>

// Brings an installed program's defaults (help pages, data file, outside programs) into a
// program folder. A file the folder lacks is copied; a file still as it was copied is
// replaced when the installed default changes (a package update); a file changed since,
// such as a data file the update check refreshed, stays. The folder remembers what it was
// given in ".defaults".
namespace FolderDefaults {

// Creates folder and its temp/ and copies in the files below each of sources. Returns what
// failed, naming the folder, or nothing.
QString fill(const QString& folder, const QStringList& sources);

} // namespace FolderDefaults
