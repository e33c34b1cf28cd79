#pragma once

#include <QList>
#include <QString>

// The search service's addresses, read from the data file "Pellmar.dat": nine scrambled
// lines, one value each.
struct DataFileConfig {
    static constexpr int kLineCount = 9;
    // Nine short lines: a larger file is refused rather than read.
    static constexpr qint64 kMaxFileBytes = 1024 * 1024;
    // A message quotes at most this many characters of a line.
    static constexpr qsizetype kQuotedChars = 200;

    int DataVersion = 0;
    QString HomeUrl;
    QString Line3;
    QString HttpQueryUrl1;
    QString HttpQueryUrl2;
    QString Line7;
    QString SmbQueryUrl;
    QString FtpQueryUrl;

    enum class LoadResult { Loaded, Empty };

    // Reads the file at path into this config, field by field in line order.
    // Throws EFOpenError when the file cannot be read or is larger than kMaxFileBytes,
    // EListError when a line is missing and EConvertError when line 1 or 4 is not an integer;
    // the fields read before the failure keep their new values. An empty file changes
    // nothing and returns Empty.
    LoadResult load(const QString& path);

    // The bytes of a data file (or of its plain lines), at most kMaxFileBytes; throws
    // EFOpenError when the file cannot be opened or holds more.
    static QByteArray readFile(const QString& path);

    // The nine plain lines, for writing a data file.
    QList<QString> plainLines() const;
};

// A line of a stored file as a message quotes it: at most its first kQuotedChars characters,
// so that a message box never has to lay out a whole file.
QString QuotedLine(const QString& line);

// The content of a data file holding the nine plain lines, scrambled. Throws PellmarError
// when a line would not survive being stored (a zero character, or a scrambled code that
// falls on CR, LF or zero).
QByteArray ScrambledDataFile(const QList<QString>& plainLines);

// Writes ScrambledDataFile(plainLines) to path, replacing the file whole. Throws as that
// does, or when the file cannot be written.
void WriteDataFile(const QString& path, const QList<QString>& plainLines);
