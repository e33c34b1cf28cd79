#include "net/WSocket.h"

#include "net/HostLookup.h"
#include "net/NoticeEndpoint.h"
#include "net/SocketAddress.h"
#include "net/SocketErrors.h"
#include "net/TlsSession.h"

#include <QSocketNotifier>
#include <cerrno>
#include <netdb.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <system_error>
#include <unistd.h>

using namespace SocketErrors;

namespace {

// Failures a connect reports later on Windows, whatever Linux says at once.
bool IsLateConnectError(int error) {
    return error == ECONNREFUSED || error == ENETUNREACH || error == EHOSTUNREACH ||
           error == ETIMEDOUT || error == ECONNRESET || error == ENETDOWN;
}

} // namespace

TCustomWSocket::TCustomWSocket() : m_endpoint(std::make_unique<NoticeEndpoint>()) {
    m_readNotifier = new QSocketNotifier(QSocketNotifier::Read, m_endpoint.get());
    m_writeNotifier = new QSocketNotifier(QSocketNotifier::Write, m_endpoint.get());
    m_readNotifier->setEnabled(false);
    m_writeNotifier->setEnabled(false);
    QObject::connect(m_readNotifier, &QSocketNotifier::activated, m_endpoint.get(),
                     [this] { OnReadable(); });
    QObject::connect(m_writeNotifier, &QSocketNotifier::activated, m_endpoint.get(),
                     [this] { OnWritable(); });
    // This class's own versions, in the constructor and the destructor alike: no derived
    // class is there yet, or any more.
    TCustomWSocket::ResetDefaults();
}

TCustomWSocket::~TCustomWSocket() {
    m_destroying = true;
    // No handler runs during destruction: their owners may be half gone already.
    OnSessionAvailable = OnSessionConnected = OnSessionClosed = OnDataAvailable = OnDataSent =
        OnDnsLookupDone = nullptr;
    OnChangeState = nullptr;
    OnLineTooLong = OnError = nullptr;
    try {
        TCustomWSocket::CancelDnsLookup();
    } catch (...) {
    }
    try {
        if (m_state != wsClosed)
            TCustomWSocket::Close();
    } catch (...) {
    }
    if (m_handle >= 0) { // a close that failed half-way
        WatchRead(false);
        WatchWrite(false);
        ::close(m_handle);
    }
    // Destroying the endpoint drops the notices still queued for this socket.
    m_endpoint.reset();
}

// ---- properties ------------------------------------------------------------------------

void TCustomWSocket::SetAddr(const QByteArray& value) {
    const QByteArray trimmed = value.trimmed();
    if (m_addrAssigned && trimmed == m_addrText)
        return;
    m_addrText = trimmed;
    if (trimmed.isEmpty()) {
        m_addrAssigned = false;
        return;
    }
    if (m_state != wsClosed) {
        RaiseException(QStringLiteral("Cannot change Addr if not closed"));
        return;
    }
    m_addrResolved = false;
    m_addrAssigned = true;
}

void TCustomWSocket::SetPort(const QByteArray& value) {
    if (m_portAssigned && value == m_portText)
        return;
    m_portText = value;
    if (m_state != wsClosed) {
        RaiseException(QStringLiteral("Cannot change Port if not closed"));
        return;
    }
    const QByteArray trimmed = value.trimmed();
    m_portAssigned = false;
    if (trimmed.isEmpty())
        return;
    const std::optional<quint16> number = ParsePort(trimmed, m_protoText);
    if (!number) {
        SocketError(
            QStringLiteral("SetPort: Cannot convert port '%1'").arg(QString::fromLatin1(value)),
            kNoData);
        return;
    }
    m_portNumber = *number;
    m_address.sin_port = htons(m_portNumber);
    m_portAssigned = true;
}

void TCustomWSocket::SetProto(const QByteArray& value) {
    if (m_protoAssigned && value == m_protoText)
        return;
    m_protoText = value;
    if (m_state != wsClosed) {
        RaiseException(QStringLiteral("Cannot change Proto if not closed"));
        return;
    }
    const QByteArray trimmed = value.trimmed();
    m_protoAssigned = false;
    if (trimmed.isEmpty())
        return;
    const std::optional<int> number = ParseProtocol(trimmed);
    if (!number) {
        SocketError(QStringLiteral("SetProto: Cannot convert protocol '%1'")
                        .arg(QString::fromLatin1(value)),
                    kNoData);
        return;
    }
    m_protoNumber = *number;
    m_socketType = *number == IPPROTO_UDP ? SOCK_DGRAM : SOCK_STREAM;
    m_protoAssigned = true;
}

