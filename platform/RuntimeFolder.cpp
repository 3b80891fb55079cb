#include "platform/RuntimeFolder.h"

#include "platform/RuntimeFolderDetail.h"

#include <QFileInfo>

using namespace runtimeFolderDetail;

QString privateRuntimeFolder(const TRuntimeFolderCandidates &candidates)
{
    // The session's own folder is the system's to make: only ever taken as found.
    if (!candidates.runtimeDir.isEmpty() && isPrivateFolder(candidates.runtimeDir))
        return candidates.runtimeDir;
    if (!candidates.tmpFolder.isEmpty() && makeFolder(candidates.tmpFolder) && isPrivateFolder(candidates.tmpFolder))
        return candidates.tmpFolder;
    if (!candidates.homeFolder.isEmpty()) {
        // The cache folder above it may be missing on a fresh account.
        if (makeFolder(QFileInfo(candidates.homeFolder).path()) && makeFolder(candidates.homeFolder)
            && isPrivateFolder(candidates.homeFolder))
            return candidates.homeFolder;
    }
    return QString();
}

QString privateRuntimeFolder()
{
    return privateRuntimeFolder(runtimeFolderCandidates());
}
