#pragma once

#include "net/ChunkedDecoder.h"
#include "net/HttpLineBuffer.h"
#include "platform/Errors.h"

#include <QByteArray>
#include <QList>
#include <algorithm>
#include <functional>
#include <memory>

class NoticeEndpoint;
class QIODevice;
class TCustomWSocket;
class TWSocket;

// The kind of a request; passed as RqType in OnRequestDone.
enum THttpRequest { rqNone = 0, rqGet = 1, rqPost = 2, rqHead = 3 };

enum THttpClientState {
    hsReady = 0,         // idle
    hsNotConnected = 1,  // request accepted
    hsConnected = 2,     // TCP connection up
    hsDnsLookup = 3,     // name lookup running
    hsDnsLookupDone = 4, // address known, connect issued
    hsWaitingHeader = 5, // request sent, reading the header
    hsWaitingBody = 6,   // reading the body
    hsAborting = 7,      // Abort in progress
};

// Misuse of the client: code 1 "HTTP component is busy", 2 "HTTP component has nothing to
// post". (An over-long reply line fails the request instead, with kErrorBadReply.)
class EHttpException : public PellmarError {
public:
    EHttpException(const QString& message, int code) : PellmarError(message), m_code(code) {}
    int ErrorCode() const { return m_code; }

private:
    int m_code;
};

// A non-blocking HTTP/1.0 client. Set URL (and Proxy), attach a ReceiveStream, hook the
// events you need and call GetAsync, which returns at once. The client looks the host up,
// connects, sends one request, parses the header line by line, hands every body chunk to
// OnDocData and then to ReceiveStream, follows Location headers, and ends every request -
// successful, failed or aborted - with exactly one OnRequestDone from the event loop.
// StatusCode 404 also stands for a failed lookup or connection and for Abort.
//
// Events are std::function members, fired synchronously with the client as Sender; an
// unassigned one is skipped. The client may be destroyed from its own OnRequestDone or
// while idle, never from inside another of its events (see docs/http-client.md). Text is
// bytes (Windows-1252).
class THttpCli {
public:
    using TNotifyEvent = std::function<void(THttpCli* Sender)>;
    using TDocDataEvent = std::function<void(THttpCli* Sender, const char* Buffer, int Len)>;
    using TCommandEvent = std::function<void(THttpCli* Sender, const QByteArray& S)>;
    using THttpRequestDone =
        std::function<void(THttpCli* Sender, THttpRequest RqType, quint16 Error)>;

    static constexpr int kLineBufferSize = 8192;
    static constexpr int kSendBufferSize = 8193;
    // Relocations followed within one request before it is ended as failed.
    static constexpr int kMaxRelocations = 20;

    // RequestError of requests that failed after the server had answered; besides these,
    // 3 marks an aborted request and 10000 and above are socket error numbers. The reason
    // is in ReasonPhrase; StatusCode stays the server's, ReceivedCount counts what came.
    static constexpr int kErrorAborted = 3;
    // The connection ended (closed or reset) before the body reached its Content-Length.
    static constexpr int kErrorBodyCut = 1001;
    // ReceiveStream refused bytes (a full disk); the reason carries the stream's error.
    static constexpr int kErrorWriteFailed = 1002;
    // The reply header grew beyond HttpReply::kMaxHeaderBytes or kMaxHeaderLines.
    static constexpr int kErrorHeaderTooLarge = 1003;
    // The connection ended before the reply header did (or before any reply at all).
    static constexpr int kErrorHeaderCut = 1004;
    // The reply is not HTTP as this client reads it: no status line, a zero byte or an
    // over-long line in the header, a bad Content-Length, a broken chunked body.
    static constexpr int kErrorBadReply = 1005;
    // The URL or a Location names a scheme other than http (StatusCode 404).
    static constexpr int kErrorUnsupportedScheme = 1006;
    // The TLS handshake failed: the certificate was refused ("certificate of HOST has
    // expired", ...) or the server does not speak TLS (StatusCode 404).
    static constexpr int kErrorTls = 1007;
    // Through a proxy, the tunnel for an https request could not be opened: the proxy
    // answered CONNECT with another status than 2xx (StatusCode is the proxy's), or closed.
    static constexpr int kErrorProxyTunnel = 1008;

    THttpCli();
    virtual ~THttpCli();
    THttpCli(const THttpCli&) = delete;
    THttpCli& operator=(const THttpCli&) = delete;

