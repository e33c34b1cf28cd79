#pragma once

#include <cstddef>
#include <string>

// What the gate learns from a request's header before a worker is given the request: where
// the header ends, how long a body follows, and whether the framing is one a worker may
// trust. Two Content-Length values that differ, a Content-Length beside Transfer-Encoding,
// a folded header line or a blank before a field's colon could make a proxy in front and
// this service see different requests on one connection, so they are refused (400) and the
// connection closed. A body without a length (Transfer-Encoding) is refused with 411.
struct RequestHead {
    size_t headerEnd = 0;  // bytes of the header, its blank line included
    size_t bodyLength = 0; // as announced; SIZE_MAX for a length too large to count
    int refusal = 0;       // the status to refuse the request with; 0: none

    // Reads head, which holds a whole header and perhaps more. A Range header that is not
    // a well-formed list of byte ranges (or one of several) is dropped from head, since HTTP
    // asks for such a header to be ignored and the whole answer sent.
    static RequestHead check(std::string& head);
};
