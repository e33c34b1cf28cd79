#pragma once

#include <QByteArray>

// Standard Base64 (capital letters, small letters, digits, '+', '/'), padded with '='
// to a multiple of four, on one line. Used for the credentials of the authorization
// headers.
QByteArray Base64Encode(const QByteArray& data);

// A date-time value (days since 30 December 1899, the time as the fraction) as
// "Ddd, DD Mon YYYY HH:MM:SS", without a zone and without converting one.
QByteArray FormatHttpDate(double value);
