#include "net/NoticeEndpoint.h"

#include <QCoreApplication>
#include <QEvent>

namespace {

const QEvent::Type kNoticeEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

class NoticeEvent : public QEvent {
public:
    explicit NoticeEvent(NoticeEndpoint::Notice notice)
        : QEvent(kNoticeEvent), m_notice(std::move(notice)) {}
    NoticeEndpoint::Notice m_notice;
};

} // namespace

void NoticeEndpoint::post(Notice notice) {
    QCoreApplication::postEvent(this, new NoticeEvent(std::move(notice)));
}

void NoticeEndpoint::customEvent(QEvent* event) {
    if (event->type() != kNoticeEvent)
        return;
    // Exceptions of handlers travel on to the application's error boundary.
    static_cast<NoticeEvent*>(event)->m_notice();
}
