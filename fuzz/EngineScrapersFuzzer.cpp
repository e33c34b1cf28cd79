// Arbitrary bytes as a result page of either search engine, read by the program's scrapers.
#include "core/TextHelpers.h"
#include "search/EngineScrapers.h"
#include "search/NameCleaning.h"

#include <cstddef>
#include <cstdint>

namespace {

// Takes every call as the run would, and checks what a name handed on must hold.
class Host : public IEngineScraperHost {
public:
    void sendFirstEngineRequest(const QByteArray& url) override { m_bytes += url.size(); }
    void sendSecondEngineRequest(const QByteArray& url) override { m_bytes += url.size(); }
    void markSourceDone(SearchSource) override {}
    bool allSourcesDone() const override { return false; }
    void startSecondEngineRetry() override {}
    void setNextPageUrl(const QByteArray& url) override { m_bytes += url.size(); }
    void offerLink(const QByteArray& url, const QByteArray& name) override {
        if (name.isEmpty() || !IsAcceptableName(name))
            __builtin_trap();
        m_bytes += url.size();
    }

private:
    qsizetype m_bytes = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QList<QByteArray> lines =
        SplitLines(QByteArrayView(reinterpret_cast<const char*>(data), qsizetype(size)));
    Host host;
    ScrapeFirstEngine(lines, "http://127.0.0.1:8790", host);
    ScrapeSecondEngine(lines, host);
    return 0;
}
