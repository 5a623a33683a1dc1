#pragma once
// Waiting on the Qt event loop in tests: for a condition with a deadline, or
// for a fixed stretch of real time (never as an assertion on timing).
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <functional>

// Runs the event loop until `done` holds or `ms` pass; returns done().
inline bool wait_for(const std::function<bool()>& done, int ms)
{
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

// Runs the event loop for `ms` milliseconds.
inline void pump(int ms)
{
    wait_for([] { return false; }, ms);
}
