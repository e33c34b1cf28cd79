#pragma once

#include "core/AudioQuality.h"
#include "download/ProbeQueue.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>
#include <map>
#include <memory>
#include <vector>

class NoticeEndpoint;
class QFile;
class SettingsFile;
class THttpCli;

// A link the probe kept: its header was valid, its size large enough, its name new.
struct ProbedHit {
    QByteArray name, url;
    qint64 size = 0;    // the Content-Length
    int bitrate = 0;    // kbit/s: the frames' own for CBR, the average for ABR and VBR
    int sampleRate = 0; // Hz
    bool stereo = false;
    QByteArray mode; // "Mono" or "Stereo"
    RateMode rateMode = RateMode::Cbr;

    // The hit-store record: name, url, size, bitrate, sample rate and mode, TAB-joined,
    // then "ABR" or "VBR" for a variable rate.
    QByteArray record() const;
};

// The header probes of one search run. Each probe fetches the start of a linked file into
// a numbered temporary file in the program folder's temp/, stops the transfer once the
// frame header is stored (past an ID3v2 tag when "SkipId3Tags" is on), reads it and hands
// a kept link to the run. PendingProbeList holds "url|=@name" per probe in flight,
// ProbeSizeList the Content-Length text at the same index ("0" until one arrives). Beyond
// kMaxRunning probes, or kMaxPerHost of one host, a probe is pending at once but starts in
// its turn (ProbeQueue).
//
// Hooks are called from the probe clients' events, never from inside StartHeaderProbe. The
// error hook comes from the event loop after the handler, so it may show a modal box; a
// PellmarError thrown by accepted goes there too. Only lastProbeEnded may destroy this
// object.
class HeaderProbes {
public:
    struct Hooks {
        // A row of the hit list has exactly this caption.
        std::function<bool(const QByteArray& name)> isListed;
        // A kept hit: the run stores, counts and shows it.
        std::function<void(const ProbedHit&)> accepted;
        // The last pending probe ended.
        std::function<void()> lastProbeEnded;
        // An error that stops a handler ("'%s' is not a valid integer value").
        std::function<void(const QString& message)> error;
    };

    // random(n) draws an integer in [0, n).
    HeaderProbes(const SettingsFile& ini, const QString& programFolder, Hooks hooks,
                 std::function<int(int)> random);
    ~HeaderProbes(); // releases the clients still running
    HeaderProbes(const HeaderProbes&) = delete;
    HeaderProbes& operator=(const HeaderProbes&) = delete;

    void StartHeaderProbe(const QByteArray& url, const QByteArray& name);
    // Abort of the run: empties both lists and drops the probes still waiting to start.
    // Running probes are stopped and their files deleted; they end unseen.
    void ClearPending();

    const QList<QByteArray>& PendingProbeList() const { return m_pending; }
    const QList<QByteArray>& ProbeSizeList() const { return m_sizes; }
    // Probes with a connection of their own, until their request has ended.
    int runningProbes() const { return m_queue.running(); }

    // The highest tag plus one; the temporary file is the tag in decimal and ".tmp".
    static constexpr int kTagRange = 100000;
    // Probes of one host (and port) running at once; the others wait their turn in order.
    // A page with a thousand links to one site then neither floods that server nor holds
    // a thousand connections, while a dead host only holds up its own links.
    static constexpr int kMaxPerHost = 32;
    // Probes running at once in all. A page of thousands of links would otherwise open
    // thousands of sockets at once, run out of descriptors and lose the good links.
    static constexpr int kMaxRunning = 256;

private:
    struct Probe;

    QString tempFolder() const;
    std::unique_ptr<QFile> createTempFile(int& tag) const;
    static QByteArray hostOf(const QByteArray& url);
    void startProbe(const QByteArray& url, const QByteArray& host);
    void startNext(const QByteArray& host);
    bool isCurrent(const Probe& probe) const;

    void ProbeHeaderData(THttpCli* client);
    void ProbeDocData(THttpCli* client, const QByteArray& chunk);
    void ProbeDone(THttpCli* client);

    qint64 bytesNeeded(const Probe& probe) const;
    void stopTransfer(Probe& probe);
    void readHeader(Probe& probe);
    void endProbe(const QByteArray& url);
    QByteArray release(THttpCli* client); // the client's host
    // Runs a handler; an error that escapes it goes to the error hook, posted.
    void guarded(const std::function<void()>& handler);

    const SettingsFile& m_ini;
    QString m_programFolder;
    Hooks m_hooks;
    std::function<int(int)> m_random;
    QList<QByteArray> m_pending;
    QList<QByteArray> m_sizes;
    QList<QByteArray> m_heads; // each entry up to and including the '|' of "|=@"
    ProbeQueue m_queue{kMaxRunning, kMaxPerHost};
    // Counts the aborts of the run: a probe started before the last one is stale.
    int m_generation = 0;
    std::map<THttpCli*, std::unique_ptr<Probe>> m_probes;
    std::vector<std::unique_ptr<Probe>> m_released; // ended, deleted from the event loop
    std::unique_ptr<NoticeEndpoint> m_endpoint;
};
