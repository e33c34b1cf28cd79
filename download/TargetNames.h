#pragma once

#include <QByteArray>
#include <QSet>
#include <QString>

// Local file names for hits. Captions come from the network, so a caption becomes one plain
// file name, and a name is only ever taken by creating the file exclusively: a file that is
// there already is never opened for writing.
namespace TargetNames {

// C0 controls, DEL and C1 controls: they would reach terminals and file managers as commands.
bool IsControl(QChar ch);

// A hit caption as one file name: a "/" cannot lead the file into another folder, "." or ".."
// (or nothing) cannot name a folder, and control characters become "_".
QString FromCaption(const QByteArray& caption);

// The file a hit is saved as when no dialog is asked: the caption with one ".mp3" at its end.
QString LocalName(const QByteArray& caption);

// The file the outside programs write for the target they are handed: the SMB fetch program
// is handed the target less a final ".mp3" and adds one unless the rest still ends in it; the
// maker's FTP client keeps exactly one final ".mp3".
QString SmbFileName(const QString& target);
QString FtpFileName(const QString& target);

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
