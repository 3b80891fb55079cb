#pragma once

#include "platform/DriveList.h"
#include "probe/QV58LinkConfig.h"

#include <QList>
#include <QString>

#include <memory>

// What a front says when it finds no probe to work on.
QString probeNotDetectedText();

// A probe's drive with the details it reported when it was found.
struct TProbe
{
    TDriveInfo drive;
    TQV58LinkConfig details;
};

// A drive that holds an entry under the details file's name but is not taken
// for a probe's, with the reason a front shows for it.
struct TRefusedDrive
{
    TDriveInfo drive;
    QString reason;
};

struct TProbesPresent
{
    // In the drive list's order.
    QList<std::shared_ptr<TProbe>> probes;
    QList<TRefusedDrive> refused;
};

// Every probe on the removable drives, after letting the list mount the
// candidates nobody has mounted. A drive whose details file is a link or a
// special file, or cannot be read, is refused with its reason and the look
// goes on: one bad drive does not hide the probes beside it.
TProbesPresent probesPresent(IDriveList &drives);

// The first probe, as the window takes it: its details replace record's.
// Raises the not-detected text when there is none, or when its details file
// went away meanwhile; a details file that cannot be read raises its own
// error. Either way record stays as it was.
void loadFirstProbe(IDriveList &drives, TQV58LinkConfig &record);
