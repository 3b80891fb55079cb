#pragma once

#include "platform/DriveList.h"
#include "platform/linux/MountTable.h"
#include "platform/linux/SysfsBlock.h"

#include <memory>

class TUDisks2Automounter;

// The mounted block devices, read from <systemRoot>/proc/self/mountinfo and
// <systemRoot>/sys/class/block on every call. The roots are the mount points
// seen under systemRoot, in ascending order, so a fixture tree can stand in
// for the whole machine.
//
// The kernel writes its mount table afresh on every read, at a cost that
// grows with its lines. So when the table is the kernel's own, the list keeps
// it open and reads it again only when the kernel reports a change (a mount
// or an unmount in the process's mount namespace): every call still sees the
// table as it is. A fixture's table, an ordinary file, is read on every call.
//
// A disk is removable when its "removable" flag is 1 or when it hangs off a
// USB or MMC bus (a hotplug disk): many USB sticks, and the probe, say 0,
// since the flag only tells whether the medium can change. ATA, NVMe, virtio
// and other internal disks stay fixed, as do loop devices, device mapper and
// the other virtual block devices, whose flag is not read.
//
// A disk on USB is identified by its port path, the name of the USB device
// above it ("1-3.2": bus 1, port 3, port 2 of the hub there), which survives
// a restart that brings the probe back as another block device at another
// mount point. Any other disk is identified by its device path below sys
// ("devices/pci0000:00/…/block/sda"). All partitions of one disk share its
// type and identity.
//
// The machine's own list ("/") mounts candidates through UDisks2 on the
// system bus; a fixture tree mounts nothing unless it is given an
// automounter, whose mount points then count as lying under the tree.
class TSystemDriveList final : public IDriveList
{
public:
    explicit TSystemDriveList(const QString &systemRoot = QStringLiteral("/"));
    TSystemDriveList(const QString &systemRoot, std::shared_ptr<TUDisks2Automounter> automounter);
    ~TSystemDriveList() override;
    TSystemDriveList(const TSystemDriveList &) = delete;
    TSystemDriveList &operator=(const TSystemDriveList &) = delete;

    QList<TDriveInfo> drives() override;
    void mountCandidates(const std::function<bool(const QString &root)> &holdsProbe) override;
    // Also names the mounts that are no drives: shares, RAM disks.
    TDriveType driveType(const QString &root) override;

    // What sysfs tells of one block device by its kernel name, mounted or not.
    using TBlockDevice = ::TBlockDevice;
    TBlockDevice blockDevice(const QString &name) const;

private:
    QString rootOf(const QString &mountPoint) const;
    TDriveType typeOf(const TMount &mount, TSysfsLook &look) const;

    std::shared_ptr<TUDisks2Automounter> FAutomounter;
    QString FRootBase;      // systemRoot without trailing "/"
    QByteArray FBlockClass; // <systemRoot>/sys/class/block
    QByteArray FSysfs;      // <systemRoot>/sys
    TMountTable FMountTable;
};
