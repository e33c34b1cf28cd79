#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <memory>
#include <vector>

class SettingsFile;
class THttpCli;

// Reports sites to the search service, one GET each; the answers are not read. Field texts
// go lower-cased and percent-encoded, so that a name with a blank or an "&" arrives whole.
class SiteSubmission : public QObject {
public:
    // The texts of the submission page's forms, Windows-1252 as typed.
    struct Forms {
        QByteArray ftpAddress;  // IPEdit
        QByteArray ftpPort;     // PortEdit, "21" when empty
        QByteArray ftpLogin;    // LoginEdit, "anonymous" when empty
        QByteArray ftpPass;     // PassEdit, kPlaceholderMail when empty
        QByteArray httpAddress; // HTTPEdit, without "http://"
        QByteArray smbAddress;  // SMBIPEdit
    };

    static constexpr char kPlaceholderMail[] = "guest@pellmar.net";

    explicit SiteSubmission(QObject* parent = nullptr);
    ~SiteSubmission() override;

    // The reports of the filled-in forms, FTP first, then the web site, then the computer
    // with shared folders. homeUrl is the service's; the shared-folder report goes to its
    // host under the scheme "Http://".
    static QList<QByteArray> reportUrls(const QByteArray& homeUrl, const Forms& forms);
    static QByteArray ownShareUrl(const QByteArray& homeUrl);

    // Sends each URL without waiting for it. The proxy is the one in the settings, read
    // now, whether or not it is switched on for searches.
    void send(const SettingsFile& ini, const QList<QByteArray>& urls);
    int pendingCount() const { return int(m_clients.size()); }

private:
    void SubmitDone(THttpCli* client);

    std::vector<std::unique_ptr<THttpCli>> m_clients;
};
