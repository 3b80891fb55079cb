#pragma once

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

#include <functional>

// Runs the event loop until it is about to wait for new events, which is when
// the window evaluates its update rules.
inline void runUntilIdle()
{
    QEventLoop loop;
    QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, &loop,
                     [&loop] { loop.quit(); });
    QTimer::singleShot(2000, &loop, &QEventLoop::quit);
    loop.exec();
}

// Spins the event loop for about ms milliseconds.
inline void spinFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Spins the event loop until done() holds or ms milliseconds have passed.
inline bool spinUntil(const std::function<bool()> &done, int ms)
{
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        spinFor(5);
    }
    return true;
}