int TCustomWSocket::SendFlags() const {
    if (m_sendFlags == 0)
        return wsSendNormal;
    if (m_sendFlags == MSG_OOB)
        return wsSendUrgent;
    throw ESocketException(QStringLiteral("Invalid internal SendFlags"));
}

void TCustomWSocket::SetSendFlags(int flags) {
    if (flags == wsSendNormal)
        m_sendFlags = 0;
    else if (flags == wsSendUrgent)
        m_sendFlags = MSG_OOB;
    else
        RaiseException(QStringLiteral("Invalid SendFlags"));
}

int TCustomWSocket::RcvdCount() {
    int waiting = 0;
    if (m_handle < 0 || ioctl(m_handle, FIONREAD, &waiting) < 0) {
        SocketError(QStringLiteral("ioctlSocket"), m_handle < 0 ? kNotSocket : FromErrno(errno));
        return -1;
    }
    return waiting;
}

// ---- state and defaults ----------------------------------------------------------------

void TCustomWSocket::ChangeState(TSocketState state) {
    if (state == m_state)
        return;
    const TSocketState old = m_state;
    m_state = state;
    // From the constructor the state is closed already, so this never runs there.
    // NOLINTNEXTLINE(clang-analyzer-optin.cplusplus.VirtualCall)
    TriggerChangeState(old, state);
}

void TCustomWSocket::ResetDefaults() {
    m_address = sockaddr_in{};
    m_address.sin_family = AF_INET;
    m_address.sin_addr.s_addr = htonl(INADDR_ANY);
    m_portAssigned = false;
    m_addrAssigned = false;
    m_addrResolved = false;
    m_protoAssigned = true;
    m_protoText = "tcp";
    m_protoNumber = IPPROTO_TCP;
    m_socketType = SOCK_STREAM;
    m_lingerOnOff = wsLingerOn;
    m_lingerTimeout = 0;
    WatchRead(false);
    WatchWrite(false);
    m_handle = -1;
    ChangeState(wsClosed);
    m_readCount = 0;
    m_closeReported = false;
    m_flushTimeout = 60;
    DropTls();
    m_tlsHost.clear();
}

// ---- errors ----------------------------------------------------------------------------

void TCustomWSocket::RaiseException(const QString& message) {
    if (OnError) {
        TriggerError();
        return;
    }
    throw ESocketException(message);
}

void TCustomWSocket::SocketError(const QString& operation, int error) {
    const QString message = QStringLiteral("Error %1 in function %2\r\n%3")
                                .arg(error)
                                .arg(operation, QString::fromLatin1(SocketErrorText(error)));
    if ((error == kConnectionReset || error == kNotConnected) && m_handle >= 0) {
        WatchRead(false);
        WatchWrite(false);
        ::close(m_handle);
        m_handle = -1;
        ChangeState(wsClosed);
    }
    m_lastError = error;
    RaiseException(message);
}

// ---- name lookup -----------------------------------------------------------------------

void TCustomWSocket::DnsLookup(const QByteArray& host) {
    if (host.isEmpty()) {
        RaiseException(QStringLiteral("DNS lookup: invalid host name."));
        TriggerDnsLookupDone(kInvalidArgument);
        return;
    }
    if (m_lookup) { // replaced without an event
        m_lookup->Cancel();
        m_lookup.reset();
        m_lookupHandle = 0;
    }
    m_dnsResult.clear();
    m_dnsResultList.clear();

    if (const std::optional<in_addr> address = ParseDottedAddress(host)) {
        m_dnsResult = DottedAddressText(*address);
        TriggerDnsLookupDone(0);
        return;
    }
    const quint64 handle = ++m_lastLookupHandle;
    try {
        m_lookup = HostLookup::Start(host, m_endpoint.get(),
                                     [this, handle](int error, const QList<QByteArray>& list) {
                                         LookupDone(handle, error, list);
                                     });
    } catch (const std::system_error& error) {
        const int number = FromErrno(error.code().value());
        RaiseException(QStringLiteral("%1: can't start DNS lookup, error #%2")
                           .arg(QString::fromLatin1(host))
                           .arg(number));
        return;
    }
    m_lookupHandle = handle;
}

