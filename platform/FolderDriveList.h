#pragma once

#include "platform/DriveList.h"

// Folders standing in for drives, written as QV58LINK_DRIVES is: paths
// separated by ":" (";" on Windows, where a path holds a ":" itself). Each is a removable drive while its folder exists, so a
// simulated probe "unplugs" by removing its folder; its identity is the folder.
class TFolderDriveList final : public IDriveList
{
public:
    explicit TFolderDriveList(const QString &folders = QString());

    QList<TDriveInfo> drives() override;

private:
    QStringList FRoots;
};
