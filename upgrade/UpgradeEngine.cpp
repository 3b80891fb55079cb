#include "upgrade/UpgradeEngine.h"

#include "common/Exceptions.h"
#include "common/StrUtils.h"
#include "package/UpgradeFile.h"
#include "platform/Clock.h"
#include "platform/DriveList.h"
#include "platform/FileSystem.h"
#include "platform/ProbeLock.h"
#include "probe/PartName.h"
#include "probe/ProbeDrive.h"
#include "probe/QV58LinkConfig.h"
#include "upgrade/Flashing.h"
#include "upgrade/Package.h"

namespace {

const QString SuccessLine = QStringLiteral("Upgrade QV58-Link fireware success!");
const QString FailLine = QStringLiteral("Upgrade QV58-Link fireware fail!");
const QString ErrorPrefix = QStringLiteral("    Error: ");

bool isAppPackage(const TUpgradeFile &package)
{
    return sameText(package.mode(), QStringLiteral("App"));
}

} // namespace

QString packageVersionOf(const TQV58LinkConfig &probe, const TUpgradeFile &package)
{
    return isAppPackage(package) ? probe.appVersion() : probe.bootVersion();
}

TUpgradeEngine::TUpgradeEngine(IUpgradeReport &report, IDriveList &drives, IClock &clock)
    : FReport(report)
    , FDrives(drives)
    , FClock(clock)
{
}

void TUpgradeEngine::setProbeIdentity(const QString &identity)
{
    FIdentity = identity;
}

void TUpgradeEngine::downloadPackage(THTTPClient &http, const QString &url, QBuffer &buffer)
{
    ::downloadPackage(http, url, buffer, FReport);
}

void TUpgradeEngine::logTargetInfo(const TQV58LinkConfig &probe)
{
    FReport.addLog(QStringLiteral("Target Info:"), false);
    FReport.addLog(QStringLiteral("    Part Name: %1").arg(partNameOf(probe.HICID())), false);
    FReport.addLog(QStringLiteral("    Boot Version: %1").arg(probe.bootVersion()), false);
    FReport.addLog(QStringLiteral("    Application Version: %1").arg(probe.appVersion()), false);
}

void TUpgradeEngine::logPackageInfo(const TUpgradeFile &package)
{
    FReport.addLog(QStringLiteral("Upgrade File Info:"), false);
    FReport.addLog(QStringLiteral("    Part Name: %1").arg(package.partName()), false);
    if (isAppPackage(package))
        FReport.addLog(QStringLiteral("    Application Version: %1").arg(package.version()), false);
    else
        FReport.addLog(QStringLiteral("    Boot Version: %1").arg(package.version()), false);
    FReport.addLog(QStringLiteral("    Publish Time: %1").arg(package.crDate()), false);
    FReport.addLog(QStringLiteral("    MD5: %1").arg(package.md5()), false);
}

// The three lines every refusal ends with; the outcome line replaces the last.
void TUpgradeEngine::refuse(const QString &reason)
{
    FReport.addLog(QStringLiteral("Result"), false);
    FReport.addLog(ErrorPrefix + reason, false);
    FReport.addLog(QStringLiteral("Update QV58-Link fail"), false);
    FOutcome.message = reason;
}

bool TUpgradeEngine::checkPackage(const TUpgradeFile &package, const QString &probePartName,
                                  const QString &probeVersion)
{
    if (!partMatches(probePartName, package.partName())) {
        refuse(QStringLiteral("Target is \"%1\", Upgrade file is \"%2\", not match").arg(probePartName, package.partName()));
        return false;
    }
    if (!confirmVersion(probeVersion, package.version())) {
        refuse(QStringLiteral("The current hardware version is higher than the upgrade file version"));
        return false;
    }
    return true;
}

bool TUpgradeEngine::confirmVersion(const QString &probeVersion, const QString &packageVersion)
{
    if (!isOlderVersion(probeVersion, packageVersion))
        return true;
    return FReport.confirmOlder(
        QStringLiteral("The current hardware version is higher than the upgrade file version!\r\nContinue?"));
}

QString TUpgradeEngine::locateProbe()
{
    if (FIdentity.isEmpty())
        return findProbeDrive(FDrives);
    FDrives.mountCandidates(holdsProbeDetails);
    for (const TDriveInfo &drive : FDrives.drives()) {
        if (drive.identity == FIdentity && drive.type == TDriveType::Removable && holdsProbeDetails(drive.root))
            return drive.root;
    }
    return {};
}