void TCustomWSocket::LookupDone(quint64 handle, int error, const QList<QByteArray>& addresses) {
    if (handle != m_lookupHandle)
        return; // cancelled or replaced
    m_lookupHandle = 0;
    m_lookup.reset();
    if (error == 0) {
        m_dnsResultList = addresses;
        m_dnsResult = addresses.value(0);
    }
    TriggerDnsLookupDone(quint16(error));
}

void TCustomWSocket::CancelDnsLookup() {
    if (!m_lookup)
        return;
    m_lookup->Cancel();
    m_lookup.reset();
    m_lookupHandle = 0;
    if (!m_destroying) // the analyzer loses the flag the destructor sets
        // NOLINTNEXTLINE(clang-analyzer-optin.cplusplus.VirtualCall)
        TriggerDnsLookupDone(kInterrupted);
}

// ---- connect ---------------------------------------------------------------------------

void TCustomWSocket::ResolveAddress() {
    std::optional<in_addr> address = ParseDottedAddress(m_addrText);
    if (!address) {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        addrinfo* result = nullptr;
        if (getaddrinfo(m_addrText.constData(), nullptr, &hints, &result) != 0 || !result) {
            throw ESocketException(QStringLiteral("SetAddr: Cannot convert host address '%1'")
                                       .arg(QString::fromLatin1(m_addrText)));
        }
        address = reinterpret_cast<const sockaddr_in*>(result->ai_addr)->sin_addr;
        freeaddrinfo(result);
    }
    m_address.sin_addr = *address;
}

void TCustomWSocket::Connect() {
    if (m_handle >= 0 && m_state != wsClosed)
        return RaiseException(QStringLiteral("Connect: Socket already in use"));
    if (!m_portAssigned)
        return RaiseException(QStringLiteral("Connect: No Port Specified"));
    if (!m_addrAssigned)
        return RaiseException(QStringLiteral("Connect: No IP Address Specified"));
    if (!m_protoAssigned)
        return RaiseException(QStringLiteral("Connect: No Protocol Specified"));

    if (!m_addrResolved) {
        ResolveAddress();
        m_addrResolved = true;
    }
    m_sendQueue.clear();
    DropTls();

    const int handle =
        ::socket(AF_INET, m_socketType | SOCK_NONBLOCK | SOCK_CLOEXEC, m_protoNumber);
    if (handle < 0)
        return SocketError(QStringLiteral("Connect (socket)"), FromErrno(errno));
    m_handle = handle;
    ++m_connection;
    m_closeReported = false;
    m_readNotifier->setSocket(handle);
    m_writeNotifier->setSocket(handle);
    ChangeState(wsOpened);

    if (m_socketType == SOCK_DGRAM)
        ConnectDatagram();
    else
        ConnectStream();
}

void TCustomWSocket::ConnectStream() {
    ApplyLinger();
    if (m_state != wsOpened)
        return; // an OnError handler ended the connect
    SetSocketOption(SOL_SOCKET, SO_KEEPALIVE, 1, "setsockopt(SO_KEEPALIVE)");
    SetSocketOption(SOL_SOCKET, SO_REUSEADDR, 1, "setsockopt(SO_REUSEADDR)");
    if (m_state != wsOpened)
        return;

    const int result =
        ::connect(m_handle, reinterpret_cast<const sockaddr*>(&m_address), sizeof m_address);
    const int platformError = result == 0 ? 0 : errno;
    if (platformError == 0 || platformError == EINPROGRESS) {
        ChangeState(wsConnecting);
        WatchWrite(true); // writable means the connect has completed
        return;
    }
    if (IsLateConnectError(platformError)) {
        ChangeState(wsConnecting);
        PostNotice(kNoticeConnect, FromErrno(platformError));
        return;
    }
    m_lastError = FromErrno(platformError);
    SocketError(QStringLiteral("Connect"), m_lastError);
}

