#pragma once

#include <QByteArray>

// The socket layer numbers its errors as Windows Sockets does (10035 would-block, 10061
// refused, 11001 host not found, ...); callers and messages rely on these numbers.
namespace SocketErrors {

constexpr int kInterrupted = 10004; // a cancelled lookup
constexpr int kInvalidArgument = 10022;
constexpr int kWouldBlock = 10035;
constexpr int kNotSocket = 10038;
constexpr int kConnectionReset = 10054;
constexpr int kNotConnected = 10057;
constexpr int kNoData = 11004;

// The description of a number: "Connection refused", ..., "Not a WinSock error".
QByteArray SocketErrorText(int error);

// An errno value in the numbering above (0 stays 0).
int FromErrno(int errnoValue);

// A getaddrinfo() result code in the numbering above; systemErrno is errno at the time,
// used for EAI_SYSTEM.
int FromResolver(int gaiError, int systemErrno);

} // namespace SocketErrors
