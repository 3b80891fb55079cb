// Takes one probe lock in a process of its own for the lock tests:
//   probe_lock_holder <folder> <identity>
// Prints "held", "busy" or "unguarded"; holds the lock until its input ends
// or it is killed, and exits 1 when it did not get the lock.

#include "platform/ProbeLock.h"

#include <cstdio>
#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc != 3)
        return 2;
    TProbeLock lock(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[1]));
    const TProbeLock::TState state = lock.tryLock();
    std::puts(state == TProbeLock::Held ? "held" : state == TProbeLock::Busy ? "busy" : "unguarded");
    std::fflush(stdout);
    if (state != TProbeLock::Held)
        return 1;
    char byte;
    while (::read(STDIN_FILENO, &byte, 1) > 0) {
    }
    return 0;
}
