#pragma once

#include <QByteArray>
#include <QtGlobal>

// What every program of the tool sets first thing in main(), before any
// other thread runs.
inline void prepareProcess()
{
#ifdef Q_OS_WIN
    // With MinGW, the per-thread stack that PCRE2's JIT keeps for
    // QRegularExpression is freed at thread exit by a destructor that
    // crashes: each worker thread that had matched a pattern took the process
    // down as it ended. The tool's patterns are short; the interpreter
    // matches them fast enough.
    qputenv("QT_ENABLE_REGEXP_JIT", QByteArray("0"));
#endif
}
