#include "download/HeaderProbes.h"

#include "core/HitRecords.h"
#include "core/Mpeg3Head.h"
#include "core/UserOptions.h"
#include "net/HttpCli.h"
#include "net/NoticeEndpoint.h"
#include "net/RequestSetup.h"
#include "net/SplitUrl.h"
#include "platform/Errors.h"

#include <QDir>
#include <QFile>

namespace {

// The header's size as the file's size: 64 bits, so that files over 2 GiB keep theirs; text
// that is not a number fails with the usual conversion error.
qint64 SizeOf(const QByteArray& text) {
    bool ok = false;
    const qint64 size = text.trimmed().toLongLong(&ok);
    return ok ? size : StrToInt(QString::fromLatin1(text));
}

const QByteArray kSeparator = "|=@";
// Draws of a free tag before the probe gives up: a temp folder that full is broken.
constexpr int kTagDraws = 1000;
// The first bytes a probe keeps in memory: any first frame without a tag before it.
constexpr qsizetype kStartBytes = 4096;

} // namespace

QByteArray ProbedHit::record() const {
    HttpHitRecord record;
    record.name = name;
    record.url = url;
    record.size = size;
    record.bitrate = bitrate;
    record.sampleRate = sampleRate;
    record.stereo = mode == "Stereo";
    record.rateMode = rateMode;
    return record.line();
}

// One probe in flight. The temporary file is created at the start but held open only from
// the first data event to the header read, so that hundreds of waiting probes cost one
// descriptor each (their socket), not two.
struct HeaderProbes::Probe {
    std::unique_ptr<QFile> file; // the client's receive stream
    std::unique_ptr<THttpCli> client;
    QByteArray host; // host and port, for the limit per host
    int generation = 0;
    bool skipId3Tags = true;
    qint64 stored = 0;     // bytes the client has written to the file
    QByteArray start;      // the first of them, up to kStartBytes
    bool finished = false; // the header was read or the probe gave up: later data is ignored
};

HeaderProbes::HeaderProbes(const SettingsFile& ini, const QString& programFolder, Hooks hooks,
                           std::function<int(int)> random)
    : m_ini(ini), m_programFolder(programFolder), m_hooks(std::move(hooks)),
      m_random(std::move(random)), m_endpoint(std::make_unique<NoticeEndpoint>()) {}

// The endpoint goes first (its notices are dropped), then the clients: deleting a running
// client from outside its events closes its socket without firing anything.
HeaderProbes::~HeaderProbes() {
    m_endpoint.reset();
    m_probes.clear();
    m_released.clear();
}

QString HeaderProbes::tempFolder() const {
    return m_programFolder + QStringLiteral("/temp/");
}

std::unique_ptr<QFile> HeaderProbes::createTempFile(int& tag) const {
    QDir().mkpath(tempFolder());
    for (int draw = 0; draw < kTagDraws; ++draw) {
        tag = m_random(kTagRange);
        auto file =
            std::make_unique<QFile>(tempFolder() + QString::number(tag) + QStringLiteral(".tmp"));
        if (file->exists())
            continue;
        if (!file->open(QIODevice::WriteOnly | QIODevice::NewOnly))
            return nullptr; // no descriptor or no room: the probe fails
        file->close();
        return file;
    }
    return nullptr;
}

void HeaderProbes::StartHeaderProbe(const QByteArray& url, const QByteArray& name) {
    const QByteArray entry = url + kSeparator + name;
    m_pending.append(entry);
    m_sizes.append("0");
    m_heads.append(entry.left(entry.indexOf(kSeparator) + 1));
    const QByteArray host = hostOf(url);
    if (m_queue.add({host, url}))
        startProbe(url, host);
}

QByteArray HeaderProbes::hostOf(const QByteArray& url) {
    const UrlParts parts = SplitUrl(url);
    return parts.host.toLower() + ':' + parts.port;
}

// A probe of this host ended: the links whose turn it is start.
void HeaderProbes::startNext(const QByteArray& host) {
    for (const ProbeQueue::Link& link : m_queue.finished(host))
        startProbe(link.url, link.host);
}

