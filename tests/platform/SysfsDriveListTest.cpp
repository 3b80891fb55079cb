// The system's drive list over sysfs trees laid out as the kernel lays them
// out: which disks count as removable, and how a drive is recognised again
// after its device went away and came back.

#include "SysfsTree.h"

#include "platform/linux/SystemDriveList.h"
#include "support/TestSystem.h"

#include <QDir>

#include <gtest/gtest.h>
#include <ostream>

inline void PrintTo(const TDriveInfo &drive, std::ostream *os)
{
    *os << "{" << drive.root.toStdString() << ", type " << int(drive.type) << ", \"" << drive.identity.toStdString()
        << "\"}";
}

namespace {

// The drive listed at root, or a drive of type NoRootDir when there is none.
TDriveInfo driveAt(const QList<TDriveInfo> &drives, const QString &root)
{
    for (const TDriveInfo &drive : drives) {
        if (drive.root == root)
            return drive;
    }
    return TDriveInfo{root, TDriveType::NoRootDir, QString()};
}

const QString xhci = QStringLiteral("pci0000:00/0000:00:14.0");

// The folder of a USB mass-storage disk: the USB device at port, its first
// interface, then the SCSI host, target and unit the storage driver adds.
QString usbStorage(const QString &bus, const QString &port, int host)
{
    QString chain;
    QString device;
    for (const QString &hop : port.split(u'.')) {
        device = device.isEmpty() ? bus + u'-' + hop : device + u'.' + hop;
        chain += u'/' + device;
    }
    return QStringLiteral("%1/usb%2%3/%4:1.0/host%5/target%5:0:0/%5:0:0:0/block")
        .arg(xhci, bus, chain, device)
        .arg(host);
}

} // namespace

TEST(SysfsDriveList, UsbAndMmcDisksAreRemovableWhateverTheirFlagInternalDisksNever)
{
    const struct
    {
        const char *what;
        QString parent;
        QString disk;
        QByteArray removable;
        QStringList partitions; // the last one is mounted; the disk itself when none
        TDriveType type;
        QString identity;
    } cases[] = {
        {"USB stick with flag 0, partitioned", usbStorage("1", "3", 6), "sdb", "0", {"sdb1"}, TDriveType::Removable,
         "1-3"},
        {"USB stick with flag 0, no partitions", usbStorage("2", "1", 7), "sdc", "0", {}, TDriveType::Removable, "2-1"},
        {"USB disk behind a hub", usbStorage("1", "4.2", 8), "sdd", "0", {"sdd1", "sdd2"}, TDriveType::Removable,
         "1-4.2"},
        {"USB disk behind two hubs", usbStorage("3", "1.3.1", 9), "sde", "0", {"sde1"}, TDriveType::Removable,
         "3-1.3.1"},
        {"USB stick with flag 1", usbStorage("1", "5", 10), "sdf", "1", {"sdf1"}, TDriveType::Removable, "1-5"},
        {"MMC card in a PCI card reader",
         "pci0000:00/0000:00:1c.0/0000:02:00.0/rtsx_pci_sdmmc.0/mmc_host/mmc0/mmc0:aaaa/block", "mmcblk0", "0",
         {"mmcblk0p1"}, TDriveType::Removable,
         "devices/pci0000:00/0000:00:1c.0/0000:02:00.0/rtsx_pci_sdmmc.0/mmc_host/mmc0/mmc0:aaaa/block/mmcblk0"},
        {"ATA disk", "pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0/block", "sda", "0", {"sda1", "sda2"},
         TDriveType::Fixed, "devices/pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0/block/sda"},
        {"ATA drive whose medium can change", "pci0000:00/0000:00:17.0/ata2/host1/target1:0:0/1:0:0:0/block", "sr0",
         "1", {}, TDriveType::Removable, "devices/pci0000:00/0000:00:17.0/ata2/host1/target1:0:0/1:0:0:0/block/sr0"},
        {"NVMe disk", "pci0000:00/0000:00:1d.0/0000:3d:00.0/nvme/nvme0", "nvme0n1", "0", {"nvme0n1p1", "nvme0n1p2"},
         TDriveType::Fixed, "devices/pci0000:00/0000:00:1d.0/0000:3d:00.0/nvme/nvme0/nvme0n1"},
        {"virtio disk", "pci0000:00/0000:00:05.0/virtio2/block", "vda", "0", {}, TDriveType::Fixed,
         "devices/pci0000:00/0000:00:05.0/virtio2/block/vda"},
        {"SCSI disk not on USB", "pci0000:00/0000:00:04.0/virtio1/host2/target2:0:0/2:0:0:0/block", "sdg", "0",
         {"sdg1"}, TDriveType::Fixed, "devices/pci0000:00/0000:00:04.0/virtio1/host2/target2:0:0/2:0:0:0/block/sdg"},
        {"loop device", "virtual/block", "loop3", "0", {}, TDriveType::Fixed, "devices/virtual/block/loop3"},
    };

    TSysfsTree tree;
    for (const auto &c : cases) {
        tree.plug(c.parent, c.disk, c.removable, c.partitions);
        const QString device = c.partitions.isEmpty() ? c.disk : c.partitions.last();
        tree.mount(QStringLiteral("/dev/") + device, QStringLiteral("/media/") + device);
    }
    TSystemDriveList list(tree.root());
    const QList<TDriveInfo> drives = list.drives();
    EXPECT_EQ(drives.size(), std::size(cases));
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const QString device = c.partitions.isEmpty() ? c.disk : c.partitions.last();
        const QString root = tree.driveRoot(QStringLiteral("/media/") + device);
        EXPECT_EQ(driveAt(drives, root), (TDriveInfo{root, c.type, c.identity}));
        EXPECT_EQ(list.driveType(root), c.type);
        // A disk nobody mounted reads the same; every partition is its disk.
        const QStringList names = QStringList(c.partitions) << c.disk;
        for (const QString &name : names) {
            const TSystemDriveList::TBlockDevice unmounted = list.blockDevice(name);
            EXPECT_TRUE(unmounted.listed) << qPrintable(name);
            EXPECT_EQ(unmounted.type, c.type) << qPrintable(name);
            EXPECT_EQ(unmounted.identity, c.identity) << qPrintable(name);
        }
    }
    EXPECT_FALSE(list.blockDevice(QStringLiteral("sdz")).listed);
    EXPECT_FALSE(list.blockDevice(QStringLiteral("..")).listed);
}

