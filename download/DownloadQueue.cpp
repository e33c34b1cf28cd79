#include "download/DownloadQueue.h"

#include "core/UserOptions.h"
#include "download/DownloadJob.h"

#include <memory>

namespace {

constexpr int kPumpMs = 1000;

} // namespace

DownloadQueue::DownloadQueue(const SettingsFile& ini, QObject* parent,
                             const JobTimer::Factory& pumpTimer)
    : QObject(parent), m_ini(ini), m_pumpTimer(pumpTimer ? pumpTimer() : JobTimer::createQt()) {
    m_pumpTimer->onTimeout = [this] { PumpTick(); };
    m_pumpTimer->start(kPumpMs);
}

DownloadQueue::~DownloadQueue() {
    qDeleteAll(m_active);
    qDeleteAll(m_queued);
}

DownloadJob* DownloadQueue::StartDownload(const QString& path, const QByteArray& url, bool resume) {
    const auto mode = resume ? DownloadJob::TargetMode::Resume : DownloadJob::TargetMode::Replace;
    auto job = std::make_unique<DownloadJob>(m_ini);
    const int limit = UserOptions::LimitNumber(m_ini);
    DownloadJob* created = job.release();
    if (limit > m_active.size() || !UserOptions::LimitApplies(m_ini)) {
        m_active.append(created);
        emit jobCreated(created);
        created->StartTransfer(path, url, mode);
    } else {
        m_queued.append(created);
        emit jobCreated(created);
        created->QueueTransfer(path, url, mode);
    }
    return created;
}

void DownloadQueue::PumpDownloads() {
    for (qsizetype i = 0; i < m_active.size(); ++i) {
        if (m_active[i]->Finished()) {
            // One finished job goes per tick, and nothing starts in that tick.
            delete m_active.takeAt(i);
            return;
        }
    }
    while (!m_queued.isEmpty() && SlotFree()) {
        DownloadJob* next = m_queued.takeFirst();
        m_active.append(next);
        next->StartQueued();
    }
}

// The next tick is due whatever this one does: a "LimitNumber" that is not an integer is
// reported by the loop and does not stop the queue for good.
void DownloadQueue::PumpTick() {
    m_pumpTimer->start(kPumpMs);
    PumpDownloads();
}

// With the limit off every queued job may start; "LimitNumber" is then not read at all.
bool DownloadQueue::SlotFree() const {
    return !UserOptions::LimitApplies(m_ini) || m_active.size() < UserOptions::LimitNumber(m_ini);
}

void DownloadQueue::StopAll() {
    for (DownloadJob* job : std::as_const(m_queued)) {
        job->UserStop();
        m_active.append(job);
    }
    m_queued.clear();
    for (DownloadJob* job : std::as_const(m_active)) {
        if (!job->Finished())
            job->UserStop();
    }
}
