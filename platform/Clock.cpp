#include "platform/Clock.h"

#include <QThread>
#include <chrono>

namespace {

class SystemClock final : public IClock
{
public:
    void sleep(quint32 ms) override { QThread::msleep(ms); }
    quint32 tickCount() override
    {
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        return quint32(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
    }
};

SystemClock systemClock;
IClock *current = &systemClock;

} // namespace

IClock &Clock::instance()
{
    return *current;
}

void Clock::setInstance(IClock *clock)
{
    current = clock ? clock : &systemClock;
}
