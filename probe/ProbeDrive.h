#pragma once

#include <QString>

#include <functional>

class IClock;
class IDriveList;
class TQV58LinkConfig;

// The probe's details file as it is looked for, and as it is loaded. The
// probe's volume ignores letter case, so both name the same file.
inline const QString DetailsFileName = QStringLiteral("DETAILS.txt");
inline const QString DetailsLoadName = QStringLiteral("DETAILS.Txt");

// After the probe is told to restart: an unconditional settle sleep, then a
// window in which the drive list is polled until the probe shows up.
constexpr quint32 ProbeSettleMs = 2000;
constexpr quint32 ProbePollWindowMs = 5000;
constexpr quint32 ProbePollPauseMs = 20;

// True when the root holds the details file (letter case ignored) as a
// regular file. A link, a folder, a pipe or a device of that name does not
// make a drive the probe's: it is passed over as a drive without the file
// would be, and probeDetailsRefusal says why.
bool holdsProbeDetails(const QString &root);

// Why the root is not taken for a probe's drive although it holds an entry
// named like the details file: "Cannot open file "<path>". <reason>". Empty
// when that entry is a regular file or there is none.
QString probeDetailsRefusal(const QString &root);

// The root of the first removable drive whose root holds the details file, or
// empty. Asks the drive list afresh on each call, after letting it mount the
// candidates nobody mounted; never raises. Without a list, the tool's own.
QString findProbeDrive();
QString findProbeDrive(IDriveList &drives);

// Returns as soon as the probe is seen after the settle sleep, or when the
// window has passed; whether it came back is for the caller to ask.
void waitForProbe();
// The same on the given clock, with the caller's test for the probe.
void waitForProbe(IClock &clock, const std::function<bool()> &probePresent);

// False when there is no file at path (letter case ignored in its name), or
// only a folder; otherwise the file replaces all six properties of record.
// Raises EFOpenError, leaving record as it was, when the file cannot be read:
// a link or a special file of that name, a file over DetailsFileMaxBytes, or
// one the system refuses.
bool readProbeDetails(const QString &path, TQV58LinkConfig &record);