void TUpgradeEngine::waitForRestart()
{
    // Unsigned differences throughout: a wrap of the tick counter is harmless.
    if (FWait == TRestartWait::Settle) {
        waitForProbe(FClock, [this] { return !locateProbe().isEmpty(); });
        return;
    }
    const quint32 start = FClock.tickCount();
    bool gone = false;
    for (;;) {
        const bool present = !locateProbe().isEmpty();
        const quint32 elapsed = FClock.tickCount() - start;
        if (present && (gone || elapsed >= ProbeSettleMs))
            return;
        gone = gone || !present;
        if (elapsed >= ProbeSettleMs + ProbePollWindowMs)
            return;
        FClock.sleep(ProbePollPauseMs);
    }
}

// The followed identity, or the one the drive list gives the root the window
// found; the root itself where the list cannot tell.
QString TUpgradeEngine::lockIdentity(const QString &root)
{
    if (!FIdentity.isEmpty())
        return FIdentity;
    for (const TDriveInfo &drive : FDrives.drives()) {
        if (drive.root == root && !drive.identity.isEmpty())
            return drive.identity;
    }
    return root;
}

QString TUpgradeEngine::probeDriveOrReport()
{
    // Without the probe's drive there is nowhere to write: a bare file name
    // would land in the working folder instead.
    const QString root = locateProbe();
    if (root.isEmpty())
        refuse(QStringLiteral("QV58-Link not found, please check if it is connected"));
    return root;
}

// The probe must now report the package's version: a probe that came back
// without installing anything and left no "Fail.txt" has not been upgraded.
bool TUpgradeEngine::verifyVersion(const QString &root, const TUpgradeFile &package)
{
    TQV58LinkConfig now;
    bool read = false;
    try {
        read = readProbeDetails(root + DetailsLoadName, now);
    } catch (const Exception &) {
        read = false;
    }
    if (!read) {
        refuse(QStringLiteral("QV58-Link details cannot be read after the upgrade, the upgrade file is version \"%1\"")
                   .arg(package.version()));
        return false;
    }
    FOutcome.versionAfter = packageVersionOf(now, package);
    if (!sameText(Trim(FOutcome.versionAfter), Trim(package.version()))) {
        refuse(QStringLiteral("QV58-Link reports version \"%1\" after the upgrade, the upgrade file is version \"%2\"")
                   .arg(FOutcome.versionAfter, package.version()));
        return false;
    }
    return true;
}

bool TUpgradeEngine::flashProbe(const TUpgradeFile &package)
{
    QString root = probeDriveOrReport();
    if (root.isEmpty())
        return false;
    // One writer per probe across the window and every command: held until
    // the result has been judged, and let go on every way out.
    TProbeLock lock(lockIdentity(root));
    if (lock.tryLock() == TProbeLock::Busy) {
        refuse(QStringLiteral("QV58-Link on %1 is being upgraded by another program; try again when it has finished")
                   .arg(root));
        return false;
    }
    FReport.step(TUpgradeStep::Restart, 0, 0);
    createEmptyFile(root, StartBootloaderFileName);
    waitForRestart();

    // The probe may come back under another drive after each restart.
    root = probeDriveOrReport();
    if (root.isEmpty())
        return false;
    const qint64 imageBytes = package.image().size();
    FReport.step(TUpgradeStep::WriteImage, 0, imageBytes);
    saveImage(root, ImageFileName, package);
    FReport.step(TUpgradeStep::WriteImage, imageBytes, imageBytes);
    FReport.step(TUpgradeStep::RestartAgain, 0, 0);
    waitForRestart();

    root = probeDriveOrReport();
    if (root.isEmpty())
        return false;
    FReport.step(TUpgradeStep::Verify, 0, 0);
    if (fileExists(root + FailFileName)) {
        FOutcome.message = QStringLiteral("QV58-Link left %1: the install failed").arg(FailFileName);
        return false;
    }
    return verifyVersion(root, package);
}

bool TUpgradeEngine::upgrade(const TUpgradeFile &package, const TQV58LinkConfig &probe)
{
    FOutcome = TUpgradeOutcome();
    FOutcome.versionBefore = packageVersionOf(probe, package);
    logPackageInfo(package);
    FReport.addLog(QStringLiteral("Upgrade QV58-Link fireware ... "), false);
    // The interface version decides for every package, boot packages included.
    const QString probeVersion = probe.appVersion();
    const QString probePartName = partNameOf(probe.HICID());
    bool ok = checkPackage(package, probePartName, probeVersion);
    if (ok)
        ok = flashProbe(package);
    FOutcome.ok = ok;
    if (ok)
        FOutcome.message = SuccessLine;
    FReport.addLog(ok ? SuccessLine : FailLine, true);
    return ok;
}