    // Published properties.
    QByteArray URL() const { return m_url; }
    void SetURL(const QByteArray& value) { m_url = value; }
    QByteArray Proxy() const { return m_proxy; }
    void SetProxy(const QByteArray& value) { m_proxy = value; }
    QByteArray ProxyPort() const { return m_proxyPort; }
    void SetProxyPort(const QByteArray& value) { m_proxyPort = value; }
    QByteArray Sender() const { return m_sender; }
    void SetSender(const QByteArray& value) { m_sender = value; }
    QByteArray Agent() const { return m_agent; }
    void SetAgent(const QByteArray& value) { m_agent = value; }
    QByteArray Reference() const { return m_reference; }
    void SetReference(const QByteArray& value) { m_reference = value; }
    QByteArray Username() const { return m_username; }
    void SetUsername(const QByteArray& value) { m_username = value; }
    QByteArray Password() const { return m_password; }
    void SetPassword(const QByteArray& value) { m_password = value; }
    QByteArray ProxyUsername() const { return m_proxyUsername; }
    void SetProxyUsername(const QByteArray& value) { m_proxyUsername = value; }
    QByteArray ProxyPassword() const { return m_proxyPassword; }
    void SetProxyPassword(const QByteArray& value) { m_proxyPassword = value; }
    bool NoCache() const { return m_noCache; }
    void SetNoCache(bool value) { m_noCache = value; }
    // The most body bytes one data event carries (8192 unless set; at least 1). Bulk
    // transfers ask for larger chunks: fewer reads, fewer events, a fuller TCP window.
    int BodyChunkSize() const { return m_bodyChunkSize; }
    void SetBodyChunkSize(int value) { m_bodyChunkSize = std::max(value, 1); }
    // Days since 30 December 1899, the time as the fraction; 0 sends no If-Modified-Since.
    double ModifiedSince() const { return m_modifiedSince; }
    void SetModifiedSince(double value) { m_modifiedSince = value; }
    // Further request header lines ("Range: bytes=100-"), sent after the others with every
    // request of this client; a line holding a CR or LF is never sent.
    QList<QByteArray> ExtraHeaders() const { return m_extraHeaders; }
    void SetExtraHeaders(const QList<QByteArray>& lines) { m_extraHeaders = lines; }
    QByteArray Cookie() const { return m_cookie; }
    void SetCookie(const QByteArray& value) { m_cookie = value; }
    QByteArray ContentTypePost() const { return m_contentTypePost; }
    void SetContentTypePost(const QByteArray& value) { m_contentTypePost = value; }
    bool MultiThreaded() const { return m_multiThreaded; }
    void SetMultiThreaded(bool value);
    int Tag() const { return m_tag; }
    void SetTag(int value) { m_tag = value; }

    // Streams owned by the caller; either may be none.
    QIODevice* ReceiveStream() const { return m_receiveStream; }
    void SetReceiveStream(QIODevice* stream) { m_receiveStream = stream; }
    QIODevice* SendStream() const { return m_sendStream; }
    void SetSendStream(QIODevice* stream) { m_sendStream = stream; }

    // Results of the running or last request.
    int StatusCode() const { return m_statusCode; }
    QByteArray ReasonPhrase() const { return m_reasonPhrase; }
    qint64 ContentLength() const { return m_contentLength; }
    QByteArray ContentType() const { return m_contentType; }
    QByteArray DocumentName() const { return m_documentName; }
    const QByteArray& CurrentLine() const { return m_currentLine; }
    QList<QByteArray> HeaderLines() const { return m_headerLines; }
    QList<QByteArray> AuthChallenges() const { return m_authChallenges; }
    qint64 ReceivedCount() const { return m_receivedCount; }
    // Every byte read from the connection in this request, header and framing included:
    // shows a reply that is still arriving before a whole line of it has.
    qint64 WireCount() const { return m_wireCount; }
    qint64 SentCount() const { return m_sentCount; }
    THttpRequest RequestType() const { return m_requestType; }
    THttpClientState State() const { return m_state; }
    int RequestError() const { return m_requestError; }
    // Where the next or current connection goes: the proxy, or the host of the URL or of
    // the Location being followed.
    QByteArray ConnectHost() const { return m_connectHost; }
    QByteArray ConnectPort() const { return m_connectPort; }

    void GetAsync();
    void HeadAsync();
    void PostAsync();
    void Abort();

    TNotifyEvent OnStateChange;
    TNotifyEvent OnSessionConnected;
    TNotifyEvent OnRequestHeaderBegin;
    TCommandEvent OnCommand;
    TNotifyEvent OnRequestHeaderEnd;
    TNotifyEvent OnSendBegin;
    TDocDataEvent OnSendData;
    TNotifyEvent OnSendEnd;
    TNotifyEvent OnHeaderBegin;
    TNotifyEvent OnHeaderData;
    TNotifyEvent OnHeaderEnd;
    TNotifyEvent OnLocationChange;
    TNotifyEvent OnDocBegin;
    TDocDataEvent OnDocData;
    TNotifyEvent OnDocEnd;
    THttpRequestDone OnRequestDone;
    TNotifyEvent OnTrace; // never fired

protected:
    virtual void SendCommand(const QByteArray& line);
    virtual void StartConnection();
    virtual void CloseConnection();
    virtual void TriggerSessionConnected();
    virtual void TriggerRequestHeaderBegin();
    virtual void TriggerRequestHeaderEnd();
    virtual void TriggerHeaderBegin();
    virtual void TriggerHeaderEnd();
    virtual void TriggerDocBegin();
    virtual void TriggerDocData(const char* data, int length);
    virtual void TriggerDocEnd();
    virtual void TriggerSendBegin();
    virtual void TriggerSendData(const char* data, int length);
    virtual void TriggerSendEnd();

private:
    enum class LineHandler { Header, Body };
    enum class CloseHandler { Normal, Relocation };
    // An https request through a proxy: CONNECT sent and its reply read, then the handshake.
    enum class TunnelPhase { None, Reply, Handshake };

