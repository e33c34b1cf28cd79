#pragma once

#include <QString>

// Names from other machines as a page shows them: control and format characters (line
// breaks, escapes, right-to-left overrides, zero-width marks) would otherwise act on the
// text around them, so that "evil\u202E3pm.exe" reads as "evilexe.mp3". They are written
// out as \xHH, \uHHHH or \UHHHHHHHH, as the program's terminal output writes controls.
namespace VisibleControls {

QString shown(const QString& text);

} // namespace VisibleControls