TEST(SysfsDriveList, BindMountsOfOneDiskAreOneDiskEach)
{
    // Containers mount folders of the root disk many times over; each mount
    // point is a drive of that disk.
    TSysfsTree tree;
    tree.plug(QStringLiteral("pci0000:00/0000:00:1d.0/0000:3d:00.0/nvme/nvme0"), QStringLiteral("nvme0n1"), "0",
              {QStringLiteral("nvme0n1p2")});
    tree.plug(usbStorage("1", "2", 3), QStringLiteral("sdb"), "0");
    tree.mount(QStringLiteral("/dev/nvme0n1p2"), QStringLiteral("/"), QStringLiteral("ext4"));
    tree.mount(QStringLiteral("/dev/nvme0n1p2"), QStringLiteral("/var/lib/kubelet/pods/a/volumes"));
    tree.mount(QStringLiteral("/dev/sdb"), QStringLiteral("/media/user/STICK"));
    tree.mount(QStringLiteral("/dev/nvme0n1p2"), QStringLiteral("/var/lib/docker/volumes/b"));
    const QString disk = QStringLiteral("devices/pci0000:00/0000:00:1d.0/0000:3d:00.0/nvme/nvme0/nvme0n1");
    const QList<TDriveInfo> expected{
        {tree.driveRoot(QStringLiteral("/")), TDriveType::Fixed, disk},
        {tree.driveRoot(QStringLiteral("/media/user/STICK")), TDriveType::Removable, QStringLiteral("1-2")},
        {tree.driveRoot(QStringLiteral("/var/lib/docker/volumes/b")), TDriveType::Fixed, disk},
        {tree.driveRoot(QStringLiteral("/var/lib/kubelet/pods/a/volumes")), TDriveType::Fixed, disk},
    };
    EXPECT_EQ(TSystemDriveList(tree.root()).drives(), expected);
}

TEST(SysfsDriveList, MountLinesWithAnyNumberOfOptionalFields)
{
    TSysfsTree tree;
    tree.plug(usbStorage("1", "2", 3), QStringLiteral("sdb"), "0", {QStringLiteral("sdb1"), QStringLiteral("sdb2")});
    tree.plug(usbStorage("1", "3", 4), QStringLiteral("sdc"), "0");
    for (const char *folder : {"media/a - b", "media/none", "media/two"})
        QDir(tree.root()).mkpath(QString::fromUtf8(folder));
    // Optional fields between the options and the "-": none, one, two; a
    // mount point holding " - " itself, written escaped as the kernel does.
    ASSERT_TRUE(tree.write(QStringLiteral("proc/self/mountinfo"),
                           "30 1 8:17 / /media/none rw,relatime - vfat /dev/sdb1 rw\n"
                           "31 1 8:18 / /media/two rw shared:5 master:2 - vfat /dev/sdb2 rw,uid=1000\n"
                           "32 1 8:32 / /media/a\\040-\\040b rw shared:6 - vfat /dev/sdc rw\n"));
    const QList<TDriveInfo> expected{
        {tree.driveRoot(QStringLiteral("/media/a - b")), TDriveType::Removable, QStringLiteral("1-3")},
        {tree.driveRoot(QStringLiteral("/media/none")), TDriveType::Removable, QStringLiteral("1-2")},
        {tree.driveRoot(QStringLiteral("/media/two")), TDriveType::Removable, QStringLiteral("1-2")},
    };
    EXPECT_EQ(TSystemDriveList(tree.root()).drives(), expected);
}

