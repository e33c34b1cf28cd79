#pragma once

#include "net/Buffer.h"
#include "platform/Errors.h"

#include <QByteArray>
#include <QList>
#include <deque>
#include <functional>
#include <memory>
#include <netinet/in.h>

class HostLookup;
class NoticeEndpoint;
class TlsSession;
class QSocketNotifier;

// Ordinals matter: they are passed in OnChangeState.
enum TSocketState {
    wsInvalidState = 0,
    wsOpened = 1,
    wsBound = 2,
    wsConnecting = 3,
    wsConnected = 4,
    wsAccepting = 5,
    wsListening = 6,
    wsClosed = 7,
};

enum TSocketSendFlags { wsSendNormal = 0, wsSendUrgent = 1 };
enum TSocketLingerOnOff { wsLingerOff = 0, wsLingerOn = 1, wsLingerNoSet = 2 };

// Misuse of a socket, and socket errors when no OnError handler is assigned.
class ESocketException : public PellmarError {
public:
    using PellmarError::PellmarError;
};

// An event-driven TCP socket that never blocks the thread it lives on. Every operation
// returns at once; completions arrive later from the event loop as events. Handlers are
// std::function members; an unassigned one is skipped. Errors are numbered as Windows
// Sockets numbers them (see SocketErrors.h). The life of a connection and the order of
// its events are described in docs/event-loop.md.
class TCustomWSocket {
public:
    using TSessionEvent = std::function<void(TCustomWSocket* Sender, quint16 Error)>;
    using TChangeState =
        std::function<void(TCustomWSocket* Sender, TSocketState OldState, TSocketState NewState)>;
    using TNotifyEvent = std::function<void(TCustomWSocket* Sender)>;

    static constexpr int kSendChunkSize = 1514;

    TCustomWSocket();
    virtual ~TCustomWSocket();
    TCustomWSocket(const TCustomWSocket&) = delete;
    TCustomWSocket& operator=(const TCustomWSocket&) = delete;

    QByteArray Addr() const { return m_addrText; }
    void SetAddr(const QByteArray& value);
    QByteArray Port() const { return m_portText; }
    void SetPort(const QByteArray& value);
    QByteArray Proto() const { return m_protoText; }
    void SetProto(const QByteArray& value);

    QByteArray DnsResult() const { return m_dnsResult; }
    QList<QByteArray> DnsResultList() const { return m_dnsResultList; }
    TSocketState State() const { return m_state; }
    qint64 ReadCount() const { return m_readCount; }
    int RcvdCount();
    int LastError() const { return m_lastError; }
    bool MultiThreaded() const { return m_multiThreaded; }
    void SetMultiThreaded(bool value) { m_multiThreaded = value; }
    int FlushTimeout() const { return m_flushTimeout; }
    void SetFlushTimeout(int seconds) { m_flushTimeout = seconds; }
    int SendFlags() const;
    void SetSendFlags(int flags);
    TSocketLingerOnOff LingerOnOff() const { return m_lingerOnOff; }
    void SetLingerOnOff(TSocketLingerOnOff value) { m_lingerOnOff = value; }
    int LingerTimeout() const { return m_lingerTimeout; }
    void SetLingerTimeout(int seconds) { m_lingerTimeout = seconds; }

    virtual void DnsLookup(const QByteArray& host);
    virtual void CancelDnsLookup();
    virtual void Connect();
    virtual int Send(const void* data, int length);
    int SendString(const QByteArray& text) { return Send(text.constData(), int(text.size())); }
    virtual int Receive(void* buffer, int capacity);
    virtual void Close();
    virtual void Abort();

    // TLS: called before Connect, the handshake follows the TCP connect; called on a
    // connected socket (a proxy's tunnel), it starts at once. Either way OnSessionConnected
    // comes when the handshake is done: 0, or kTlsFailed with the reason in TlsErrorText.
    // Ends with the connection. See docs/tls.md.
    static constexpr int kTlsFailed = 1007;
    void StartTls(const QByteArray& host);
    bool TlsActive() const { return m_tls != nullptr; }
    QByteArray TlsErrorText() const { return m_tlsError; }
    // The peer ended the TLS stream with close_notify (not a bare TCP close).
    bool TlsCloseNotifyReceived() const;
    QByteArray TlsCipherText() const;