void TCustomWSocket::ConnectDatagram() {
    if (m_address.sin_addr.s_addr == INADDR_BROADCAST)
        SetSocketOption(SOL_SOCKET, SO_BROADCAST, 1, "setsockopt(SO_BROADCAST)");
    if (::connect(m_handle, reinterpret_cast<const sockaddr*>(&m_address), sizeof m_address) < 0)
        return RaiseException(
            QStringLiteral("winsock.bind failed, error #%1").arg(FromErrno(errno)));
    WatchRead(true);
    ChangeState(wsConnected);
    TriggerSessionConnected(0);
}

void TCustomWSocket::ApplyLinger() {
    if (m_lingerOnOff == wsLingerNoSet)
        return;
    if (m_handle < 0)
        return RaiseException(QStringLiteral("Cannot set linger option at this time"));
    linger value{};
    value.l_onoff = m_lingerOnOff == wsLingerOn ? 1 : 0;
    value.l_linger = m_lingerTimeout;
    if (setsockopt(m_handle, SOL_SOCKET, SO_LINGER, &value, sizeof value) < 0)
        SocketError(QStringLiteral("setsockopt(SO_LINGER)"), FromErrno(errno));
}

void TCustomWSocket::SetSocketOption(int level, int option, int value, const char* operation) {
    if (setsockopt(m_handle, level, option, &value, sizeof value) < 0)
        SocketError(QString::fromLatin1(operation), FromErrno(errno));
}

// ---- notices ---------------------------------------------------------------------------

void TCustomWSocket::WatchRead(bool on) {
    if (m_readNotifier && m_readNotifier->isValid())
        m_readNotifier->setEnabled(on);
}

void TCustomWSocket::WatchWrite(bool on) {
    if (m_writeNotifier && m_writeNotifier->isValid())
        m_writeNotifier->setEnabled(on);
}

void TCustomWSocket::PostNotice(int bits, int error) {
    const quint64 connection = m_connection;
    m_endpoint->post([this, connection, bits, error] { HandleNotice(connection, bits, error); });
}

