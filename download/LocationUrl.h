#pragma once

#include <QByteArray>

// The address a Location value names, read against the address that answered with it:
// absolute ("http://h/x"), host-relative ("//h/x"), path-absolute ("/x") and relative
// ("x.mp3", "../x.mp3") values, with "." and ".." segments removed.
QByteArray ResolveLocation(const QByteArray& base, const QByteArray& location);
