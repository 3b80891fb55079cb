#pragma once

#include <QByteArrayView>
#include <QList>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class TUDisks2Automounter;

// The kinds of drive the tool tells apart; only Removable can hold the probe.
enum class TDriveType { Unknown, NoRootDir, Removable, Fixed, Remote, CDRom, RamDisk };

// One drive as the host shows it at one moment. The identity names where the
// device sits rather than where it is mounted: a probe that restarts comes
// back as a new device, perhaps at another mount point, but on the same USB
// port. Empty when the layer cannot tell.
struct TDriveInfo
{
    QString root;
    TDriveType type = TDriveType::Unknown;
    QString identity;

    bool operator==(const TDriveInfo &) const = default;
};

// The drives the host offers. A root always ends with "/", so "root followed
// by name" is the path of a file in the drive's root folder. Implementations
// are safe to call from several threads at once.
class IDriveList
{
public:
    virtual ~IDriveList() = default;

    // One consistent look at every drive, in listing order.
    virtual QList<TDriveInfo> drives() = 0;

    // Lets the layer mount devices that could be a probe but that nobody has
    // mounted. A root it mounts is kept when holdsProbe(root) is true and
    // unmounted again otherwise. Does nothing where the layer cannot mount.
    virtual void mountCandidates(const std::function<bool(const QString &root)> &holdsProbe)
    {
        Q_UNUSED(holdsProbe);
    }

    // The roots of drives(), and the type of one root (NoRootDir for a root
    // that is not, or no longer, a drive): each call is a fresh look.
    QStringList logicalDrives();
    virtual TDriveType driveType(const QString &root);
};

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

    // What sysfs tells of one block device by its kernel name ("sdb1"):
    // whether the kernel lists it, whether its disk is Removable or Fixed,
    // and its identity as drives() gives it.
    struct TBlockDevice
    {
        bool listed = false;
        TDriveType type = TDriveType::Unknown;
        QString identity;
    };
    TBlockDevice blockDevice(const QString &name) const;

private:
    // One line of the mount table, as views into its text.
    struct TMount
    {
        QByteArrayView device; // "major:minor"
        QByteArrayView point;
        QByteArrayView source;
        QByteArrayView fsType;
    };
    class TLook;

    QByteArray mountTable() const;
    static QList<TMount> visibleMounts(const QByteArray &text);
    QString rootOf(const QString &mountPoint) const;
    TDriveType typeOf(const TMount &mount, TLook &look) const;

    QString FSystemRoot;
    std::shared_ptr<TUDisks2Automounter> FAutomounter;
    QString FRootBase;       // systemRoot without trailing "/"
    QByteArray FBlockClass;  // <systemRoot>/sys/class/block
    QByteArray FSysfs;       // <systemRoot>/sys
    QByteArray FMountTable;  // <systemRoot>/proc/self/mountinfo

    // The kernel's table as last read, kept open to be told of changes.
    mutable QMutex FTableLock;
    mutable int FTableFile = -1;
    mutable QByteArray FTableText;
};

// Folders standing in for drives, written as QV58LINK_DRIVES is: paths
// separated by ":". Each is a removable drive while its folder exists, so a
// simulated probe "unplugs" by removing its folder; its identity is the folder.
class TFolderDriveList final : public IDriveList
{
public:
    explicit TFolderDriveList(const QString &folders = QString());

    QList<TDriveInfo> drives() override;

private:
    QStringList FRoots;
};

// Decodes the octal escapes (\040 for a blank) the kernel writes in mount points.
QString decodeMountField(QByteArrayView field);

// The drive list the tool uses: a list installed by setDriveList, else the
// folders of QV58LINK_DRIVES whenever that variable is set (read afresh on
// each look; set but empty means no drives at all), else the system's drives.
IDriveList &driveList();
// Installs a drive list (nullptr removes it). The caller keeps ownership.
void setDriveList(IDriveList *list);
