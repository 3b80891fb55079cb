#include "upgrade/ProbeScan.h"

#include "common/ErrorText.h"
#include "common/Exceptions.h"
#include "probe/ProbeDrive.h"

QString probeNotDetectedText()
{
    return QStringLiteral("QV58-Link not detected, please check if it is connected");
}

TProbesPresent probesPresent(IDriveList &drives)
{
    drives.mountCandidates(holdsProbeDetails);
    TProbesPresent present;
    for (const TDriveInfo &drive : drives.drives()) {
        if (drive.type != TDriveType::Removable)
            continue;
        if (!holdsProbeDetails(drive.root)) {
            const QString refusal = probeDetailsRefusal(drive.root);
            if (!refusal.isEmpty())
                present.refused.append({drive, refusal});
            continue;
        }
        auto probe = std::make_shared<TProbe>();
        probe->drive = drive;
        try {
            if (readProbeDetails(drive.root + DetailsLoadName, probe->details))
                present.probes.append(probe);
        } catch (const std::exception &error) {
            present.refused.append({drive, userMessageOf(error)});
        }
    }
    return present;
}

void loadFirstProbe(IDriveList &drives, TQV58LinkConfig &record)
{
    const QString root = findProbeDrive(drives);
    if (root.isEmpty() || !readProbeDetails(root + DetailsLoadName, record))
        throw Exception(probeNotDetectedText());
}
