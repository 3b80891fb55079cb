#pragma once

#include <QString>
#include <QStringList>

// The kinds of drive the tool tells apart; only Removable can hold the probe.
enum class TDriveType { Unknown, NoRootDir, Removable, Fixed, Remote, CDRom, RamDisk };

// The drives the host offers. A root always ends with "/", so "root followed
// by name" is the path of a file in the drive's root folder.
class IDriveList
{
public:
    virtual ~IDriveList() = default;
    virtual QStringList logicalDrives() = 0;
    // NoRootDir for a root that is not (or no longer) a drive.
    virtual TDriveType driveType(const QString &root) = 0;
};

// The mounted block devices, read from <systemRoot>/proc/self/mountinfo and
// <systemRoot>/sys/class/block on every call. The roots are the mount points
// seen under systemRoot, in ascending order, so a fixture tree can stand in
// for the whole machine.
class TSystemDriveList final : public IDriveList
{
public:
    explicit TSystemDriveList(const QString &systemRoot = QStringLiteral("/"));

    QStringList logicalDrives() override;
    TDriveType driveType(const QString &root) override;

private:
    struct TMount
    {
        QString mountPoint;
        QString source;
        QString fsType;
    };

    QList<TMount> visibleMounts() const;
    QString wholeDiskOf(const QString &source) const;
    QString rootOf(const QString &mountPoint) const;

    QString FSystemRoot;
};

// Folders standing in for drives, written as QV58LINK_DRIVES is: paths
// separated by ":". Each is a removable drive while its folder exists, so a
// simulated probe "unplugs" by removing its folder.
class TFolderDriveList final : public IDriveList
{
public:
    explicit TFolderDriveList(const QString &folders = QString());

    QStringList logicalDrives() override;
    TDriveType driveType(const QString &root) override;

private:
    QStringList FRoots;
};

// Decodes the octal escapes (\040 for a blank) the kernel writes in mount points.
QString decodeMountField(const QByteArray &field);

// The drive list the tool uses: a list installed by setDriveList, else the
// folders of QV58LINK_DRIVES whenever that variable is set (read afresh on
// each call; set but empty means no drives at all), else the system's drives.
IDriveList &driveList();
// Installs a drive list (nullptr removes it). The caller keeps ownership.
void setDriveList(IDriveList *list);
