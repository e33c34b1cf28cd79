#pragma once

#include <QString>

class IMessageBoxes;
class IShell;

// "download.dat" in the program folder lists the SMB fetch program's unfinished downloads,
// one "source<TAB>target" line each. At start-up every line is offered again: Yes restarts
// the fetch program for it and keeps the line, No blanks the line. A list left without a
// non-empty line is emptied; the file is written back (and so created when missing) before
// any fetch starts, so that a fetch that finishes at once cannot have its removal undone.
void ResumeSmbDownloads(const QString& programFolder, IMessageBoxes& messages, IShell& shell);
