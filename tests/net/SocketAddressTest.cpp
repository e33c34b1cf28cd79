#include "net/SocketAddress.h"

#include <QFile>
#include <arpa/inet.h>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

TEST(SocketAddress, DottedAddressesAsThePlatformReadsThem) {
    const struct {
        QByteArray text;
        QByteArray dotted; // empty: not an address
    } rows[] = {
        {"10.0.0.1", "10.0.0.1"},
        {"127.1", "127.0.0.1"},
        {"0x7f.0.0.1", "127.0.0.1"},
        {"255.255.255.255", "255.255.255.255"},
        {"256.0.0.1", ""},
        {"host.example", ""},
        {"", ""},
        {"10.0.0.1\0.junk"_ba, ""},
    };
    for (const auto& row : rows) {
        const std::optional<in_addr> address = ParseDottedAddress(row.text);
        EXPECT_EQ(address ? DottedAddressText(*address) : QByteArray(), row.dotted)
            << row.text.toHex().constData();
    }
}

TEST(SocketAddress, PortsAreLeadingDigitsOrServiceNames) {
    const struct {
        QByteArray text;
        QByteArray protocol;
        int port; // -1: none
    } rows[] = {
        {"8080", "tcp", 8080},
        {"0", "tcp", 0},
        {"65535", "tcp", 65535},
        {"65536", "tcp", -1},
        {"99999999999999999999", "tcp", -1},
        {"80abc", "tcp", 80},
        {"no-such-service-here", "tcp", -1},
        {"http\0x"_ba, "tcp", -1},
        {"", "tcp", -1},
    };
    for (const auto& row : rows) {
        const std::optional<quint16> port = ParsePort(row.text, row.protocol);
        EXPECT_EQ(port ? int(*port) : -1, row.port) << row.text.toHex().constData();
    }
}

TEST(SocketAddress, ProtocolsAreNumbersOrNames) {
    const struct {
        QByteArray text;
        int protocol; // -1: none
    } rows[] = {
        {"tcp", IPPROTO_TCP},
        {"UDP", IPPROTO_UDP},
        {"17", 17},
        {"6x", 0},
        {"no-such-proto", -1},
        {"", -1},
        {"tcp\0"_ba, -1},
    };
    for (const auto& row : rows) {
        const std::optional<int> protocol = ParseProtocol(row.text);
        EXPECT_EQ(protocol.value_or(-1), row.protocol) << row.text.toHex().constData();
    }
}

// Names other than "tcp" and "udp" come from the system's tables, which a bare system lacks.
TEST(SocketAddress, NamesAreLookedUpInTheSystemsTables) {
    if (!QFile::exists("/etc/services") || !QFile::exists("/etc/protocols"))
        GTEST_SKIP() << "no /etc/services or /etc/protocols";
    EXPECT_EQ(ParsePort("http", "tcp"), std::optional<quint16>(80));
    EXPECT_EQ(ParsePort("http", ""), std::optional<quint16>(80));
    EXPECT_EQ(ParseProtocol("icmp"), std::optional<int>(IPPROTO_ICMP));
}
