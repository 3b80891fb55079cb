#include "probe/ProbeDrive.h"

#include "common/Exceptions.h"
#include "platform/Clock.h"
#include "platform/DriveList.h"
#include "platform/FileSystem.h"
#include "probe/CopyProperties.h"
#include "probe/QV58LinkConfig.h"
#include "probe/QV58LinkConfigFile.h"

bool holdsProbeDetails(const QString &root)
{
    return fileExists(root + DetailsFileName);
}

QString probeDetailsRefusal(const QString &root)
{
    const TDriveEntry entry = findEntry(root + DetailsFileName);
    if (entry.kind == TEntryKind::None || entry.kind == TEntryKind::File)
        return {};
    return EFOpenError(entry.path, refusalReason(entry.kind, TFileUse::Read)).message();
}

QString findProbeDrive()
{
    return findProbeDrive(driveList());
}

QString findProbeDrive(IDriveList &drives)
{
    drives.mountCandidates(holdsProbeDetails);
    for (const TDriveInfo &drive : drives.drives()) {
        if (drive.type == TDriveType::Removable && holdsProbeDetails(drive.root))
            return drive.root;
    }
    return {};
}

void waitForProbe()
{
    waitForProbe(Clock::instance(), [] { return !findProbeDrive().isEmpty(); });
}

void waitForProbe(IClock &clock, const std::function<bool()> &probePresent)
{
    clock.sleep(ProbeSettleMs);
    const quint32 start = clock.tickCount();
    for (;;) {
        if (probePresent())
            return;
        // Unsigned difference: a wrap of the counter inside the window is harmless.
        if (quint32(clock.tickCount() - start) >= ProbePollWindowMs)
            return;
        // A short pause keeps the wait from spinning a core flat out.
        clock.sleep(ProbePollPauseMs);
    }
}

bool readProbeDetails(const QString &path, TQV58LinkConfig &record)
{
    const TDriveEntry entry = findEntry(path);
    // Anything else under the name is refused with its reason by the parser,
    // rather than taken for a missing file.
    if (entry.kind == TEntryKind::None || entry.kind == TEntryKind::Folder)
        return false;
    // Parse before touching the record, so a file that cannot be read leaves it as it was.
    const TQV58LinkConfigFile parser(entry.path);
    copyProperties(parser, record);
    return true;
}
