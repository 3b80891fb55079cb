#pragma once

#include <QtGlobal>

// Sleeps and the millisecond tick counter. Every wait of the tool goes
// through here so tests can run it on a fake clock.
class IClock
{
public:
    virtual ~IClock() = default;
    virtual void sleep(quint32 ms) = 0;
    // Milliseconds since some fixed point; wraps at 2^32 like the system counter.
    virtual quint32 tickCount() = 0;
};

class Clock
{
public:
    static IClock &instance();
    // Replaces the clock (nullptr restores the real one). The caller keeps ownership.
    static void setInstance(IClock *clock);

    static void sleep(quint32 ms) { instance().sleep(ms); }
    static quint32 tickCount() { return instance().tickCount(); }
};