void TCustomWSocket::OnReadable() {
    if (m_handle < 0)
        return;
    if (m_tlsHandshaking) {
        ContinueHandshake();
        return;
    }
    if (m_tls && m_tlsWriteWantsRead) {
        m_tlsWriteWantsRead = false;
        HandleNotice(m_connection, kNoticeWrite, 0);
        if (m_handle < 0)
            return;
    }
    int waiting = 0;
    if (ioctl(m_handle, FIONREAD, &waiting) == 0 && waiting > 0) {
        m_receivedInRound = false;
        const quint64 connection = m_connection;
        HandleNotice(connection, kNoticeRead, 0);
        // Unread data keeps the handle readable, so the handler hears of it again at the
        // next pass of the event loop. Readiness alone would then never tell that the peer
        // has closed meanwhile: ask, and deliver the close notice.
        if (connection == m_connection && m_handle >= 0 && !m_receivedInRound) {
            const int closeError = PeerClosedError();
            if (closeError >= 0)
                HandleNotice(connection, kNoticeClose, closeError);
        }
        return;
    }
    // Readable with nothing to read: the peer closed, or the connection failed.
    char probe = 0;
    const ssize_t peeked = ::recv(m_handle, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
    if (peeked == 0)
        HandleNotice(m_connection, kNoticeClose, 0);
    else if (peeked < 0 && errno != EAGAIN && errno != EINTR)
        HandleNotice(m_connection, kNoticeClose, FromErrno(errno));
    else if (peeked > 0)
        HandleNotice(m_connection, kNoticeRead, 0);
}

// -1 while the peer's side is open; otherwise the close's error (0 for an orderly close).
int TCustomWSocket::PeerClosedError() const {
    pollfd probe{m_handle, POLLRDHUP, 0};
    if (::poll(&probe, 1, 0) <= 0 || !(probe.revents & (POLLRDHUP | POLLHUP | POLLERR)))
        return -1;
    if (!(probe.revents & POLLERR))
        return 0;
    int platformError = 0;
    socklen_t length = sizeof platformError;
    getsockopt(m_handle, SOL_SOCKET, SO_ERROR, &platformError, &length);
    return FromErrno(platformError);
}

void TCustomWSocket::OnWritable() {
    if (m_handle < 0)
        return;
    WatchWrite(false);
    if (m_tlsHandshaking) {
        ContinueHandshake();
        return;
    }
    if (m_tlsReadWantsWrite) {
        m_tlsReadWantsWrite = false;
        HandleNotice(m_connection, kNoticeRead, 0);
        if (m_handle < 0 || QueueEmpty())
            return;
    }
    if (m_state == wsConnecting) {
        int platformError = 0;
        socklen_t length = sizeof platformError;
        if (getsockopt(m_handle, SOL_SOCKET, SO_ERROR, &platformError, &length) < 0)
            platformError = errno;
        HandleNotice(m_connection, kNoticeConnect, FromErrno(platformError));
        return;
    }
    HandleNotice(m_connection, kNoticeWrite, 0);
}

void TCustomWSocket::HandleNotice(quint64 connection, int bits, int error) {
    if (connection != m_connection || m_handle < 0)
        return;
    if (bits & kNoticeConnect) {
        if (error == 0 && !m_tlsHost.isEmpty()) {
            BeginHandshake();
            return;
        }
        if (error == 0)
            WatchRead(true);
        ChangeState(wsConnected);
        TriggerSessionConnected(quint16(error));
        if (error != 0 && m_state != wsClosed)
            Close();
    }
    if ((bits & kNoticeRead) && connection == m_connection) {
        ReceiveLoop(error);
        // Bytes OpenSSL holds already are not shown by the handle's readiness.
        if (connection == m_connection && m_tls && m_tls->HasPending())
            PostNotice(kNoticeRead, 0);
    }
    if ((bits & kNoticeWrite) && connection == m_connection) {
        TryToSend();
        if (connection == m_connection && QueueEmpty() && OnDataSent)
            TriggerDataSent(quint16(error));
    }
    if ((bits & kNoticeClose) && connection == m_connection) {
        if (m_state == wsConnecting)
            return;
        ReceiveLoop(0); // data that came with the close goes first
        if (connection != m_connection || m_handle < 0)
            return; // a handler closed it, and that close was reported
        if (OnSessionClosed && !m_closeReported) {
            m_closeReported = true;
            TriggerSessionClosed(quint16(error));
        }
        if (connection == m_connection && m_state != wsClosed)
            Close();
    }
}

// ---- receiving -------------------------------------------------------------------------

void TCustomWSocket::ReceiveLoop(int error) {
    const quint64 connection = m_connection;
    for (;;) {
        m_lastError = 0;
        try {
            m_receivedInRound = false;
            if (!TriggerDataAvailable(quint16(error))) {
                char discard[1024];
                Receive(discard, sizeof discard);
            }
            if (m_lastError == kWouldBlock) { // everything waiting has been read
                m_lastError = 0;
                return;
            }
            if (m_lastError != 0 || connection != m_connection || m_handle < 0)
                return;
            // Bytes remain while the last read filled its buffer; a read that got less has
            // emptied the platform's. This spares asking the platform after every read.
            if (!m_receivedInRound || m_lastReceiveShort)
                return;
        } catch (...) {
            return; // a handler's exception ends this notice, nothing more
        }
    }
}

int TCustomWSocket::Receive(void* buffer, int capacity) {
    m_receivedInRound = true;
    if (m_handle < 0) {
        m_lastError = kNotSocket;
        return -1;
    }
    if (m_tls)
        return TlsReceive(static_cast<char*>(buffer), capacity);
    const ssize_t count = ::recv(m_handle, buffer, size_t(std::max(capacity, 0)), 0);
    m_lastReceiveShort = count >= 0 && (count < capacity || capacity <= 0);
    if (count < 0) {
        m_lastError = FromErrno(errno);
        return -1;
    }
    m_readCount += count;
    return int(count);
}

// ---- sending ---------------------------------------------------------------------------

int TCustomWSocket::Send(const void* data, int length) {
    if (m_state != wsConnected) {
        SocketError(QStringLiteral("Send"), kNotConnected);
        return -1;
    }
    int result = 0;
    if (length > 0) {
        AppendToQueue(static_cast<const char*>(data), length);
        result = length;
    }
    TryToSend();
    // OnDataSent comes from the event loop, after the caller has returned.
    if (QueueEmpty())
        PostNotice(kNoticeWrite, 0);
    return result;
}

void TCustomWSocket::AppendToQueue(const char* data, int length) {
    if (m_sendQueue.empty())
        m_sendQueue.emplace_back(kSendChunkSize);
    int written = m_sendQueue.back().Write(data, length);
    while (written < length) {
        m_sendQueue.emplace_back(kSendChunkSize);
        written += m_sendQueue.back().Write(data + written, length - written);
    }
}

bool TCustomWSocket::QueueEmpty() const {
    for (const TBuffer& chunk : m_sendQueue) {
        const char* unused = nullptr;
        if (chunk.Peek(unused) > 0)
            return false;
    }
    return true;
}

int TCustomWSocket::RealSend(const char* data, int length) {
    if (m_tls) {
        int sent = 0;
        const TlsSession::Result result = m_tls->Write(data, length, sent);
        if (result == TlsSession::Result::Ok)
            return sent;
        if (result == TlsSession::Result::WantRead)
            m_tlsWriteWantsRead = true;
        m_lastError =
            result == TlsSession::Result::WantRead || result == TlsSession::Result::WantWrite
                ? kWouldBlock
                : kConnectionReset;
        return -1;
    }
    const int flags = m_sendFlags | MSG_NOSIGNAL;
    const ssize_t sent = ::send(m_handle, data, size_t(length), flags);
    if (sent < 0) {
        m_lastError = FromErrno(errno);
        return -1;
    }
    return int(sent);
}

void TCustomWSocket::TryToSend() {
    if (m_handle < 0 || m_sendQueue.empty() || m_tlsHandshaking)
        return; // what is queued during a handshake goes when it is done
    for (;;) {
        const char* data = nullptr;
        const int count = m_sendQueue.front().Peek(data);
        if (count == 0) {
            if (m_sendQueue.size() > 1) {
                m_sendQueue.pop_front();
                continue;
            }
            return;
        }
        const int sent = RealSend(data, count);
        if (sent < 0) {
            const int error = m_lastError;
            if (error == kConnectionReset || error == kNotSocket || error == kNotConnected ||
                error == kInvalidArgument) {
                m_closeReported = true;
                Close();
                if (OnSessionClosed)
                    TriggerSessionClosed(quint16(error));
            } else if (error == kWouldBlock) {
                if (!m_tlsWriteWantsRead)
                    WatchWrite(true);
            } else {
                SocketError(QStringLiteral("TryToSend failed"), error);
            }
            return;
        }
        m_sendQueue.front().Remove(sent);
        if (sent < count) { // the platform tells when there is room again
            WatchWrite(true);
            return;
        }
    }
}

// ---- closing ---------------------------------------------------------------------------

void TCustomWSocket::Close() {
    InternalClose(true);
}

void TCustomWSocket::InternalClose(bool shutdownSending) {
    if (m_handle < 0) {
        if (m_state != wsClosed) {
            ChangeState(wsClosed);
            ResetDefaults();
        }
        return;
    }
    if (m_state == wsClosed)
        return;
    if (shutdownSending && m_tls && !m_tlsHandshaking)
        m_tls->Shutdown(); // close_notify first: the peer can tell a close from a cut
    if (shutdownSending)
        ::shutdown(m_handle, SHUT_WR);
    WatchRead(false);
    WatchWrite(false);
    ::close(m_handle); // Linux releases the handle whatever close() reports
    m_handle = -1;
    const quint64 connection = m_connection;
    ChangeState(wsClosed);
    if (!m_destroying && !m_closeReported && OnSessionClosed) {
        m_closeReported = true;
        TriggerSessionClosed(0);
    }
    if (connection != m_connection)
        return; // a handler already opened the next connection
    try {
        ResetDefaults();
    } catch (...) {
    }
}

void TCustomWSocket::Abort() {
    CancelDnsLookup();
    m_sendQueue.clear();
    if (m_state == wsConnected) {
        m_lingerOnOff = wsLingerOff;
        try {
            ApplyLinger();
        } catch (...) {
        }
    }
    InternalClose(false);
}

// ---- triggers --------------------------------------------------------------------------

bool TCustomWSocket::TriggerDataAvailable(quint16 error) {
    if (!OnDataAvailable)
        return false;
    OnDataAvailable(this, error);
    return true;
}

void TCustomWSocket::TriggerSessionConnected(quint16 error) {
    if (OnSessionConnected)
        OnSessionConnected(this, error);
}

void TCustomWSocket::TriggerSessionClosed(quint16 error) {
    if (OnSessionClosed)
        OnSessionClosed(this, error);
}

void TCustomWSocket::TriggerDataSent(quint16 error) {
    if (OnDataSent)
        OnDataSent(this, error);
}

void TCustomWSocket::TriggerChangeState(TSocketState oldState, TSocketState newState) {
    if (OnChangeState)
        OnChangeState(this, oldState, newState);
}

void TCustomWSocket::TriggerDnsLookupDone(quint16 error) {
    if (OnDnsLookupDone)
        OnDnsLookupDone(this, error);
}

void TCustomWSocket::TriggerError() {
    if (OnError)
        OnError(this);
}

// ---- TLS -------------------------------------------------------------------------------

void TCustomWSocket::StartTls(const QByteArray& host) {
    m_tlsHost = host.isEmpty() ? QByteArray("-") : host;
    m_tlsError.clear();
    if (m_state == wsConnected && m_handle >= 0 && !m_tls)
        BeginHandshake(); // a tunnel: the TCP connection is up already
}

bool TCustomWSocket::TlsCloseNotifyReceived() const {
    return m_tls && m_tls->CloseNotifyReceived();
}

QByteArray TCustomWSocket::TlsCipherText() const {
    return m_tls ? m_tls->CipherText() : QByteArray();
}

void TCustomWSocket::DropTls() {
    m_tls.reset();
    m_tlsHandshaking = false;
    m_tlsReadWantsWrite = false;
    m_tlsWriteWantsRead = false;
}

void TCustomWSocket::BeginHandshake() {
    m_tls = std::make_unique<TlsSession>(m_handle, m_tlsHost);
    m_tlsHandshaking = true;
    ContinueHandshake();
}

// One step each time the handle is ready as the last step asked; the connection counts as
// connected only when the handshake is done.
void TCustomWSocket::ContinueHandshake() {
    const TlsSession::Result result = m_tls->Handshake();
    if (result == TlsSession::Result::WantRead || result == TlsSession::Result::WantWrite) {
        WatchRead(result == TlsSession::Result::WantRead);
        WatchWrite(result == TlsSession::Result::WantWrite);
        return;
    }
    m_tlsHandshaking = false;
    const quint64 connection = m_connection;
    const bool done = result == TlsSession::Result::Ok;
    if (!done) {
        m_tlsError = m_tls->ErrorText();
        m_lastError = kTlsFailed;
    }
    WatchWrite(false);
    WatchRead(done);
    ChangeState(wsConnected);
    TriggerSessionConnected(done ? 0 : quint16(kTlsFailed));
    if (connection != m_connection || m_handle < 0)
        return;
    if (!done) {
        if (m_state != wsClosed)
            Close();
        return;
    }
    TryToSend(); // what a handler queued meanwhile
    if (connection == m_connection && m_tls && m_tls->HasPending())
        PostNotice(kNoticeRead, 0);
}

// Fills the buffer from as many records as are there: one event per batch, not per record.
int TCustomWSocket::TlsReceive(char* buffer, int capacity) {
    int total = 0;
    TlsSession::Result result = TlsSession::Result::Ok;
    while (total < capacity) {
        int count = 0;
        result = m_tls->Read(buffer + total, capacity - total, count);
        if (result != TlsSession::Result::Ok)
            break;
        total += count;
    }
    m_lastReceiveShort = total < capacity;
    m_readCount += total;
    if (result == TlsSession::Result::WantWrite) {
        m_tlsReadWantsWrite = true;
        WatchWrite(true);
    }
    if (result == TlsSession::Result::Closed || result == TlsSession::Result::Failed) {
        // The stream has ended (close_notify) or broken: the close follows, and a peer
        // that keeps the TCP connection open cannot hold it.
        if (!m_closeReported)
            PostNotice(kNoticeClose, result == TlsSession::Result::Closed ? 0 : kTlsFailed);
        if (total == 0)
            return 0;
    }
    if (total > 0)
        return total;
    m_lastError = kWouldBlock;
    return -1;
}
