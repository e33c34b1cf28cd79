#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <optional>

// Received bytes to text lines. A line ends at CR, LF or the pair CR LF; a last line
// without an end is kept; an empty body gives no lines; a zero byte ends a line's text.
QList<QByteArray> SplitLines(QByteArrayView bytes);

// The data file keeps its lines scrambled: with n the length, each code c becomes
// (c - n - 56) mod 256 at odd positions and (c - n - 45) mod 256 at even ones
// (positions count from 1).
QByteArray DescrambleText(QByteArrayView text);

// The inverse of DescrambleText, for writing data files.
QByteArray ScrambleText(QByteArrayView text);

// True when a scrambled line can be stored as one line of a text file: no CR, LF or zero
// byte among its codes.
bool FitsOnOneLine(QByteArrayView scrambled);

// A decimal number of at most 18 digits, without sign or blanks; nothing for any other text.
std::optional<qint64> DecimalNumber(QByteArrayView text);

// The value of one hexadecimal digit (either case); -1 for any other character.
int HexDigitValue(char c);
