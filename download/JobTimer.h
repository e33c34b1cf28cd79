#pragma once

#include <functional>
#include <memory>

// A one-shot timer of a download job: the wait between two tries, the watch for a stalled
// transfer and the progress tick (which starts itself again). The program runs them on QTimer;
// tests give the job timers they fire themselves, so that no test waits for a backoff or a
// tick.
class JobTimer {
public:
    using Factory = std::function<std::unique_ptr<JobTimer>()>;

    virtual ~JobTimer() = default;
    // Starts the timer, or starts it again from now; onTimeout runs once after ms.
    virtual void start(int ms) = 0;
    virtual void stop() = 0;
    virtual bool isActive() const = 0;

    // The event loop's timer.
    static std::unique_ptr<JobTimer> createQt();

    std::function<void()> onTimeout;
};
