#pragma once

#include <QtGlobal>

class THttpCli;

// Ends a reply that grows past a number of bytes, so that an endless answer costs no more
// than the limit: at the first body chunk that passes it, the chunk is not written, the
// client is aborted (its request ends as any abort does) and exceeded() turns true. The
// limit hooks the client's OnDocData and must live as long as the client's request.
class ReplySizeLimit {
public:
    ReplySizeLimit(THttpCli& client, qint64 maxBytes);
    ReplySizeLimit(const ReplySizeLimit&) = delete;
    ReplySizeLimit& operator=(const ReplySizeLimit&) = delete;

    bool exceeded() const { return m_exceeded; }

private:
    void docData(THttpCli& client);

    qint64 m_maxBytes;
    bool m_exceeded = false;
};
