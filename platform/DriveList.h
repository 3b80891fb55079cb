#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

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
    // Set where the layer looks for the USB port but cannot find it, and the
    // identity is only the root: a probe that comes back on another root is
    // lost, and another device that takes this root is mistaken for it.
    // Folder drives are not marked: a simulated probe keeps its folder.
    bool portUnknown = false;

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

// The drive list the tool uses: a list installed by setDriveList, else the
// folders of QV58LINK_DRIVES whenever that variable is set (read afresh on
// each look; set but empty means no drives at all), else the system's drives.
IDriveList &driveList();
// Installs a drive list (nullptr removes it). The caller keeps ownership.
void setDriveList(IDriveList *list);
