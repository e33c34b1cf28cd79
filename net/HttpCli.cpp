#include "net/HttpCli.h"

#include "net/HeaderEncodings.h"
#include "net/HttpReply.h"
#include "net/NoticeEndpoint.h"
#include "net/ResolveUrl.h"
#include "net/SocketErrors.h"
#include "net/SplitUrl.h"
#include "net/WSocket.h"
#include "platform/Cp1252.h"

#include <QIODevice>

namespace {

// The error text of a socket error number with the number: "Connection refused (Error #10061)".
QByteArray ErrorWithNumber(int error) {
    return SocketErrors::SocketErrorText(error) + " (Error #" + QByteArray::number(error) + ")";
}

// The URL a relocation is resolved against: scheme, host, the port when one is named, path.
QByteArray AbsoluteUrl(const UrlParts& url) {
    return (url.scheme.isEmpty() ? QByteArray("http") : url.scheme) + "://" + url.host +
           (url.port.isEmpty() ? QByteArray() : ':' + url.port) +
           (url.path.startsWith('/') ? url.path : '/' + url.path);
}

bool IsHttps(const QByteArray& scheme) {
    return scheme.toLower() == "https";
}

// The port of a URL: the one it names, else its scheme's.
QByteArray PortOf(const UrlParts& url) {
    if (!url.port.isEmpty())
        return url.port;
    return IsHttps(url.scheme) ? QByteArray("443") : QByteArray("80");
}

// Scheme, host and port: the site that a name and password were given for.
QByteArray Origin(const UrlParts& url) {
    const QByteArray scheme = url.scheme.isEmpty() ? QByteArray("http") : url.scheme.toLower();
    return scheme + "://" + url.host.toLower() + ':' + PortOf(url);
}

// Replies without a body, whatever length they announce.
bool ReplyHasNoBody(int statusCode) {
    return statusCode < 200 || statusCode == 204 || statusCode == 304 || statusCode >= 400;
}

// This client speaks HTTP and HTTPS; a URL without a scheme is taken as http.
bool IsHttpScheme(const QByteArray& scheme) {
    return scheme.isEmpty() || scheme.toLower() == "http" || IsHttps(scheme);
}

// Names the scheme when it is a plain scheme name; other text from a server is not repeated.
QByteArray UnsupportedSchemeReason(const QByteArray& scheme) {
    const bool plain = !scheme.isEmpty() && scheme.size() <= 20 &&
                       std::all_of(scheme.begin(), scheme.end(), [](char c) {
                           return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                                  (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
                       });
    return plain ? "unsupported scheme: " + scheme.toLower() : QByteArray("unsupported scheme");
}

// A fragment belongs to the reader of a document and is never sent.
QByteArray WithoutFragment(const QByteArray& url) {
    const qsizetype hash = url.indexOf('#');
    return hash < 0 ? url : url.left(hash);
}

} // namespace

THttpCli::THttpCli()
    : m_endpoint(std::make_unique<NoticeEndpoint>()), m_socket(std::make_unique<TWSocket>()) {
    m_socket->OnSessionClosed = [this](TCustomWSocket*, quint16) { SocketSessionClosed(); };
    m_socket->OnDataAvailable = [this](TCustomWSocket*, quint16) { SocketDataAvailable(); };
    m_socket->OnSessionConnected = [this](TCustomWSocket*, quint16 error) {
        SocketSessionConnected(error);
    };
    m_socket->OnDataSent = [this](TCustomWSocket*, quint16) { SocketDataSent(); };
    m_socket->OnDnsLookupDone = [this](TCustomWSocket*, quint16 error) {
        SocketDnsLookupDone(error);
    };
}

THttpCli::~THttpCli() {
    // The socket cancels a lookup and closes a connection without firing events; the
    // endpoint drops the notices still queued for this client.
    m_socket.reset();
    m_endpoint.reset();
}

void THttpCli::SetMultiThreaded(bool value) {
    m_multiThreaded = value;
    m_socket->SetMultiThreaded(value);
}

// ---- starting a request ----------------------------------------------------------------

void THttpCli::GetAsync() {
    StartRequest(rqGet);
}

void THttpCli::HeadAsync() {
    StartRequest(rqHead);
}

void THttpCli::PostAsync() {
    StartRequest(rqPost);
}

void THttpCli::StartRequest(THttpRequest type) {
    if (m_state != hsReady)
        throw EHttpException(QStringLiteral("HTTP component is busy"), 1);
    if (type == rqPost && !m_sendStream)
        throw EHttpException(QStringLiteral("HTTP component has nothing to post"), 2);

    ++m_request;
    m_headerLines.clear();
    m_requestType = type;
    m_requestError = 0;
    m_closeHandler = CloseHandler::Normal;
    SetState(hsNotConnected);
    m_documentName.clear();
    m_statusCode = 0;
    m_receivedCount = 0;
    m_wireCount = 0;
    m_sentCount = 0;
    StartResponse();
    m_sendingBody = false;
    m_locationSeen = false;
    m_relocations = 0;
    m_sendCredentials = true;
    m_closedByClient = false;
    m_tunnel = TunnelPhase::None;

    const UrlParts url = SplitUrl(WithoutFragment(m_url));
    if (!url.user.isEmpty())
        m_username = url.user;
    if (!url.password.isEmpty())
        m_password = url.password;
    m_documentUrl = AbsoluteUrl(url);
    SetTargets(url.scheme, url.host, url.port, url.path);
    SetDocumentName(url.path);
    QByteArray host = url.host;
    QByteArray port = PortOf(url);
    if (!m_proxy.isEmpty()) {
        const UrlParts proxy = SplitUrl(m_proxy);
        host = proxy.host;
        port = proxy.port.isEmpty() ? m_proxyPort : proxy.port;
    }
    m_connectHost = host;
    m_connectPort = port;
    if (!IsHttpScheme(url.scheme)) { // ends from the event loop, like a failed lookup
        m_statusCode = 404;
        m_reasonPhrase = UnsupportedSchemeReason(url.scheme);
        m_requestError = kErrorUnsupportedScheme;
        NormalClose();
        return;
    }
    StartConnection();
}

// Counts and leftovers of one response; a followed Location starts a new one.
void THttpCli::StartResponse() {
    m_lines.Clear(); // leftovers of an earlier response must not become this one's header
    m_headerLineCount = 0;
    m_headerBytes = 0;
    m_bodyChunkCount = 0;
    m_responseBodyBytes = 0;
    m_announcedLength = -1;
    m_transferCoding.clear();
    m_chunked = false;
    m_chunks = ChunkedDecoder();
}

// Host header and request target. The Host header names a port that is not the scheme's
// own, so that a server with sites on several ports answers the one asked for. Through a
// proxy the request line carries the absolute URL with its port: without it the proxy would
// ask the default port.
void THttpCli::SetTargets(const QByteArray& scheme, const QByteArray& host, const QByteArray& port,
                          const QByteArray& path) {
    m_targetHost = host;
    m_targetAuthority = port.isEmpty() ? host : host + ':' + port;
    m_targetTls = IsHttps(scheme);
    const QByteArray ownPort = m_targetTls ? "443" : "80";
    m_hostHeader = port.isEmpty() || port == ownPort ? host : m_targetAuthority;
    m_tunnelAuthority = host + ':' + (port.isEmpty() ? QByteArray("443") : port);
    m_requestPath = path;
    // Through a tunnel the request goes to the origin itself: its target is the path.
    if (!m_proxy.isEmpty() && !m_targetTls)
        m_requestPath =
            (scheme.isEmpty() ? QByteArray("http") : scheme) + "://" + m_targetAuthority + path;
    if (m_requestPath.isEmpty())
        m_requestPath = "/";
}

void THttpCli::SetDocumentName(const QByteArray& path) {
    if (path.isEmpty() || path == "/") {
        m_documentName = "document.htm";
        return;
    }
    QByteArray name = path;
    if (name.endsWith('/'))
        name.chop(1);
    name = name.mid(name.lastIndexOf('/') + 1).left(255);
    const qsizetype query = name.indexOf('?');
    if (query >= 0)
        name = name.left(query);
    m_documentName = name;
}

void THttpCli::StartConnection() {
    SetState(hsDnsLookup);
    m_socket->DnsLookup(m_connectHost);
}

void THttpCli::CloseConnection() {
    m_socket->Close();
}

// ---- state and notices -----------------------------------------------------------------

void THttpCli::SetState(THttpClientState state) {
    if (state == m_state)
        return;
    m_state = state;
    if (OnStateChange)
        OnStateChange(this);
    if (state != hsReady)
        return;
    const THttpRequest type = m_requestType;
    const quint16 error = quint16(m_requestError);
    m_endpoint->post([this, type, error] {
        // The handler may destroy this client, and with it OnRequestDone: call a copy, and
        // touch nothing of the client afterwards.
        const THttpRequestDone handler = OnRequestDone;
        if (handler)
            handler(this, type, error);
    });
}

void THttpCli::PostReady() {
    const quint64 request = m_request;
    m_endpoint->post([this, request] {
        if (request == m_request)
            SetState(hsReady);
    });
}

// ---- socket events ---------------------------------------------------------------------

void THttpCli::SocketDnsLookupDone(quint16 error) {
    if (error == 0) {
        SetState(hsDnsLookupDone);
        try {
            m_socket->SetAddr(m_socket->DnsResult());
            m_socket->SetPort(m_connectPort);
            m_socket->SetProto("tcp");
            m_tunnel = TunnelPhase::None;
            if (m_targetTls && m_proxy.isEmpty())
                m_socket->StartTls(m_targetHost);
            m_socket->Connect();
        } catch (const std::exception&) {
            // A port that is no number nor service, or no descriptor left: a failed connect.
            ConnectFailed();
        }
        return;
    }
    if (m_state == hsAborting)
        return;
    m_statusCode = 404;
    m_reasonPhrase = "can't resolve hostname to IP address";
    NormalClose();
}

void THttpCli::ConnectFailed() {
    const int error = m_socket->LastError();
    m_requestError = error & 0xFFFF;
    m_statusCode = 404;
    m_reasonPhrase = "can't connect: " + ErrorWithNumber(error);
    try {
        m_socket->Close();
    } catch (const std::exception&) {
    }
    NormalClose();
}

void THttpCli::SocketSessionConnected(quint16 error) {
    if (error == TCustomWSocket::kTlsFailed) {
        m_statusCode = 404;
        m_reasonPhrase = m_socket->TlsErrorText();
        m_requestError = kErrorTls;
        NormalClose(); // the socket closes itself next; its close posts a harmless ready
        return;
    }
    if (error != 0) {
        m_statusCode = 404;
        m_reasonPhrase = ErrorWithNumber(error);
        NormalClose(); // the socket closes itself next; its close posts a harmless ready
        return;
    }
    if (m_targetTls && !m_proxy.isEmpty() && m_tunnel == TunnelPhase::None) {
        OpenTunnel();
        return;
    }
    m_tunnel = TunnelPhase::None;
    SetState(hsConnected);
    TriggerSessionConnected();
    if (m_state != hsConnected)
        return; // a handler aborted
    m_closedByClient = false;
    m_lineHandler = LineHandler::Header;
    SetState(hsWaitingHeader);
    try {
        if (m_requestType == rqHead) {
            SendRequest("HEAD");
        } else if (m_requestType == rqPost) {
            SendRequest("POST");
            TriggerSendBegin();
            m_sendingBody = true;
            SendBodyChunk();
        } else {
            SendRequest("GET");
        }
    } catch (...) {
        m_socket->Close();
    }
}

void THttpCli::SocketDataSent() {
    if (m_sendingBody)
        SendBodyChunk();
}

void THttpCli::SendBodyChunk() {
    const qint64 count = m_sendStream ? m_sendStream->read(m_sendBuffer, kSendBufferSize) : 0;
    if (count <= 0) {
        m_sendingBody = false;
        TriggerSendEnd();
        return;
    }
    m_sentCount += count;
    TriggerSendData(m_sendBuffer, int(count));
    m_socket->Send(m_sendBuffer, int(count));
}

void THttpCli::SocketSessionClosed() {
    if (m_closeHandler == CloseHandler::Relocation)
        RelocationClose();
    else
        NormalClose();
}

void THttpCli::NormalClose() {
    CheckReplyComplete();
    if (m_bodyChunkCount > 0)
        TriggerDocEnd();
    PostReady();
}

// A reply that ends inside its header, or before the end its header announced, is a failed
// transfer, whether the server closed or reset the connection: the caller must not take it
// for the file.
void THttpCli::CheckReplyComplete() {
    if (m_requestError != 0 || m_requestType == rqNone)
        return;
    if (m_tunnel != TunnelPhase::None && m_state != hsAborting) {
        m_requestError = kErrorProxyTunnel;
        m_reasonPhrase =
            "proxy closed the connection before the tunnel to " + m_tunnelAuthority + " was open";
        return;
    }
    if (m_state == hsWaitingHeader && !m_closedByClient) {
        m_requestError = kErrorHeaderCut;
        m_reasonPhrase = m_headerLineCount == 0 && m_lines.Fill() == 0
                             ? "connection closed without a reply"
                             : "connection closed before the end of the reply header";
        return;
    }
    if (m_state != hsWaitingBody || m_requestType == rqHead || ReplyHasNoBody(m_statusCode))
        return;
    if (m_chunked && m_chunks.State() != ChunkedDecoder::Status::Done) {
        m_requestError = kErrorBodyCut;
        m_reasonPhrase = "connection closed before the end of the chunked body (" +
                         QByteArray::number(m_responseBodyBytes) + " bytes)";
    } else if (!m_chunked && m_announcedLength >= 0 && m_responseBodyBytes < m_announcedLength) {
        m_requestError = kErrorBodyCut;
        m_reasonPhrase = "connection closed before the announced length (" +
                         QByteArray::number(m_responseBodyBytes) + " of " +
                         QByteArray::number(m_announcedLength) + " bytes)";
    } else if (!m_chunked && m_announcedLength < 0 && m_socket->TlsActive() &&
               !m_socket->TlsCloseNotifyReceived() && !m_closedByClient) {
        // A body that ends at the close: without close_notify nobody can tell the end
        // from a cut made by a third party, so it counts as cut.
        m_requestError = kErrorBodyCut;
        m_reasonPhrase = "connection closed without TLS close_notify (" +
                         QByteArray::number(m_responseBodyBytes) + " bytes)";
    }
}

// Ends the request as failed: the connection closes now, its close ends the request.
void THttpCli::FailRequest(int error, const QByteArray& reason) {
    m_requestError = error;
    m_reasonPhrase = reason;
    m_lines.Clear();
    CloseReply();
}

// The client itself ends the connection: the reply is complete, failed or refused.
void THttpCli::CloseReply() {
    m_closedByClient = true;
    m_socket->Close();
}

void THttpCli::RelocationClose() {
    m_locationSeen = false;
    m_documentUrl = m_relocationUrl;
    m_closeHandler = CloseHandler::Normal;
    if (OnLocationChange)
        OnLocationChange(this);
    const quint64 request = m_request;
    m_endpoint->post([this, request] {
        if (request != m_request || m_state == hsAborting || m_state == hsReady)
            return;
        try {
            StartConnection();
        } catch (const std::exception&) { // no lookup thread: nobody else would end it
            m_statusCode = 404;
            m_reasonPhrase = "can't resolve hostname to IP address";
            NormalClose();
        }
    });
}

// ---- the request -----------------------------------------------------------------------

void THttpCli::SendCommand(const QByteArray& line) {
    if (OnCommand)
        OnCommand(this, line);
    m_requestText += line;
    m_requestText += "\r\n";
}

void THttpCli::SendRequest(const QByteArray& method) {
    m_requestText.clear();
    TriggerRequestHeaderBegin();
    SendCommand(method + ' ' + HttpReply::EncodeRequestTarget(m_requestPath) + " HTTP/1.0");
    if (!m_sender.isEmpty())
        SendCommand("From: " + m_sender);
    if (!m_reference.isEmpty())
        SendCommand("Referer: " + m_reference);
    if (m_requestType == rqPost && !m_contentTypePost.isEmpty())
        SendCommand("Content-Type: " + m_contentTypePost);
    if (!m_agent.isEmpty())
        SendCommand("User-Agent: " + m_agent);
    SendCommand("Host: " + m_hostHeader);
    if (m_noCache)
        SendCommand("Pragma: no-cache");
    if (m_requestType == rqPost)
        SendCommand("Content-Length: " + QByteArray::number(m_sendStream->size()));
    if (m_modifiedSince != 0)
        SendCommand("If-Modified-Since: " + FormatHttpDate(m_modifiedSince) + " GMT");
    if (m_sendCredentials && !m_username.isEmpty())
        SendCommand("Authorization: Basic " + Base64Encode(m_username + ':' + m_password));
    if (!m_proxy.isEmpty() && !m_targetTls && !m_proxyUsername.isEmpty())
        SendCommand("Proxy-Authorization: Basic " +
                    Base64Encode(m_proxyUsername + ':' + m_proxyPassword));
    if (!m_cookie.isEmpty())
        SendCommand("Cookie: " + m_cookie);
    for (const QByteArray& line : m_extraHeaders) {
        if (!line.contains('\r') && !line.contains('\n'))
            SendCommand(line);
    }
    TriggerRequestHeaderEnd();
    SendCommand(QByteArray());
    m_socket->Send(m_requestText.constData(), int(m_requestText.size()));
    m_requestText.clear();
}

// ---- receiving -------------------------------------------------------------------------

void THttpCli::SocketDataAvailable() {
    if (m_tunnel == TunnelPhase::Reply) {
        ReadTunnelReply();
        return;
    }
    if (m_state == hsWaitingBody && m_lines.Fill() == 0) {
        ReceiveBodyChunk();
        return;
    }
    const int count = m_socket->Receive(m_lines.FreeSpace(), m_lines.FreeSize());
    if (m_requestType == rqNone || count <= 0)
        return;
    m_wireCount += count;
    m_lines.Added(count);
    if (m_state == hsWaitingBody) {
        DeliverLine(m_lines.TakeAll());
        return;
    }
    ProcessLines();
}

// The body path without a detour through the line buffer: the batch is read straight into
// the chunk that becomes CurrentLine, which spares a copy of every body byte.
void THttpCli::ReceiveBodyChunk() {
    const int capacity = BodyReadSize();
    if (capacity == 0) { // bytes beyond the announced length are no part of the reply
        CloseReply();
        return;
    }
    m_receiveChunk.resize(capacity);
    const int count = m_socket->Receive(m_receiveChunk.data(), capacity);
    if (m_requestType == rqNone || count <= 0)
        return;
    m_wireCount += count;
    m_receiveChunk.resize(count);
    if (m_chunked) {
        Dechunk(m_receiveChunk);
        return;
    }
    m_currentLine.swap(m_receiveChunk);
    BodyChunk();
    EndWhenComplete();
}

// The most body bytes to read now: never past the announced length.
int THttpCli::BodyReadSize() const {
    if (m_chunked || m_announcedLength < 0)
        return m_bodyChunkSize;
    const qint64 left = std::max<qint64>(m_announcedLength - m_responseBodyBytes, 0);
    return int(std::min<qint64>(m_bodyChunkSize, left));
}

// Hands on every complete line; a failed request takes nothing more from this batch.
void THttpCli::ProcessLines() {
    QByteArray line;
    while (m_lines.Fill() > 0 && m_requestError == 0) {
        const HttpReply::LineStatus status = m_lines.TakeLine(line);
        if (status != HttpReply::LineStatus::Line) {
            if (m_state != hsWaitingHeader)
                return; // wait for the rest of the line
            if (status == HttpReply::LineStatus::TooLong)
                FailRequest(kErrorBadReply, "reply header line too long (more than " +
                                                QByteArray::number(kLineBufferSize) + " bytes)");
            else if (status == HttpReply::LineStatus::HasZero)
                FailRequest(kErrorBadReply, "zero byte in the reply header");
            return;
        }
        if (m_state == hsWaitingHeader || m_state == hsWaitingBody)
            DeliverLine(line);
    }
}

void THttpCli::DeliverLine(const QByteArray& line) {
    if (m_lineHandler == LineHandler::Header) {
        m_currentLine = line;
        HeaderLine();
    } else {
        BodyBytes(line);
    }
}

void THttpCli::HeaderLine() {
    const QByteArray line = m_currentLine;
    if (m_headerLineCount == 0)
        TriggerHeaderBegin();
    ++m_headerLineCount;
    m_headerBytes += line.size() + 2;
    if (m_headerLineCount > HttpReply::kMaxHeaderLines ||
        m_headerBytes > HttpReply::kMaxHeaderBytes) {
        FailRequest(kErrorHeaderTooLarge,
                    "reply header too large (more than " +
                        QByteArray::number(HttpReply::kMaxHeaderBytes) + " bytes or " +
                        QByteArray::number(HttpReply::kMaxHeaderLines) + " lines)");
        return;
    }

    if (HttpReply::IsHeaderlessStart(line)) {
        if (m_contentType.isEmpty())
            m_contentType = "text/html";
        SetState(hsWaitingBody);
        m_lineHandler = LineHandler::Body;
        TriggerHeaderEnd();
        BodyChunk();
        return;
    }
    if (m_headerLineCount == 1 &&
        HttpReply::ParseHeaderLine(line).kind != HttpReply::HeaderLine::Status) {
        FailRequest(kErrorBadReply, "bad status line (not HTTP/x.y NNN)");
        return;
    }
    if (line.isEmpty()) {
        EndOfHeader();
        return;
    }
    m_headerLines.append(line);
    HeaderField(line);
    if (m_requestError != 0)
        return;
    if (OnHeaderData)
        OnHeaderData(this);
    if (m_statusCode >= 400)
        CloseReply();
}

void THttpCli::HeaderField(const QByteArray& line) {
    const HttpReply::HeaderLine parsed = HttpReply::ParseHeaderLine(line);
    if (parsed.kind == HttpReply::HeaderLine::Status) {
        m_statusCode = parsed.name.toInt();
        m_reasonPhrase = parsed.value;
        return;
    }
    if (parsed.kind != HttpReply::HeaderLine::Field)
        return;
    if (parsed.name == "location") {
        m_locationSeen = true;
        Relocate(parsed.value);
    } else if (parsed.name == "content-length") {
        m_announcedLength = HttpReply::ContentLengthValue(parsed.value);
        if (m_announcedLength < 0)
            FailRequest(kErrorBadReply, "bad Content-Length");
        else
            m_contentLength = m_announcedLength;
    } else if (parsed.name == "transfer-encoding") {
        m_transferCoding += (m_transferCoding.isEmpty() ? "" : ",") + parsed.value.toLower();
    } else if (parsed.name == "content-type") {
        m_contentType = parsed.value.toLower();
    } else if (parsed.name == "www-authenticate") {
        m_authChallenges.append(parsed.value);
    }
}

void THttpCli::EndOfHeader() {
    if (m_locationSeen) {
        TriggerHeaderEnd();
        StartResponse();
        const QByteArray scheme = SplitUrl(m_relocationUrl).scheme;
        if (m_relocations >= kMaxRelocations || !IsHttpScheme(scheme)) {
            // A loop of Location headers, or one this client cannot follow, ends here.
            m_locationSeen = false;
            m_statusCode = 404;
            if (IsHttpScheme(scheme)) {
                m_reasonPhrase =
                    "too many relocations (more than " + QByteArray::number(kMaxRelocations) + ")";
            } else {
                m_reasonPhrase = UnsupportedSchemeReason(scheme);
                m_requestError = kErrorUnsupportedScheme;
            }
            CloseReply();
            return;
        }
        ++m_relocations;
        m_closeHandler = CloseHandler::Relocation;
        m_socket->Close();
        return;
    }
    const qsizetype dot = m_documentName.lastIndexOf('.');
    if (dot >= 0 && m_documentName.mid(dot).toLower() == ".exe" && m_contentType == "text/html")
        m_documentName = m_documentName.left(dot) + ".htm";
    if (!SetBodyFraming())
        return;
    SetState(hsWaitingBody);
    m_lineHandler = LineHandler::Body;
    TriggerHeaderEnd();
    if (m_lines.Fill() > 0)
        DeliverLine(m_lines.TakeAll());
    EndWhenComplete();
}

// A chunked body is decoded and ends with its last chunk, whatever Content-Length says;
// other transfer codings cannot be undone here and fail the request.
bool THttpCli::SetBodyFraming() {
    if (m_transferCoding.isEmpty())
        return true;
    QByteArray codings = m_transferCoding;
    codings.replace(' ', "").replace('\t', "");
    if (codings != "chunked") {
        FailRequest(kErrorBadReply, "unsupported transfer coding");
        return false;
    }
    m_chunked = true;
    m_announcedLength = -1;
    return true;
}

// Body bytes that came through the line buffer: decoded, or cut at the announced length.
void THttpCli::BodyBytes(const QByteArray& bytes) {
    if (m_chunked) {
        Dechunk(bytes);
        return;
    }
    m_currentLine = bytes;
    const qint64 left = m_announcedLength - m_responseBodyBytes;
    if (m_announcedLength >= 0 && m_currentLine.size() > left)
        m_currentLine.truncate(std::max<qint64>(left, 0));
    if (m_announcedLength < 0 || !m_currentLine.isEmpty())
        BodyChunk();
    EndWhenComplete();
}

void THttpCli::Dechunk(const QByteArray& raw) {
    QByteArray data;
    const ChunkedDecoder::Status status = m_chunks.Feed(raw.constData(), raw.size(), data);
    if (!data.isEmpty()) {
        m_currentLine = data;
        BodyChunk();
    }
    if (status == ChunkedDecoder::Status::Failed && m_requestError == 0 && m_state == hsWaitingBody)
        FailRequest(kErrorBadReply, m_chunks.Error());
    else
        EndWhenComplete();
}

// A reply whose body is complete ends now: a server that keeps the connection open would
// otherwise hold the request for ever.
void THttpCli::EndWhenComplete() {
    if (m_requestError != 0 || m_state != hsWaitingBody || m_closedByClient)
        return;
    const bool complete =
        m_requestType == rqHead || m_statusCode == 204 || m_statusCode == 304 ||
        (m_chunked ? m_chunks.State() == ChunkedDecoder::Status::Done
                   : m_announcedLength >= 0 && m_responseBodyBytes >= m_announcedLength);
    if (complete)
        CloseReply();
}

void THttpCli::BodyChunk() {
    if (m_bodyChunkCount == 0)
        TriggerDocBegin();
    ++m_bodyChunkCount;
    const int length = int(m_currentLine.size());
    m_receivedCount += length;
    m_responseBodyBytes += length;
    TriggerDocData(m_currentLine.constData(), length);
    // A handler may have taken the stream away.
    if (m_receiveStream && m_receiveStream->write(m_currentLine.constData(), length) != length)
        FailRequest(kErrorWriteFailed,
                    "Stream write error: " + Cp1252::fromUnicode(m_receiveStream->errorString()));
}

// The next target is the Location resolved against the URL of this response, as a browser
// resolves a link; an absolute one brings its own port (80 when it names none).
void THttpCli::Relocate(const QByteArray& location) {
    const UrlParts before = SplitUrl(m_documentUrl);
    m_relocationUrl = ResolveUrl(m_documentUrl, location);
    const UrlParts parts = SplitUrl(m_relocationUrl);
    // The user's name and password belong to the site they were given for: a Location to
    // another scheme, host or port gets them only when it names its own.
    // From https to http they never go: they would cross the network in the clear.
    const bool toPlainText = IsHttps(before.scheme) && !IsHttps(parts.scheme);
    if (!toPlainText && !parts.user.isEmpty()) {
        m_username = parts.user;
        m_password = parts.password;
    } else if (toPlainText || Origin(parts) != Origin(before)) {
        m_sendCredentials = false;
    }
    SetTargets(parts.scheme, parts.host, parts.port, parts.path);
    if (!m_proxy.isEmpty())
        return; // the connection keeps going to the proxy
    m_connectHost = parts.host;
    m_connectPort = PortOf(parts);
}

// ---- the proxy's tunnel for https ------------------------------------------------------

// Through a proxy an https request first asks for a tunnel to the origin; the proxy's
// credentials go with this request only, never into the encrypted one.
void THttpCli::OpenTunnel() {
    m_tunnel = TunnelPhase::Reply;
    m_lines.Clear();
    m_headerBytes = 0;
    SetState(hsConnected);
    QByteArray request =
        "CONNECT " + m_tunnelAuthority + " HTTP/1.0\r\nHost: " + m_tunnelAuthority + "\r\n";
    if (!m_agent.isEmpty())
        request += "User-Agent: " + m_agent + "\r\n";
    if (!m_proxyUsername.isEmpty())
        request += "Proxy-Authorization: Basic " +
                   Base64Encode(m_proxyUsername + ':' + m_proxyPassword) + "\r\n";
    request += "\r\n";
    m_socket->Send(request.constData(), int(request.size()));
}

// The proxy's answer to CONNECT, read within the same bounds as a reply header.
void THttpCli::ReadTunnelReply() {
    const int count = m_socket->Receive(m_lines.FreeSpace(), m_lines.FreeSize());
    if (count <= 0)
        return;
    m_wireCount += count;
    m_lines.Added(count);
    QByteArray line;
    while (m_tunnel == TunnelPhase::Reply && m_requestError == 0) {
        const HttpReply::LineStatus status = m_lines.TakeLine(line);
        if (status == HttpReply::LineStatus::TooLong || status == HttpReply::LineStatus::HasZero)
            return FailRequest(kErrorProxyTunnel, "bad reply from the proxy to CONNECT");
        if (status != HttpReply::LineStatus::Line)
            return; // wait for the rest of the line
        m_headerBytes += line.size() + 2;
        if (m_headerBytes > HttpReply::kMaxHeaderBytes)
            return FailRequest(kErrorProxyTunnel, "reply from the proxy to CONNECT too large");
        if (m_statusCode == 0) {
            const HttpReply::HeaderLine parsed = HttpReply::ParseHeaderLine(line);
            if (parsed.kind != HttpReply::HeaderLine::Status)
                return FailRequest(kErrorProxyTunnel, "bad reply from the proxy to CONNECT");
            m_statusCode = parsed.name.toInt();
            m_reasonPhrase = parsed.value;
            continue;
        }
        if (!line.isEmpty())
            continue;
        TunnelOpened();
    }
}

void THttpCli::TunnelOpened() {
    if (m_statusCode < 200 || m_statusCode > 299) {
        const QByteArray reason = "proxy refused the tunnel to " + m_tunnelAuthority + ": " +
                                  QByteArray::number(m_statusCode) + ' ' + m_reasonPhrase;
        return FailRequest(kErrorProxyTunnel, reason);
    }
    if (m_lines.Fill() > 0) // the origin speaks only after the client's hello
        return FailRequest(kErrorProxyTunnel, "proxy sent bytes before the tunnel was open");
    m_statusCode = 0;
    m_reasonPhrase.clear();
    m_headerBytes = 0;
    m_tunnel = TunnelPhase::Handshake;
    m_socket->StartTls(m_targetHost);
}

// ---- Abort -----------------------------------------------------------------------------

void THttpCli::Abort() {
    if (m_state == hsReady) {
        if (m_socket->State() != wsClosed)
            m_socket->Close();
        return;
    }
    const bool inLookup = m_state == hsDnsLookup;
    SetState(hsAborting);
    if (inLookup) {
        try {
            m_socket->CancelDnsLookup();
        } catch (...) {
        }
    }
    m_statusCode = 404;
    m_reasonPhrase = "Connection aborted on request";
    m_requestError = kErrorAborted;
    // Without a connection (a lookup, or between two locations) no close would end it.
    if (inLookup || m_socket->State() == wsClosed) {
        m_closeHandler = CloseHandler::Normal;
        NormalClose();
    } else {
        m_socket->Close();
    }
}

// ---- triggers --------------------------------------------------------------------------

void THttpCli::TriggerSessionConnected() {
    if (OnSessionConnected)
        OnSessionConnected(this);
}

void THttpCli::TriggerRequestHeaderBegin() {
    if (OnRequestHeaderBegin)
        OnRequestHeaderBegin(this);
}

void THttpCli::TriggerRequestHeaderEnd() {
    if (OnRequestHeaderEnd)
        OnRequestHeaderEnd(this);
}

void THttpCli::TriggerHeaderBegin() {
    if (OnHeaderBegin)
        OnHeaderBegin(this);
}

void THttpCli::TriggerHeaderEnd() {
    if (OnHeaderEnd)
        OnHeaderEnd(this);
}

void THttpCli::TriggerDocBegin() {
    if (OnDocBegin)
        OnDocBegin(this);
}

void THttpCli::TriggerDocData(const char* data, int length) {
    if (OnDocData)
        OnDocData(this, data, length);
}

void THttpCli::TriggerDocEnd() {
    if (OnDocEnd)
        OnDocEnd(this);
}

void THttpCli::TriggerSendBegin() {
    if (OnSendBegin)
        OnSendBegin(this);
}

void THttpCli::TriggerSendData(const char* data, int length) {
    if (OnSendData)
        OnSendData(this, data, length);
}

void THttpCli::TriggerSendEnd() {
    if (OnSendEnd)
        OnSendEnd(this);
}
