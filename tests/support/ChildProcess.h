#pragma once

#include <QProcess>

#include <csignal>
#include <sys/prctl.h>

// Makes a child end with the test that started it. A test that dies without
// running its destructors (a crash, a sanitizer stopping it, a kill at its
// time-out) cannot end its children itself; the kernel then does.
inline void endWithTheTest(QProcess &process)
{
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
}
