#pragma once

#include <QStringList>
#include <QTextStream>

// Exit codes of qv58link-flash.
enum TFlashExit {
    feOk = 0,       // every probe succeeded
    feFailed = 1,   // at least one probe failed or was refused
    feUsage = 2,    // bad command line
    feNoProbe = 3,  // no probe found
};

// Runs one qv58link-flash command line (without the program name): list,
// versions or install. Plain output goes to out, errors and, with --json,
// the progress lines to err.
int runFlashCommand(const QStringList &arguments, QTextStream &out, QTextStream &err, bool terminal);

// The command's help text.
QString flashUsage();