bool HeaderProbes::isCurrent(const Probe& probe) const {
    return probe.generation == m_generation;
}

void HeaderProbes::startProbe(const QByteArray& url, const QByteArray& host) {
    auto probe = std::make_unique<Probe>();
    int tag = 0;
    probe->file = createTempFile(tag);
    if (!probe->file) { // ends like a failed request, from the event loop
        m_endpoint->post([this, url, host, generation = m_generation] {
            startNext(host);
            if (generation == m_generation)
                guarded([&] { endProbe(url); });
        });
        return;
    }
    probe->host = host;
    probe->generation = m_generation;
    probe->skipId3Tags = UserOptions::SkipId3Tags(m_ini);
    probe->client = std::make_unique<THttpCli>();
    THttpCli* client = probe->client.get();
    SetUpRequest(*client, m_ini);
    client->SetURL(url);
    client->SetTag(tag);
    client->SetReceiveStream(probe->file.get());
    client->OnHeaderData = [this](THttpCli* sender) { guarded([&] { ProbeHeaderData(sender); }); };
    client->OnDocData = [this](THttpCli* sender, const char* data, int length) {
        guarded([&] { ProbeDocData(sender, QByteArray::fromRawData(data, length)); });
    };
    client->OnRequestDone = [this](THttpCli* sender, THttpRequest, quint16) { ProbeDone(sender); };
    m_probes.emplace(client, std::move(probe));
    try {
        client->GetAsync();
    } catch (const PellmarError&) {
        client->Abort(); // a link without a host: the request ends with OnRequestDone
    }
}

void HeaderProbes::ClearPending() {
    m_pending.clear();
    m_sizes.clear();
    m_heads.clear();
    m_queue.clearWaiting(); // nobody waits for their answers any more
    // The running ones stop quietly: the abort empties temp/ under their feet, and their
    // answers would only be dropped. They keep their places until their requests end.
    ++m_generation;
    for (const auto& [client, probe] : m_probes) {
        if (probe->finished)
            continue;
        stopTransfer(*probe);
        QFile::remove(probe->file->fileName());
    }
}

void HeaderProbes::ProbeHeaderData(THttpCli* client) {
    const QByteArray& line = client->CurrentLine();
    if (!line.toLower().contains("content-length"))
        return;
    const QByteArray value = line.mid(line.indexOf(':') + 2);
    const QByteArray url = client->URL();
    for (qsizetype i = 0; i < m_pending.size(); ++i) {
        if (m_pending.at(i).startsWith(url))
            m_sizes[i] = value;
    }
}

void HeaderProbes::ProbeDocData(THttpCli* client, const QByteArray& chunk) {
    const auto found = m_probes.find(client);
    if (found == m_probes.end() || found->second->finished)
        return;
    Probe& probe = *found->second;
    if (probe.stored < bytesNeeded(probe)) {
        if (!probe.file->isOpen() &&
            !probe.file->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
            stopTransfer(probe);
            QFile::remove(probe.file->fileName());
            return;
        }
        probe.stored += chunk.size();
        if (probe.start.size() < kStartBytes)
            probe.start += chunk.left(kStartBytes - probe.start.size());
        return; // the client stores this chunk
    }
    stopTransfer(probe);
    readHeader(probe);
}

// The first frame whole, after an ID3v2 tag when skipping; bytes past the start kept in
// memory are read back from the file.
qint64 HeaderProbes::bytesNeeded(const Probe& probe) const {
    const TMpeg3Head head(probe.skipId3Tags);
    return head.bytesNeeded(probe.stored, [&probe](qint64 offset, int count) {
        if (offset + count <= probe.start.size())
            return probe.start.mid(offset, count);
        QFile file(probe.file->fileName());
        return file.open(QIODevice::ReadOnly) && file.seek(offset) ? file.read(count)
                                                                   : QByteArray();
    });
}

// Stops the transfer and takes the file away, so that the chunk of this event is not stored.
void HeaderProbes::stopTransfer(Probe& probe) {
    probe.finished = true;
    probe.client->Abort();
    probe.file->close();
    probe.client->SetReceiveStream(nullptr);
}

