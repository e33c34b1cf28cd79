#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

class SettingsFile;

// Fetches a new data file when the service's result pages have changed, saves it over the
// old one and has it read again. The old file is replaced only by a 200 answer of at most
// DataFileConfig::kMaxFileBytes whose lines form a valid data file, and atomically, so an
// error page, an endless answer or a cut connection never leaves the program without a
// usable data file.
class PagesRefresh : public QObject {
    Q_OBJECT

public:
    PagesRefresh(const SettingsFile& ini, QString dataFilePath, std::function<void()> reload,
                 QObject* parent = nullptr);
    ~PagesRefresh() override;

    QByteArray url() const { return m_url; }
    void setUrl(const QByteArray& url) { m_url = url; }

    // Starts fetching url(). A request started earlier runs on: cancelling the window does
    // not stop it, and its answer may still replace the file.
    void start();
    int runningRequests() const { return int(m_requests.size()); }

    // True when the lines read back as a data file: nine lines or more, lines 1 and 4
    // integers once descrambled.
    static bool isValidDataFile(const QList<QByteArray>& lines);

signals:
    // After every request: saved tells whether the data file was replaced.
    void finished(bool saved);

private:
    struct Request;
    void requestDone(Request* request);
    bool replaceDataFile(const QList<QByteArray>& lines) const;

    const SettingsFile& m_ini;
    QString m_dataFilePath;
    std::function<void()> m_reload;
    QByteArray m_url;
    std::vector<std::unique_ptr<Request>> m_requests;
};
