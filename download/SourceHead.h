#pragma once

#include <QByteArray>
#include <functional>
#include <memory>

class QTimer;
class SettingsFile;
class THttpCli;

// The first bytes and the size of one source's file, asked for with a range request
// ("Range: bytes=0-16383") through the user's proxy, so that a download whose source failed
// can tell whether another source holds the same file. A server without ranges answers with
// the whole file: its first bytes are kept and the rest is not waited for. A reply that
// sends nothing for "StallSeconds" (0: never) ends the fetch as failed.
class SourceHead {
public:
    static constexpr qint64 kBytes = 16384;

    struct Result {
        qint64 total = -1; // the file's size (Content-Range, or a 200's Content-Length); -1 unknown
        QByteArray bytes;  // its first bytes, at most kBytes; empty when the fetch failed
    };
    // Called once, from the client's last event; the SourceHead may be destroyed in it.
    using Done = std::function<void(const Result&)>;

    explicit SourceHead(const SettingsFile& ini);
    ~SourceHead();
    SourceHead(const SourceHead&) = delete;
    SourceHead& operator=(const SourceHead&) = delete;

    void fetch(const QByteArray& url, Done done);

private:
    void headerEnd();
    void docData(const char* data, int length);
    void requestDone(quint16 error);
    void armStallWatch();

    const SettingsFile& m_ini;
    std::unique_ptr<THttpCli> m_client;
    std::unique_ptr<QTimer> m_stallTimer;
    Done m_done;
    Result m_result;
    int m_stallSeconds = 0;
    bool m_enough = false; // kBytes arrived: the transfer was ended on purpose
};
