#pragma once

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QThread>
#include <functional>

// Runs the event loop until the condition holds. The limit only keeps a broken test from
// hanging; it is never what a test checks.
inline bool WaitFor(const std::function<bool()>& condition, int limitMs = 20000) {
    QDeadlineTimer deadline(limitMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QCoreApplication::sendPostedEvents();
        QThread::usleep(200);
    }
    return true;
}

// Delivers everything the event loop has ready now: posted events (the network objects'
// notices) and ready socket notifiers, pass after pass until a pass finds nothing to do. It
// never waits for time to pass. A test shows that something does not happen by first waiting
// positively for whatever could still cause it (the server served its connections, no name
// lookup is in flight, the socket is closed) and then calling this.
inline void DeliverPending() {
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    // A handler that never reads is heard of again at every pass; the bound keeps such a
    // test from spinning for ever.
    for (int pass = 0; pass < 1000; ++pass) {
        QCoreApplication::sendPostedEvents();
        if (!dispatcher->processEvents(QEventLoop::AllEvents))
            break;
    }
    QCoreApplication::sendPostedEvents();
}
