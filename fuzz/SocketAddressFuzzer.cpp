// Arbitrary text as a socket's address, port and protocol: nothing may crash, an address
// read must read back the same from its dotted text, and a port of digits must be the
// number its leading digits make.
#include "net/SocketAddress.h"

#include <cstdint>
#include <cstdlib>

namespace {

// The port the leading digits of a text make, counted apart from the parser; -1 past 65535.
int LeadingDigitsPort(const QByteArray& text) {
    qsizetype end = 0;
    while (end < text.size() && text[end] >= '0' && text[end] <= '9')
        ++end;
    qsizetype start = 0;
    while (start < end - 1 && text[start] == '0')
        ++start;
    if (end - start > 5)
        return -1;
    const int value = text.mid(start, end - start).toInt();
    return value > 65535 ? -1 : value;
}

void CheckAddress(const QByteArray& text) {
    const std::optional<in_addr> address = ParseDottedAddress(text);
    if (!address)
        return;
    const QByteArray dotted = DottedAddressText(*address);
    const std::optional<in_addr> again = ParseDottedAddress(dotted);
    if (dotted.count('.') != 3 || !again || again->s_addr != address->s_addr)
        std::abort();
}

void CheckPort(const QByteArray& text) {
    const std::optional<quint16> port = ParsePort(text, "tcp");
    if (text.isEmpty() || text[0] < '0' || text[0] > '9')
        return;
    if ((port ? int(*port) : -1) != LeadingDigitsPort(text))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray text(reinterpret_cast<const char*>(data), qsizetype(size));
    CheckAddress(text);
    CheckPort(text);
    // Names go to the system's tables, which read files: long ones only slow the run.
    if (text.size() <= 64)
        ParseProtocol(text);
    return 0;
}
