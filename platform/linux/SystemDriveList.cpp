#include "platform/linux/SystemDriveList.h"

#include "platform/DriveRoot.h"
#include "platform/SystemDrives.h"
#include "platform/linux/UDisks2Automounter.h"

#include <QDir>
#include <QFile>
#include <algorithm>

// A wait for the probe looks at the drives 50 times a second, on machines
// whose mount table has hundreds of lines (containers, snaps) and whose
// snaps are dozens of loop devices. So a look reads the mount table at most
// once (the kernel's own only when it changed), decodes only the lines of
// block devices, and describes each block device once however many mounts
// share it.

namespace {

// The kernel's name of the block device a mount comes from, or empty when the
// source is no device node.
QByteArrayView deviceName(QByteArrayView source)
{
    if (!source.startsWith("/dev/"))
        return {};
    return source.sliced(source.lastIndexOf('/') + 1);
}

} // namespace

TSystemDriveList::TSystemDriveList(const QString &systemRoot)
    : TSystemDriveList(systemRoot, QDir::cleanPath(systemRoot) == QStringLiteral("/")
                                       ? std::make_shared<TUDisks2Automounter>()
                                       : nullptr)
{
}

TSystemDriveList::TSystemDriveList(const QString &systemRoot, std::shared_ptr<TUDisks2Automounter> automounter)
    : FAutomounter(std::move(automounter))
    , FBlockClass(QFile::encodeName(QDir::cleanPath(QDir(systemRoot).filePath(QStringLiteral("sys/class/block")))))
    , FSysfs(QFile::encodeName(QDir::cleanPath(QDir(systemRoot).filePath(QStringLiteral("sys")))))
    , FMountTable(QFile::encodeName(QDir(systemRoot).filePath(QStringLiteral("proc/self/mountinfo"))))
{
    FRootBase = systemRoot;
    while (FRootBase.endsWith(u'/'))
        FRootBase.chop(1);
}

// UDisks2 names mount points as the machine sees them; here they lie under
// the system root like every other mount point.
void TSystemDriveList::mountCandidates(const std::function<bool(const QString &root)> &holdsProbe)
{
    if (FAutomounter)
        FAutomounter->mountCandidates([&](const QString &mountPoint) { return holdsProbe(rootOf(mountPoint)); });
}

TSystemDriveList::TBlockDevice TSystemDriveList::blockDevice(const QString &name) const
{
    TSysfsLook look(FSysfs, FBlockClass);
    return look.device(QFile::encodeName(name));
}

TSystemDriveList::~TSystemDriveList() = default;

QString TSystemDriveList::rootOf(const QString &mountPoint) const
{
    return withTrailingSlash(FRootBase + mountPoint);
}

TDriveType TSystemDriveList::typeOf(const TMount &mount, TSysfsLook &look) const
{
    const TBlockDevice &device = look.device(deviceName(mount.source), mount.device);
    if (device.listed)
        return device.type;
    const QByteArrayView type = mount.fsType;
    if (type.startsWith("nfs") || type == "cifs" || type == "smb3" || type == "fuse.sshfs")
        return TDriveType::Remote;
    if (type == "tmpfs" || type == "ramfs")
        return TDriveType::RamDisk;
    return TDriveType::Unknown;
}

TDriveType TSystemDriveList::driveType(const QString &root)
{
    const QByteArray text = FMountTable.text();
    for (const TMount &mount : visibleMounts(text)) {
        if (rootOf(decodeMountField(mount.point)) == root) {
            TSysfsLook look(FSysfs, FBlockClass);
            return typeOf(mount, look);
        }
    }
    return TDriveType::NoRootDir;
}

// The listed drives are the mounted block devices; other mounts are no
// drives, as a network share or a RAM disk is no drive letter's.
QList<TDriveInfo> TSystemDriveList::drives()
{
    const QByteArray text = FMountTable.text();
    TSysfsLook look(FSysfs, FBlockClass);
    QList<std::pair<QString, TDriveInfo>> found;
    for (const TMount &mount : visibleMounts(text)) {
        const QByteArrayView name = deviceName(mount.source);
        if (name.isEmpty())
            continue;
        const TBlockDevice &device = look.device(name, mount.device);
        if (!device.listed)
            continue;
        const QString point = decodeMountField(mount.point);
        found.append({point, TDriveInfo{rootOf(point), device.type, device.identity}});
    }
    std::sort(found.begin(), found.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    QList<TDriveInfo> result;
    result.reserve(found.size());
    for (const auto &drive : found)
        result.append(drive.second);
    return result;
}

std::unique_ptr<IDriveList> makeSystemDriveList()
{
    return std::make_unique<TSystemDriveList>();
}
