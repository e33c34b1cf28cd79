#include "service/ReplySizeLimit.h"

#include "net/HttpCli.h"

ReplySizeLimit::ReplySizeLimit(THttpCli& client, qint64 maxBytes) : m_maxBytes(maxBytes) {
    client.OnDocData = [this](THttpCli* sender, const char*, int) { docData(*sender); };
}

void ReplySizeLimit::docData(THttpCli& client) {
    if (m_exceeded || client.ReceivedCount() <= m_maxBytes)
        return;
    m_exceeded = true;
    client.SetReceiveStream(nullptr); // the chunk that passed the limit is not kept
    client.Abort();
}
