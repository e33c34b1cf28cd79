#pragma once

#include "searchd/http/RequestGate.h"

#include <httplib.h>
#include <string>

class TlsContext;

// httplib's request handling behind a gate of our own: the gate waits for request headers
// on one thread, and the workers only ever see requests whose header has arrived. httplib's
// own listener gives each connection a worker while it waits for the client, so a few
// slow or idle clients could hold every worker. With TLS the gate does the handshake too,
// which is why httplib's SSLServer is not used. Routes and handlers are set as on any
// httplib::Server, except the post-routing and 100-continue handlers, which are the
// server's own, and the pre-routing handler, which runs after the server's own; bind, serve
// and halt replace its listen and stop. A request the gate refuses (see RequestGate) is
// answered with the gate's status before any route, and without reading its body. A
// connection whose client asks for it stays open after an answer (up to 100 answers) and
// waits for its next request at the gate, under the gate's limits.
class GatedServer : public httplib::Server {
public:
    GatedServer(RequestGate::Limits limits, int workers);
    ~GatedServer() override;

    // Listens on host and port (0: one the system picks); the port, or -1 on failure.
    int bindTo(const std::string& host, int port);

    // Speaks TLS on every connection; tls outlives the server. Before serve().
    void useTls(const TlsContext* tls) { m_gate.useTls(tls); }

    // Serves until halt(); call after bindTo().
    void serve();

    // Safe from any thread, also before serve().
    void halt();

    // Hides httplib's own: handler runs after the server's check for refused requests.
    GatedServer& set_pre_routing_handler(HandlerWithResponse handler);

private:
    void answer(ArrivedRequest request);
    void settleConnection(const httplib::Request& request, httplib::Response& response);

    RequestGate::Limits m_limits;
    int m_workers;
    std::string m_keepAliveHeader;
    HandlerWithResponse m_preRouting;
    RequestGate m_gate;
    int m_listener = -1;
};
