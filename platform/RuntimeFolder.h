#pragma once

#include <QString>

// Where the tool keeps its per-user locks and sockets: a folder that only
// this user can write, found the same way by every process of the user, so
// the window and any number of qv58link-flash runs meet there. Tried in
// turn, the first that is a folder of this user closed to everyone else:
//   1. $XDG_RUNTIME_DIR (never created here);
//   2. /tmp/qv58link-<uid>, created 0700 when missing;
//   3. $HOME/.cache/qv58link, created 0700 when missing.
// A candidate that someone else made, that is open to others, or that is a
// link is passed over, so a folder planted under /tmp cannot take the locks
// away. Empty only when none of the three can be had; the callers then go on
// unguarded rather than refuse to work. Windows has only the third, as
// %LOCALAPPDATA%\qv58link, closed to others by its inherited access list.
QString privateRuntimeFolder();

// The candidates in the order above; an empty one is skipped.
struct TRuntimeFolderCandidates
{
    QString runtimeDir;
    QString tmpFolder;
    QString homeFolder;
};

// The candidates of this process's user and environment.
TRuntimeFolderCandidates runtimeFolderCandidates();
// The choice over given candidates.
QString privateRuntimeFolder(const TRuntimeFolderCandidates &candidates);
