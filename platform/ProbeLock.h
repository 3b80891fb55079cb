#pragma once

#include "common/FileIO.h"

#include <QString>

// Lets one writer at a time flash a probe: the window, any number of
// qv58link-flash runs and each of their threads. The lock is a file in the
// user's private runtime folder named from a hash of the probe drive's
// identity, so nothing is written on the drive; it is held with flock (on
// Windows LockFileEx), which the kernel drops when the holder dies, so a
// crash never blocks the probe.
// Each TProbeLock opens the file afresh and so excludes every other one, in
// this process as in others.
class TProbeLock
{
public:
    enum TState {
        Free,      // not taken (yet), or released
        Held,      // this object holds the probe
        Busy,      // another holder has it
        Unguarded, // no private runtime folder, or its file cannot be made: nothing to guard with
    };

    // The lock for the drive of that identity, in folder (default: the
    // private runtime folder).
    explicit TProbeLock(const QString &identity);
    TProbeLock(const QString &identity, const QString &folder);
    ~TProbeLock();
    TProbeLock(const TProbeLock &) = delete;
    TProbeLock &operator=(const TProbeLock &) = delete;

    // Takes the lock without waiting. Held, Busy or Unguarded; a writer may
    // go on unless Busy.
    TState tryLock();
    // Lets go; the lock file goes with it.
    void unlock();

    TState state() const { return FState; }
    // Empty when there is no folder.
    QString filePath() const { return FPath; }

private:
    QString FPath;
    TFileHandle FHandle = NoFileHandle;
    TState FState = Free;
};
