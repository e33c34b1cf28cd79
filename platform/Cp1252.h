#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// Text of the program's files and of the network is 8-bit Windows-1252. Bytes 0x80-0x9F
// differ from Latin-1 (0x80 is the euro sign, 0x92 a right quote, ...).
namespace Cp1252 {

QString toUnicode(QByteArrayView bytes);

// Characters without a Windows-1252 code become '?'.
QByteArray fromUnicode(const QString& text);

// A Windows-1252 file name as the UTF-8 bytes a Linux file system expects.
QByteArray toUtf8FileName(QByteArrayView bytes);

} // namespace Cp1252
