#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <functional>

// Runs the event loop until `done` holds; false after the time-out.
inline bool waitFor(const std::function<bool()>& done, int timeoutMs = 30000)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}
