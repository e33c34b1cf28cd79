#pragma once

#include "download/JobTimer.h"

#include <QList>

// Job timers that only a test fires: a job's waits and stall watch run when the test says
// so, never after real time. Each job given factory() makes three: its wait, its stall watch
// and its progress tick.
class FakeJobTimers {
public:
    class Timer : public JobTimer {
    public:
        void start(int ms) override {
            interval = ms;
            active = true;
        }
        void stop() override { active = false; }
        bool isActive() const override { return active; }
        void fire() {
            active = false;
            if (onTimeout)
                onTimeout();
        }
        int interval = -1;
        bool active = false;
    };

    JobTimer::Factory factory() {
        return [this] {
            auto timer = std::make_unique<Timer>();
            m_timers.append(timer.get());
            return timer;
        };
    }
    // The timers of the job that was given the factory as the n-th one.
    Timer& wait(qsizetype job = 0) { return *m_timers.at(3 * job); }
    Timer& stall(qsizetype job = 0) { return *m_timers.at(3 * job + 1); }
    Timer& tick(qsizetype job = 0) { return *m_timers.at(3 * job + 2); }

private:
    QList<Timer*> m_timers;
};
