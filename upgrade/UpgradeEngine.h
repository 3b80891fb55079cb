#pragma once

#include "upgrade/UpgradeReport.h"

#include <QString>

class IClock;
class IDriveList;
class QBuffer;
class THTTPClient;
class TQV58LinkConfig;
class TUpgradeFile;

// How a wait after a restart ends.
enum class TRestartWait {
    // 2000 ms of sleep, then up to 5000 ms of polling until a probe is seen.
    Settle,
    // The same maxima, but over as soon as the probe's drive has gone and is
    // back; a drive that does not seem to go within 2000 ms is then waited
    // for as Settle would.
    Follow,
};

// What the last upgrade came to, for callers that report more than the log.
struct TUpgradeOutcome
{
    bool ok = false;
    // The reason of a failure as one line, or the success line.
    QString message;
    // The probe's version the package replaces, as loaded before the run
    // (see packageVersionOf).
    QString versionBefore;
    // The version the probe reported after flashing (the one the package's
    // mode names), empty when it was not read.
    QString versionAfter;
};

// The probe's version that a package of this mode replaces, and that the
// probe must report once it is installed: the interface version for an App
// package, the bootloader version for any other.
QString packageVersionOf(const TQV58LinkConfig &probe, const TUpgradeFile &package);

// The upgrade of one probe below both fronts, with a package already checked
// (upgrade/Package.h): the target's and the package's details, the part and version checks, flashing through
// the probe's drive with its two waits, and the result check with the
// probe's details read back. One engine serves one probe; engines of
// different probes may run at once on different threads.
class TUpgradeEngine
{
public:
    TUpgradeEngine(IUpgradeReport &report, IDriveList &drives, IClock &clock);

    // Follows one probe by the identity of its drive across restarts, so
    // another probe's drive is never taken for it. Empty (the default): the
    // first probe found, wherever it is.
    void setProbeIdentity(const QString &identity);
    QString probeIdentity() const { return FIdentity; }

    void setRestartWait(TRestartWait wait) { FWait = wait; }
    TRestartWait restartWait() const { return FWait; }

    // downloadPackage (upgrade/Package.h) reporting here.
    void downloadPackage(THTTPClient &http, const QString &url, QBuffer &buffer);

    void logTargetInfo(const TQV58LinkConfig &probe);
    void logPackageInfo(const TUpgradeFile &package);
    bool checkPackage(const TUpgradeFile &package, const QString &probePartName, const QString &probeVersion);
    // True when the package may go on; asks the report before a lower version.
    bool confirmVersion(const QString &probeVersion, const QString &packageVersion);
    // Writes the marker and the image, waiting for the probe after each, then
    // judges the result: no "Fail.txt", and the probe now reports the
    // package's version. Holds the probe's lock (TProbeLock) meanwhile; a
    // probe another writer holds is refused before anything is written.
    bool flashProbe(const TUpgradeFile &package);

    // The whole last step: package details, checks, flashing and the outcome
    // line, against the probe's record as loaded before the run.
    bool upgrade(const TUpgradeFile &package, const TQV58LinkConfig &probe);

    const TUpgradeOutcome &outcome() const { return FOutcome; }

    // The root of the probe's drive now (see setProbeIdentity), or empty.
    QString locateProbe();
    // Waits for the probe after it was told to restart.
    void waitForRestart();

private:
    QString probeDriveOrReport();
    QString lockIdentity(const QString &root);
    bool verifyVersion(const QString &root, const TUpgradeFile &package);
    void refuse(const QString &reason);

    IUpgradeReport &FReport;
    IDriveList &FDrives;
    IClock &FClock;
    QString FIdentity;
    TRestartWait FWait = TRestartWait::Settle;
    TUpgradeOutcome FOutcome;
};
