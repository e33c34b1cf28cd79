#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class IMessageBoxes;
class IShell;
class QBuffer;
class ReplySizeLimit;
class SettingsFile;
class THttpCli;

// The once-per-run look at the service's version file: it offers a newer program version
// and starts a data-file refresh when the service's result pages have changed.
class UpdateCheck : public QObject {
    Q_OBJECT

public:
    // What the check needs from its window.
    struct Hooks {
        QString homeUrl;                                    // of the data file, read now
        std::function<int()> dataVersion;                   // of the data file, read at use
        std::function<void(const QString&)> setStatus;      // the window's status text
        std::function<void(const QByteArray& url)> refresh; // runs the refresh window modally
    };

    // A longer answer is no version file: it is refused as it arrives.
    static constexpr qint64 kMaxVersionFileBytes = 64 * 1024;

    UpdateCheck(const SettingsFile& ini, IMessageBoxes& messages, IShell& shell,
                QObject* parent = nullptr);
    ~UpdateCheck() override;

    // Asks for HomeUrl + "/version2.txt" unless the check is done or already running.
    void StartCheck(Hooks hooks);

    // Set when the version file arrived or the request ended with 404.
    bool checkDone() const { return m_checkDone; }
    bool running() const { return m_client != nullptr || m_pendingFile; }

    // What a version file says, from its first four lines. Only an http or https address
    // is opened as the download page; any other is ignored with a line on standard error.
    void handleVersionFile(const QByteArray& content);

signals:
    // The request and whatever its answer started have ended.
    void finished();

private:
    void docEnd();
    void clearStatus(); // "Looking for new version" goes once the look ends
    void requestDone();
    void offerNewVersion(const QList<QByteArray>& lines);
    void refreshIfPagesChanged(const QList<QByteArray>& lines);

    const SettingsFile& m_ini;
    IMessageBoxes& m_messages;
    IShell& m_shell;
    Hooks m_hooks;
    std::unique_ptr<THttpCli> m_client;
    std::unique_ptr<QBuffer> m_received;
    std::unique_ptr<ReplySizeLimit> m_sizeLimit;
    bool m_checkDone = false;
    bool m_pendingFile = false;
    bool m_statusShown = false; // "Looking for new version" stands in the status
};
