#pragma once

#include <QByteArray>
#include <netinet/in.h>
#include <optional>

// The texts a socket's Addr, Port and Proto are given, read into the numbers a connect
// needs. Service and protocol names are looked up in the system's tables; host names are
// the business of the name lookup. A text holding a NUL byte is none of these: the
// system's readers would see only its start.

// A dotted IPv4 address as the platform reads one, the short forms "127.1" and
// "0x7f.0.0.1" included; none for anything else, the empty text too.
std::optional<in_addr> ParseDottedAddress(const QByteArray& text);
// The address as dotted decimal text ("10.0.0.1").
QByteArray DottedAddressText(const in_addr& address);

// A trimmed port text: its leading decimal digits, whatever follows them, or else a service
// name looked up for the protocol (any protocol when that is empty). None past 65535 or
// for a name the system does not know.
std::optional<quint16> ParsePort(const QByteArray& text, const QByteArray& protocol);

// A trimmed protocol text: a decimal number (0 when the digits are followed by anything
// else), "tcp", "udp" in any letter case, or a name of the system's protocol table.
std::optional<int> ParseProtocol(const QByteArray& text);
