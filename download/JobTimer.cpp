#include "download/JobTimer.h"

#include <QTimer>

namespace {

class QtJobTimer : public JobTimer {
public:
    QtJobTimer() {
        m_timer.setSingleShot(true);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            if (onTimeout)
                onTimeout();
        });
    }
    void start(int ms) override { m_timer.start(ms); }
    void stop() override { m_timer.stop(); }
    bool isActive() const override { return m_timer.isActive(); }

private:
    QTimer m_timer;
};

} // namespace

std::unique_ptr<JobTimer> JobTimer::createQt() {
    return std::make_unique<QtJobTimer>();
}
