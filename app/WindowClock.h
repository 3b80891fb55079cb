#pragma once

#include "platform/Clock.h"

#include <QObject>

// Keeps the window alive while the one thread is busy in a step: it repaints
// and answers the window system (expose, the desktop's liveness ping, screen
// changes), while mouse, keyboard and wheel input is dropped, so no button
// acts and no second step can start.
class TInputBlocker final : public QObject
{
public:
    TInputBlocker();
    ~TInputBlocker() override;

    // Handles what is pending now, input excluded.
    static void processPending();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};

// The window's clock: a sleep runs the event loop with input blocked instead
// of stopping the thread. Ticks are the system's.
class TWindowClock final : public IClock
{
public:
    void sleep(quint32 ms) override;
    quint32 tickCount() override;
};