    TSessionEvent OnSessionAvailable;
    TSessionEvent OnSessionConnected;
    TSessionEvent OnSessionClosed;
    TChangeState OnChangeState;
    TSessionEvent OnDataAvailable;
    TSessionEvent OnDataSent;
    TNotifyEvent OnLineTooLong;
    TSessionEvent OnDnsLookupDone;
    TNotifyEvent OnError;

protected:
    enum NoticeBits { kNoticeConnect = 1, kNoticeRead = 2, kNoticeWrite = 4, kNoticeClose = 8 };

    // Runs one notice for the connection it was raised for; others are dropped.
    virtual void HandleNotice(quint64 connection, int bits, int error);
    virtual void ResetDefaults();
    void InternalClose(bool shutdownSending);
    // The platform's send; returns the count sent, or -1 with LastError set.
    virtual int RealSend(const char* data, int length);
    void RaiseException(const QString& message);
    // "Error n in function operation" + CR LF + the text of n, through RaiseException.
    void SocketError(const QString& operation, int error);

    virtual bool TriggerDataAvailable(quint16 error);
    virtual void TriggerSessionConnected(quint16 error);
    virtual void TriggerSessionClosed(quint16 error);
    virtual void TriggerDataSent(quint16 error);
    virtual void TriggerChangeState(TSocketState oldState, TSocketState newState);
    virtual void TriggerDnsLookupDone(quint16 error);
    virtual void TriggerError();

private:
    void ChangeState(TSocketState state);
    void ResolveAddress();
    void ApplyLinger();
    void SetSocketOption(int level, int option, int value, const char* operation);
    void ConnectStream();
    void ConnectDatagram();
    void AppendToQueue(const char* data, int length);
    bool QueueEmpty() const;
    void TryToSend();
    void ReceiveLoop(int error);
    void LookupDone(quint64 handle, int error, const QList<QByteArray>& addresses);
    void OnReadable();
    void OnWritable();
    int PeerClosedError() const;
    void WatchRead(bool on);
    void WatchWrite(bool on);
    void PostNotice(int bits, int error);
    void BeginHandshake();
    void ContinueHandshake();
    int TlsReceive(char* buffer, int capacity);
    void DropTls();

    int m_handle = -1;
    quint64 m_connection = 0; // changes with every new handle; notices carry it
    bool m_portAssigned = false;
    bool m_addrAssigned = false;
    bool m_addrResolved = false;
    bool m_protoAssigned = true;
    QByteArray m_protoText = "tcp";
    QByteArray m_addrText;
    QByteArray m_portText;
    quint16 m_portNumber = 0;
    int m_protoNumber = 6;
    int m_socketType = 1;
    QByteArray m_dnsResult;
    QList<QByteArray> m_dnsResultList;
    sockaddr_in m_address{};
    TSocketState m_state = wsClosed;
    int m_flushTimeout = 60;
    std::deque<TBuffer> m_sendQueue;
    int m_sendFlags = 0;
    bool m_multiThreaded = false;
    int m_lastError = 0;
    TSocketLingerOnOff m_lingerOnOff = wsLingerOn;
    int m_lingerTimeout = 0;
    qint64 m_readCount = 0; // 64-bit: a connection may carry more than 2 GiB
    bool m_closeReported = false;
    bool m_destroying = false;
    bool m_receivedInRound = false;  // a Receive call happened during the current handler
    bool m_lastReceiveShort = false; // the last Receive got less than it asked for

    std::unique_ptr<TlsSession> m_tls; // the current connection's, when it speaks TLS
    QByteArray m_tlsHost;              // non-empty: the next connect starts TLS for it
    QByteArray m_tlsError;
    bool m_tlsHandshaking = false;
    bool m_tlsReadWantsWrite = false; // a read waits for room to send (a key update)
    bool m_tlsWriteWantsRead = false; // a send waits for bytes from the peer

    std::unique_ptr<NoticeEndpoint> m_endpoint;
    QSocketNotifier* m_readNotifier = nullptr;  // child of m_endpoint
    QSocketNotifier* m_writeNotifier = nullptr; // child of m_endpoint
    std::shared_ptr<HostLookup> m_lookup;
    quint64 m_lookupHandle = 0; // non-zero while a lookup is pending
    quint64 m_lastLookupHandle = 0;
};

// The socket the program uses; it adds nothing to TCustomWSocket.
class TWSocket : public TCustomWSocket {
public:
    using TCustomWSocket::TCustomWSocket;
};