void HeaderProbes::readHeader(Probe& probe) {
    const QString fileName = QString::number(probe.client->Tag()) + QStringLiteral(".tmp");
    TMpeg3Head head(probe.skipId3Tags);
    bool read = false;
    try {
        read = head.ReadFrameHeader(tempFolder(), fileName);
    } catch (const EFOpenError&) {
        // The file is gone (an abort emptied temp/): a failed read, not an error to show.
    }
    if (!read) {
        QFile::remove(tempFolder() + fileName);
        return;
    }
    const QByteArray clientUrl = probe.client->URL();
    qsizetype index = -1;
    for (qsizetype i = 0; i < m_heads.size() && index < 0; ++i) {
        if (m_heads.at(i).contains(clientUrl))
            index = i;
    }
    if (index < 0) { // the run was aborted meanwhile
        QFile::remove(tempFolder() + fileName);
        return;
    }
    const QByteArray entry = m_pending.at(index);
    const qsizetype separator = entry.indexOf(kSeparator);
    ProbedHit hit;
    hit.url = entry.left(separator);
    hit.name = entry.mid(separator + kSeparator.size());
    hit.mode = head.header().mode.contains("Mono") ? QByteArray("Mono") : QByteArray("Stereo");
    hit.stereo = hit.mode == "Stereo";
    if (m_hooks.isListed && m_hooks.isListed(hit.name))
        return;
    hit.size = SizeOf(m_sizes.at(index));
    if (hit.size <= qint64(UserOptions::MinSizeToAdd(m_ini)) * 1000)
        return;
    // Information headers without a byte count, and CBR durations, need the real size.
    FrameHeader frame = head.header();
    frame.fileSize = hit.size - frame.headerOffset;
    frame.settleQuality();
    hit.bitrate = frame.quality.bitrate;
    hit.rateMode = frame.quality.mode;
    hit.sampleRate = StrToInt(QString::fromLatin1(frame.sampleRate));
    if (m_hooks.accepted)
        m_hooks.accepted(hit);
}

void HeaderProbes::ProbeDone(THttpCli* client) {
    const auto found = m_probes.find(client);
    if (found == m_probes.end())
        return;
    // A probe of an aborted run has no entry; a link of the same URL in the next run has.
    const bool current = isCurrent(*found->second);
    const QByteArray url = client->URL();
    const QByteArray host = release(client);
    startNext(host);
    if (current)
        guarded([&] { endProbe(url); });
}

// Removes the probe's entry. The comparison includes the separator so that a URL which
// itself holds "|=@" still finds its own entry.
void HeaderProbes::endProbe(const QByteArray& url) {
    const QByteArray start = url + kSeparator;
    for (qsizetype i = 0; i < m_pending.size(); ++i) {
        if (!m_pending.at(i).startsWith(start))
            continue;
        m_pending.removeAt(i);
        m_sizes.removeAt(i);
        m_heads.removeAt(i);
        if (m_pending.isEmpty() && m_hooks.lastProbeEnded)
            m_hooks.lastProbeEnded(); // may destroy this object: nothing after it
        return;
    }
}

// The client is inside its OnRequestDone: it is deleted from the event loop afterwards.
QByteArray HeaderProbes::release(THttpCli* client) {
    const auto found = m_probes.find(client);
    if (found == m_probes.end())
        return QByteArray();
    Probe* probe = found->second.get();
    QByteArray host = probe->host;
    m_released.push_back(std::move(found->second));
    m_probes.erase(found);
    m_endpoint->post([this, probe] {
        std::erase_if(m_released, [probe](const auto& held) { return held.get() == probe; });
    });
    return host;
}

// The error is reported from the event loop: an error box runs a nested event loop, which
// must not deliver the end of a client whose event handler is still on the stack.
void HeaderProbes::guarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const PellmarError& error) {
        m_endpoint->post([this, message = error.message()] {
            if (m_hooks.error)
                m_hooks.error(message);
        });
    }
}
