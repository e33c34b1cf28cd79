#pragma once

#include <chrono>
#include <string>

using SSL = struct ssl_st;

// A connection whose request header has arrived, as the gate hands it to a worker, who
// then owns the socket and its TLS state. A connection kept alive goes back to the gate
// in the same form, head then holding what has been read of its next request.
struct ArrivedRequest {
    int fd = -1;
    SSL* tls = nullptr;   // the connection's TLS state, its handshake done; null for plain HTTP
    std::string head;     // the bytes read so far: the header, perhaps the start of a body
    bool complete = true; // false: the header outgrew its limit, or the request is refused;
                          // nothing more is read
    int refusal = 0;      // the status the gate refuses the request with (see RequestHead)
    std::chrono::steady_clock::time_point deadline; // the rest of the request must come by then
    int answered = 0;     // requests answered before on this connection (kept alive)
    bool closing = false; // given back after its last answer: what still comes is dropped
};