// A probe restarts: its block device goes away and a new one comes, with
// another name and perhaps another mount point. Only its place on the USB
// tree tells it apart from the other probes plugged in.
class ProbeRestart : public ::testing::TestWithParam<bool>
{
protected:
    // A probe's disk at port, mounted at mountPoint; its partition is mounted
    // when the probe's medium is partitioned.
    QString plugProbe(const QString &port, const QString &disk, int host, const QString &mountPoint)
    {
        const bool partitioned = GetParam();
        const QString bus = port.section(u'-', 0, 0);
        const QString ports = port.section(u'-', 1);
        FTree.plug(usbStorage(bus, ports, host), disk, "0",
                   partitioned ? QStringList{disk + u'1'} : QStringList());
        FTree.mount(QStringLiteral("/dev/") + disk + (partitioned ? QStringLiteral("1") : QString()), mountPoint);
        return FTree.driveRoot(mountPoint);
    }

    void unplugProbe(const QString &disk, const QString &mountPoint)
    {
        FTree.unmount(mountPoint);
        FTree.unplug(disk);
    }

    TDriveInfo drive(const QString &root) { return driveAt(TSystemDriveList(FTree.root()).drives(), root); }

    TSysfsTree FTree;
};

TEST_P(ProbeRestart, SamePortSameIdentityOtherPortOtherIdentity)
{
    const QString first =
        plugProbe(QStringLiteral("1-3.2"), QStringLiteral("sdb"), 6, QStringLiteral("/media/user/QV58-LINK"));
    const QString second =
        plugProbe(QStringLiteral("1-3.3"), QStringLiteral("sdc"), 7, QStringLiteral("/media/user/QV58-LINK1"));
    const TDriveInfo firstBefore = drive(first);
    const TDriveInfo secondBefore = drive(second);
    EXPECT_EQ(firstBefore.type, TDriveType::Removable);
    EXPECT_EQ(firstBefore.identity, QStringLiteral("1-3.2"));
    EXPECT_EQ(secondBefore.identity, QStringLiteral("1-3.3"));

    // The first probe restarts: gone, then back on its port as sdd, mounted elsewhere.
    unplugProbe(QStringLiteral("sdb"), QStringLiteral("/media/user/QV58-LINK"));
    EXPECT_EQ(drive(first).type, TDriveType::NoRootDir);
    const QString back =
        plugProbe(QStringLiteral("1-3.2"), QStringLiteral("sdd"), 8, QStringLiteral("/media/user/QV58-LINK2"));
    EXPECT_NE(back, first);
    EXPECT_EQ(drive(back).identity, firstBefore.identity);
    EXPECT_EQ(drive(second), secondBefore);

    // The second probe restarts and comes back on another port, under the
    // block device name and mount point the first one had: it is no longer
    // the second probe, and never the first.
    unplugProbe(QStringLiteral("sdc"), QStringLiteral("/media/user/QV58-LINK1"));
    unplugProbe(QStringLiteral("sdd"), QStringLiteral("/media/user/QV58-LINK2"));
    const QString moved =
        plugProbe(QStringLiteral("2-1"), QStringLiteral("sdb"), 9, QStringLiteral("/media/user/QV58-LINK"));
    EXPECT_EQ(moved, first);
    const TDriveInfo movedDrive = drive(moved);
    EXPECT_EQ(movedDrive.type, TDriveType::Removable);
    EXPECT_EQ(movedDrive.identity, QStringLiteral("2-1"));
    EXPECT_NE(movedDrive.identity, firstBefore.identity);
    EXPECT_NE(movedDrive.identity, secondBefore.identity);
}

INSTANTIATE_TEST_SUITE_P(Media, ProbeRestart, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool> &info) {
                             return info.param ? "Partitioned" : "WholeDisk";
                         });
