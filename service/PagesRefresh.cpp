#include "service/PagesRefresh.h"

#include "core/DataFileConfig.h"
#include "core/TextHelpers.h"
#include "net/HttpCli.h"
#include "net/RequestSetup.h"
#include "platform/Cp1252.h"
#include "platform/Errors.h"
#include "service/ReplySizeLimit.h"

#include <QBuffer>
#include <QSaveFile>
#include <algorithm>

namespace {

// Answers shorter than this are never a data file.
constexpr qint64 kMinimumDataFileBytes = 100;

bool isIntegerLine(const QByteArray& scrambled) {
    return TryStrToInt(Cp1252::toUnicode(DescrambleText(scrambled))).has_value();
}

} // namespace

struct PagesRefresh::Request {
    THttpCli client;
    QBuffer received;
    // A data file is small: a longer answer is refused as it arrives.
    ReplySizeLimit sizeLimit{client, DataFileConfig::kMaxFileBytes};
};

PagesRefresh::PagesRefresh(const SettingsFile& ini, QString dataFilePath,
                           std::function<void()> reload, QObject* parent)
    : QObject(parent), m_ini(ini), m_dataFilePath(std::move(dataFilePath)),
      m_reload(std::move(reload)) {}

PagesRefresh::~PagesRefresh() = default;

void PagesRefresh::start() {
    auto request = std::make_unique<Request>();
    Request* raw = request.get();
    SetUpRequest(raw->client, m_ini);
    raw->client.SetURL(m_url);
    raw->received.open(QIODevice::ReadWrite);
    raw->client.SetReceiveStream(&raw->received);
    raw->client.OnRequestDone = [this, raw](THttpCli*, THttpRequest, quint16) { requestDone(raw); };
    m_requests.push_back(std::move(request));
    raw->client.GetAsync();
}

bool PagesRefresh::isValidDataFile(const QList<QByteArray>& lines) {
    return lines.size() >= DataFileConfig::kLineCount && isIntegerLine(lines[0]) &&
           isIntegerLine(lines[3]);
}

void PagesRefresh::requestDone(Request* request) {
    const QList<QByteArray> lines = SplitLines(request->received.data());
    const bool usable = request->client.StatusCode() == 200 && !request->sizeLimit.exceeded() &&
                        request->client.ReceivedCount() >= kMinimumDataFileBytes &&
                        isValidDataFile(lines);
    // The client may be released from its own request-done event.
    std::erase_if(m_requests, [request](const auto& held) { return held.get() == request; });
    const bool saved = usable && replaceDataFile(lines);
    if (saved && m_reload) {
        try {
            m_reload();
        } catch (const PellmarError&) {
            // A refresh reports nothing; the next start reads the file again.
        }
    }
    emit finished(saved);
}

bool PagesRefresh::replaceDataFile(const QList<QByteArray>& lines) const {
    QByteArray content;
    for (const QByteArray& line : lines)
        content += line + "\r\n";
    // Lines that ended in LF alone grow by their CR: the file must still be readable.
    if (content.size() > DataFileConfig::kMaxFileBytes)
        return false;
    QSaveFile file(m_dataFilePath);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size() &&
           file.commit();
}
