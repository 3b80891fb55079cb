#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A machine's mount table and block devices in a temporary folder, laid out
// as the kernel lays them out: proc/self/mountinfo, the devices' folders
// below sys/devices and relative links to them in sys/class/block, so that
// TSystemDriveList(root()) sees the machine. Plugging and mounting change the
// tree at once, as a restarting probe changes a real one.
class TSysfsTree
{
public:
    TSysfsTree();

    // The tree's own root, without a trailing slash.
    QString root() const { return FDir.path(); }
    // The drive root a mount point gets in the list: root() + mountPoint + "/".
    QString driveRoot(const QString &mountPoint) const;

    // A disk at sys/devices/<parent>/<name> with its removable flag ("0" or
    // "1") and its partitions, named in full ("sdb1"). Mounts of them carry
    // device numbers as the kernel's do: 7:<n> for loop<n>, others in turn.
    void plug(const QString &parent, const QString &name, const QByteArray &removable,
              const QStringList &partitions = {});
    // The disk, its partitions and their class links are gone.
    void unplug(const QString &name);

    // A line of the mount table; the mount point's folder is made in the tree.
    void mount(const QString &source, const QString &mountPoint, const QString &fsType = QStringLiteral("vfat"),
               const QByteArray &superOptions = "rw");
    void unmount(const QString &mountPoint);

    // A file in the tree, its folders made as needed; false when it could not be written.
    bool write(const QString &path, const QByteArray &bytes = QByteArray());

private:
    struct TLine
    {
        QString source;
        QString mountPoint;
        QString fsType;
        QByteArray superOptions;
        int id;
    };

    bool link(const QString &target, const QString &linkPath);
    void writeMountTable();

    QTemporaryDir FDir;
    QList<TLine> FLines;
    QStringList FDevicePaths; // "<name>=<folder>" of each plugged disk
    QHash<QString, QByteArray> FNumbers; // device numbers by block device name
    int FNextMinor = 0;
    int FNextId = 20;
};
