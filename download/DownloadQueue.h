#pragma once

#include "download/JobTimer.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

class DownloadJob;
class SettingsFile;

// The program's own downloads under the user's limit of simultaneous transfers: new jobs
// start at once or wait in a queue, and the pump (the queue's own timer, every second) removes one
// finished job per tick or, when none finished, starts queued jobs while slots are free. The queue
// owns its jobs; a window shows each one from jobCreated until the job is destroyed. With "Limit"
// off, queued jobs all start at the next tick.
class DownloadQueue : public QObject {
    Q_OBJECT

public:
    // The pump runs on a timer of pumpTimer (the event loop's by default) from construction.
    explicit DownloadQueue(const SettingsFile& ini, QObject* parent = nullptr,
                           const JobTimer::Factory& pumpTimer = {});
    ~DownloadQueue() override;

    // Creates a job for one file and starts or queues it. Throws the settings' conversion
    // error for a "LimitNumber" that is not an integer (no job is left then) and the job's
    // file error when the target cannot be created (the job stays listed).
    // Resume continues a file already on disk instead of emptying it.
    DownloadJob* StartDownload(const QString& path, const QByteArray& url, bool resume = false);
    void PumpDownloads();
    // Quitting: every job stops as after Cancel, keeping its partial file; queued jobs
    // never start. The stopped jobs stay listed until the pump or the queue's end.
    void StopAll();

    const QList<DownloadJob*>& ActiveDownloads() const { return m_active; }
    const QList<DownloadJob*>& QueuedDownloads() const { return m_queued; }

signals:
    // A new job, before its transfer is set up: show it.
    void jobCreated(DownloadJob* job);

private:
    bool SlotFree() const;
    void PumpTick();

    const SettingsFile& m_ini;
    QList<DownloadJob*> m_active;
    QList<DownloadJob*> m_queued;
    std::unique_ptr<JobTimer> m_pumpTimer;
};
