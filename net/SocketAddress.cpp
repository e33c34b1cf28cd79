#include "net/SocketAddress.h"

#include <arpa/inet.h>
#include <netdb.h>

namespace {

bool StartsWithDigit(const QByteArray& text) {
    return !text.isEmpty() && text[0] >= '0' && text[0] <= '9';
}

// Leading digits only, as the platform reads them; -1 past 65535.
int LeadingNumber(const QByteArray& text) {
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            break;
        value = value * 10 + (c - '0');
        if (value > 65535)
            return -1;
    }
    return value;
}

} // namespace

std::optional<in_addr> ParseDottedAddress(const QByteArray& text) {
    in_addr address{};
    if (text.isEmpty() || text.contains('\0') || inet_aton(text.constData(), &address) == 0)
        return std::nullopt;
    return address;
}

QByteArray DottedAddressText(const in_addr& address) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address, text, sizeof text);
    return QByteArray(text);
}

std::optional<quint16> ParsePort(const QByteArray& text, const QByteArray& protocol) {
    if (StartsWithDigit(text)) {
        const int number = LeadingNumber(text);
        return number < 0 ? std::nullopt : std::optional<quint16>(quint16(number));
    }
    if (text.isEmpty() || text.contains('\0') || protocol.contains('\0'))
        return std::nullopt;
    // The reentrant lookups: the plain ones share one static entry among all threads.
    servent entry{};
    servent* service = nullptr;
    char buffer[4096];
    getservbyname_r(text.constData(), protocol.isEmpty() ? nullptr : protocol.constData(), &entry,
                    buffer, sizeof buffer, &service);
    if (!service)
        return std::nullopt;
    return quint16(ntohs(quint16(service->s_port)));
}

std::optional<int> ParseProtocol(const QByteArray& text) {
    if (StartsWithDigit(text))
        return text.toInt();
    const QByteArray lower = text.toLower();
    if (lower == "tcp") // known without /etc/protocols
        return IPPROTO_TCP;
    if (lower == "udp")
        return IPPROTO_UDP;
    if (text.isEmpty() || text.contains('\0'))
        return std::nullopt;
    protoent entry{};
    protoent* found = nullptr;
    char buffer[4096];
    getprotobyname_r(text.constData(), &entry, buffer, sizeof buffer, &found);
    if (found)
        return found->p_proto;
    return std::nullopt;
}