    void StartRequest(THttpRequest type);
    void StartResponse();
    void SetTargets(const QByteArray& scheme, const QByteArray& host, const QByteArray& port,
                    const QByteArray& path);
    void SetDocumentName(const QByteArray& path);
    void SetState(THttpClientState state);
    void PostReady();
    void SendRequest(const QByteArray& method);
    void SendBodyChunk();

    void SocketDnsLookupDone(quint16 error);
    void SocketSessionConnected(quint16 error);
    void SocketDataAvailable();
    void SocketDataSent();
    void SocketSessionClosed();
    void NormalClose();
    void RelocationClose();
    void ConnectFailed();
    void CheckReplyComplete();
    void FailRequest(int error, const QByteArray& reason);
    void FailUnsupportedScheme();
    void CloseReply();

    void ReceiveBodyChunk();
    void ProcessLines();
    void DeliverLine(const QByteArray& line);
    void HeaderLine();
    void HeaderField(const QByteArray& line);
    void EndOfHeader();
    bool SetBodyFraming();
    void BodyBytes(const QByteArray& bytes);
    void Dechunk(const QByteArray& raw);
    void EndWhenComplete();
    int BodyReadSize() const;
    void BodyChunk();
    void Relocate(const QByteArray& location);
    void OpenTunnel();
    void ReadTunnelReply();
    void TunnelOpened();

    std::unique_ptr<NoticeEndpoint> m_endpoint;
    std::unique_ptr<TWSocket> m_socket;

    QByteArray m_url;
    QByteArray m_proxy;
    QByteArray m_proxyPort = "80";
    QByteArray m_sender;
    QByteArray m_agent;
    QByteArray m_reference;
    QByteArray m_username;
    QByteArray m_password;
    QByteArray m_proxyUsername;
    QByteArray m_proxyPassword;
    bool m_noCache = false;
    double m_modifiedSince = 0;
    QByteArray m_cookie;
    QList<QByteArray> m_extraHeaders;
    QByteArray m_contentTypePost = "application/x-www-form-urlencoded";
    bool m_multiThreaded = false;
    int m_tag = 0;

    QIODevice* m_receiveStream = nullptr;
    QIODevice* m_sendStream = nullptr;
    int m_statusCode = 0;
    QByteArray m_reasonPhrase;
    qint64 m_contentLength = 0;
    QByteArray m_contentType;
    QByteArray m_documentName;
    QByteArray m_currentLine;
    QByteArray m_receiveChunk; // the next body chunk, read before it becomes CurrentLine
    int m_bodyChunkSize = kLineBufferSize;
    QList<QByteArray> m_headerLines;
    QList<QByteArray> m_authChallenges;
    qint64 m_receivedCount = 0;
    qint64 m_wireCount = 0;
    qint64 m_sentCount = 0;
    THttpRequest m_requestType = rqNone;
    THttpClientState m_state = hsReady;
    int m_requestError = 0;

    QByteArray m_connectHost;
    QByteArray m_connectPort;
    QByteArray m_targetHost;
    QByteArray m_targetAuthority; // host and, when the URL gives one, port: for a proxy
    QByteArray m_hostHeader;      // host and a port that is not the scheme's own
    QByteArray m_tunnelAuthority; // host:port for CONNECT
    bool m_targetTls = false;     // the target is https
    TunnelPhase m_tunnel = TunnelPhase::None;
    QByteArray m_requestPath;
    QByteArray m_documentUrl;   // the absolute URL of the current response
    QByteArray m_relocationUrl; // where its Location leads
    THttpLineBuffer m_lines{kLineBufferSize};
    char m_sendBuffer[kSendBufferSize] = {};
    int m_headerLineCount = 0;
    qint64 m_headerBytes = 0;
    int m_bodyChunkCount = 0;
    qint64 m_responseBodyBytes = 0;
    qint64 m_announcedLength = -1; // Content-Length of this response; -1 when none came
    QByteArray m_transferCoding;   // the Transfer-Encoding of this response, lower-cased
    bool m_chunked = false;        // its body comes in chunks
    ChunkedDecoder m_chunks;
    bool m_closedByClient = false; // this client closed the connection, not the server
    bool m_locationSeen = false;
    bool m_sendingBody = false;
    QByteArray m_requestText;
    LineHandler m_lineHandler = LineHandler::Header;
    CloseHandler m_closeHandler = CloseHandler::Normal;
    int m_relocations = 0;
    bool m_sendCredentials = true; // false after a Location to another site
    quint64 m_request = 0;         // numbers requests so a stale notice cannot end a new one
};
