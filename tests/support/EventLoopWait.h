#pragma once

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

// Lets the event loop deliver what is pending now and what arrives within a short while:
// used to show that something does NOT happen.
inline void DrainEvents(int forMs = 200) {
    QDeadlineTimer deadline(forMs);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::usleep(500);
    }
}
