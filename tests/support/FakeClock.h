#pragma once

#include "platform/Clock.h"

#include <functional>

// A clock that only moves when slept on (or when a test moves it), so waits
// run instantly. Installs itself for its lifetime.
class FakeClock final : public IClock
{
public:
    explicit FakeClock(quint32 start = 0)
        : FNow(start)
    {
        Clock::setInstance(this);
    }
    ~FakeClock() override { Clock::setInstance(nullptr); }

    void sleep(quint32 ms) override
    {
        FNow += ms;
        FSlept += ms;
        if (onSleep)
            onSleep(FNow);
    }
    quint32 tickCount() override
    {
        // Each reading costs a millisecond so polling loops always end.
        const quint32 now = FNow;
        FNow += tickStep;
        if (onTick)
            onTick(now);
        return now;
    }

    quint32 now() const { return FNow; }
    quint64 slept() const { return FSlept; }
    void advance(quint32 ms) { FNow += ms; }

    quint32 tickStep = 1;
    std::function<void(quint32)> onSleep;
    std::function<void(quint32)> onTick;

private:
    quint32 FNow;
    quint64 FSlept = 0;
};
