#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

// What the service learns from a request's header fields before it answers: how long a body
// follows, which Range to serve, and whether the framing is one it may trust. Two
// Content-Length values that differ, a Content-Length beside Transfer-Encoding, or a field
// name that is no name (a folded line or a blank before the colon leaves one) could make a
// proxy in front and this service see different requests on one connection, so they are
// refused (400) and the connection closed. A body without a length (Transfer-Encoding) is
// refused with 411.
struct RequestHead {
    using Fields = std::vector<std::pair<std::string, std::string>>;

    size_t bodyLength = 0; // as announced; SIZE_MAX for a length too large to count
    int refusal = 0;       // the status to refuse the request with; 0: none
    // The Range field when there is one and it is a well-formed list of byte ranges; HTTP
    // asks for any other to be ignored and the whole answer sent.
    std::string range;
    // The Connection field's options, in any case: "close", or (HTTP/1.0) "keep-alive".
    bool asksClose = false;
    bool asksKeepAlive = false;

    // Reads the fields in the order they came, values without their surrounding blanks.
    static RequestHead check(const Fields& fields);
};
