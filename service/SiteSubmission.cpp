#include "service/SiteSubmission.h"

#include "net/HttpCli.h"
#include "net/RequestSetup.h"
#include "net/SplitUrl.h"
#include "platform/Cp1252.h"

#include <algorithm>

namespace {

QByteArray lowerCase(const QByteArray& text) {
    return Cp1252::fromUnicode(Cp1252::toUnicode(text).toLower());
}

// Lower-cased and percent-encoded; an empty field takes its default.
QByteArray field(const QByteArray& text, const QByteArray& defaultText = {}) {
    const QByteArray value = text.isEmpty() ? defaultText : lowerCase(text);
    return value.toPercentEncoding();
}

// "host" or "host:port" of a URL.
QByteArray authorityOf(const QByteArray& url) {
    const UrlParts parts = SplitUrl(url);
    return parts.port.isEmpty() ? parts.host : parts.host + ':' + parts.port;
}

} // namespace

SiteSubmission::SiteSubmission(QObject* parent) : QObject(parent) {}

SiteSubmission::~SiteSubmission() = default;

QList<QByteArray> SiteSubmission::reportUrls(const QByteArray& homeUrl, const Forms& forms) {
    QList<QByteArray> urls;
    if (!forms.ftpAddress.isEmpty())
        urls << homeUrl + "/cgi-bin/ftpaddsite?site_info=" + field(forms.ftpLogin, "anonymous") +
                    ':' + field(forms.ftpPass, kPlaceholderMail) + '@' + field(forms.ftpAddress) +
                    ':' + field(forms.ftpPort, "21");
    if (!forms.httpAddress.isEmpty())
        urls << homeUrl + "/cgi-bin/httpaddsite?site_info=" + field(forms.httpAddress);
    // The share report goes to the home site's host, over https when the home is.
    const QByteArray scheme =
        SplitUrl(homeUrl).scheme.toLower() == "https" ? QByteArray("https") : QByteArray("Http");
    if (!forms.smbAddress.isEmpty())
        urls << scheme + "://" + authorityOf(homeUrl) +
                    "/cgi-bin/smbaddsite?ip=" + field(forms.smbAddress);
    return urls;
}

QByteArray SiteSubmission::ownShareUrl(const QByteArray& homeUrl) {
    return homeUrl + "/cgi-bin/addmysmbsite";
}

void SiteSubmission::send(const SettingsFile& ini, const QList<QByteArray>& urls) {
    for (const QByteArray& url : urls) {
        auto client = std::make_unique<THttpCli>();
        SetUpRequestThroughStoredProxy(*client, ini);
        client->SetURL(url);
        client->OnRequestDone = [this](THttpCli* sender, THttpRequest, quint16) {
            SubmitDone(sender);
        };
        THttpCli* raw = client.get();
        m_clients.push_back(std::move(client));
        raw->GetAsync();
    }
}

// Whatever the outcome, the finished client goes; it may be released from its own event.
void SiteSubmission::SubmitDone(THttpCli* client) {
    std::erase_if(m_clients, [client](const auto& held) { return held.get() == client; });
}
