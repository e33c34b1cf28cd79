#pragma once

#include <QObject>
#include <functional>

// The receiver of the notices one network object posts to itself (or that a resolver
// thread posts to it). Notices run from the event loop, after the current handler chain
// has returned. Destroying the endpoint drops every notice still queued for it, so an
// object that owns its endpoint never sees a notice after its destruction.
class NoticeEndpoint : public QObject {
public:
    using Notice = std::function<void()>;

    NoticeEndpoint() = default;

    // Thread-safe, as long as the endpoint outlives the call.
    void post(Notice notice);

protected:
    void customEvent(QEvent* event) override;
};
