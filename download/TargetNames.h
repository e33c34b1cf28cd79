#pragma once

#include <QByteArray>
#include <QSet>
#include <QString>

// Local file names for hits. Captions come from the network, so a caption becomes one plain
// file name, and a name is only ever taken by creating the file exclusively: a file that is
// there already is never opened for writing.
namespace TargetNames {

// A hit caption as one file name: a "/" cannot lead the file into another folder, and "."
// or ".." (or nothing) cannot name a folder.
QString FromCaption(const QByteArray& caption);

// name with " (n)" before its extension: "a.mp3", 2 -> "a (2).mp3".
QString Numbered(const QString& name, int n);

// The outcome of Reserve: the path of the new, empty file, or why none could be made.
struct Reservation {
    QString path;
    QString error;
};

// Creates name in folder, or the first of "name (2)", "name (3)" ... that is neither on
// disk nor in taken, exclusively (never check-then-write). The chosen path joins taken.
Reservation Reserve(const QString& folder, const QString& name, QSet<QString>& taken);

} // namespace TargetNames
