#pragma once

#include <QString>

class IClock;
class IDriveList;
class QBuffer;
class THTTPClient;
class TQV58LinkConfig;
class TUpgradeFile;

// Where the engine's lines and its one question go: the window's log and
// boxes, or the headless command's output and its options.
class IUpgradeReport
{
public:
    virtual ~IUpgradeReport() = default;

    // Appends a line; with replaceLast, first removes the last one.
    virtual void addLog(const QString &text, bool replaceLast) = 0;

    // The question asked before a package older than the probe's firmware is
    // installed; true installs it anyway.
    virtual bool confirmOlder(const QString &question) = 0;
};

// The lines of a package download, as the window and the headless command
// both show them.
namespace downloadText {
QString announce();
QString begin(qint64 total);
QString progress(qint64 count, qint64 total);
} // namespace downloadText

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
    // The version the probe reported after flashing (the one the package's
    // mode names), empty when it was not read.
    QString versionAfter;
};

// The sequence of one upgrade below the window: package check, the target's
// and the package's details, the part and version checks, flashing through
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

    // Downloads the package file into buffer (emptied first), announcing it
    // in the log; progress is the client's handlers' to show.
    void downloadPackage(THTTPClient &http, const QString &url, QBuffer &buffer);

    // Raises "Invalid upgrade file!" unless the bytes are a valid package.
    static void validatePackage(QBuffer &package);

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
