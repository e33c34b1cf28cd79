#include "download/SourceHead.h"

#include "core/UserOptions.h"
#include "download/RangeReply.h"
#include "net/HttpCli.h"
#include "net/HttpReply.h"
#include "net/RequestSetup.h"
#include "platform/Errors.h"

#include <QTimer>
#include <algorithm>

SourceHead::SourceHead(const SettingsFile& ini)
    : m_ini(ini), m_stallTimer(std::make_unique<QTimer>()) {
    m_stallTimer->setSingleShot(true);
    QObject::connect(m_stallTimer.get(), &QTimer::timeout, [this] {
        if (m_client)
            m_client->Abort(); // its end comes from the event loop
    });
}

// The client goes first: idle or not, releasing it from outside its events fires nothing.
SourceHead::~SourceHead() {
    m_client.reset();
}

void SourceHead::fetch(const QByteArray& url, Done done) {
    m_done = std::move(done);
    m_result = Result{};
    m_enough = false;
    m_stallSeconds = UserOptions::StallSeconds(m_ini); // read once: every read opens the file
    m_client = std::make_unique<THttpCli>();
    SetUpRequest(*m_client, m_ini);
    m_client->SetNoCache(true);
    m_client->SetURL(url);
    m_client->SetExtraHeaders({"Range: bytes=0-" + QByteArray::number(kBytes - 1)});
    m_client->OnHeaderData = [this](THttpCli*) { armStallWatch(); };
    m_client->OnHeaderEnd = [this](THttpCli*) { headerEnd(); };
    m_client->OnDocData = [this](THttpCli*, const char* data, int length) {
        docData(data, length);
    };
    m_client->OnRequestDone = [this](THttpCli*, THttpRequest, quint16 error) {
        requestDone(error);
    };
    armStallWatch();
    try {
        m_client->GetAsync();
    } catch (const PellmarError&) {
        m_client->Abort(); // a URL the client cannot use: the fetch fails
    }
}

void SourceHead::armStallWatch() {
    if (m_stallSeconds > 0)
        m_stallTimer->start(m_stallSeconds * 1000);
}

// The size, read before the transfer ends: an aborted client no longer tells its status.
void SourceHead::headerEnd() {
    const int status = m_client->StatusCode();
    const QList<QByteArray> lines = m_client->HeaderLines();
    m_result.total = -1; // a redirect's header has no say
    if (status == 206) {
        const auto range =
            RangeReply::parseContentRange(HttpReply::FieldValue(lines, "content-range"));
        if (range && range->first == 0)
            m_result.total = range->total;
    } else if (status == 200) {
        m_result.total =
            HttpReply::ContentLengthValue(HttpReply::FieldValue(lines, "content-length"));
    }
}

void SourceHead::docData(const char* data, int length) {
    if (m_enough || m_result.total < 0)
        return; // an error page is no part of the file
    armStallWatch();
    const qint64 room = kBytes - m_result.bytes.size();
    m_result.bytes.append(data, qsizetype(std::min<qint64>(room, length)));
    if (m_result.bytes.size() >= kBytes) {
        m_enough = true;
        m_client->Abort();
    }
}

void SourceHead::requestDone(quint16 error) {
    m_stallTimer->stop();
    const Result result = error == 0 || m_enough ? m_result : Result{};
    const Done done = std::move(m_done);
    done(result); // may destroy this object
}
