#include "platform/DriveList.h"

#include "platform/FolderDriveList.h"
#include "platform/SystemDrives.h"

#include <atomic>

QStringList IDriveList::logicalDrives()
{
    QStringList roots;
    for (const TDriveInfo &drive : drives())
        roots.append(drive.root);
    return roots;
}

TDriveType IDriveList::driveType(const QString &root)
{
    for (const TDriveInfo &drive : drives()) {
        if (drive.root == root)
            return drive.type;
    }
    return TDriveType::NoRootDir;
}

namespace {

// QV58LINK_DRIVES as it reads at each look, so a test or the demo may change
// it while the tool runs; nothing is kept between looks, so threads share it
// safely.
class TEnvironmentDriveList final : public IDriveList
{
public:
    QList<TDriveInfo> drives() override { return TFolderDriveList(qEnvironmentVariable("QV58LINK_DRIVES")).drives(); }
};

std::atomic<IDriveList *> installedList = nullptr;

} // namespace

void setDriveList(IDriveList *list)
{
    installedList = list;
}

IDriveList &driveList()
{
    if (IDriveList *installed = installedList.load())
        return *installed;
    if (qEnvironmentVariableIsSet("QV58LINK_DRIVES")) {
        static TEnvironmentDriveList folders;
        return folders;
    }
    static const std::unique_ptr<IDriveList> system = makeSystemDriveList();
    return *system;
}
