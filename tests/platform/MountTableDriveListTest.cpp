// The system's drive list over a fixture machine's /proc and /sys: what is
// mounted, in which order, and which disks count as removable.
#include "platform/linux/MountTable.h"
#include "platform/linux/SystemDriveList.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const QString machine = QStringLiteral(QV58_FIXTURES_DIR "/drives");

QString root(const QString &mountPoint)
{
    return mountPoint == u"/" ? machine + u'/' : machine + mountPoint + u'/';
}

} // namespace

TEST(SystemDriveList, ListsMountedBlockDevicesInMountPointOrder)
{
    TSystemDriveList drives(machine);
    // Not listed: proc, sysfs, tmpfs and nfs (no block device), the stick
    // covered by a tmpfs at the same point, and a source the kernel does not
    // list as a block device.
    const QStringList expected{root("/"),
                               root("/data"),
                               root("/media/user/CARD"),
                               root("/media/user/FOLDER"),
                               root("/media/user/QV58 PROBE"),
                               root("/media/user/STICK"),
                               root("/media/user/ZPROBE"),
                               root("/snap/core/1")};
    EXPECT_EQ(drives.logicalDrives(), expected);
}

TEST(SystemDriveList, TypeComesFromTheWholeDisksRemovableFlag)
{
    TSystemDriveList drives(machine);
    const struct
    {
        const char *mountPoint;
        TDriveType type;
    } cases[] = {
        {"/", TDriveType::Fixed},
        {"/data", TDriveType::Fixed},
        {"/snap/core/1", TDriveType::Fixed},
        {"/media/user/STICK", TDriveType::Removable},      // partition sdb1 of sdb, through the class link
        {"/media/user/QV58 PROBE", TDriveType::Removable}, // a whole disk without partitions
        {"/media/user/CARD", TDriveType::Removable},       // mmcblk0p1, sysfs written without links
        {"/media/user/HIDDEN", TDriveType::RamDisk},       // the tmpfs on top is what is reachable
        {"/mnt/share", TDriveType::Remote},
        {"/run", TDriveType::RamDisk},
        {"/media/user/GHOST", TDriveType::Unknown},
        {"/media/user/NONE", TDriveType::NoRootDir},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.mountPoint);
        EXPECT_EQ(drives.driveType(root(QString::fromUtf8(c.mountPoint))), c.type);
    }
    // The root must be given as listed, with its trailing slash.
    EXPECT_EQ(drives.driveType(machine + QStringLiteral("/media/user/STICK")), TDriveType::NoRootDir);
}

TEST(SystemDriveList, MissingOrEmptyProcGivesNoDrives)
{
    QTemporaryDir empty;
    TSystemDriveList drives(empty.path());
    EXPECT_TRUE(drives.logicalDrives().isEmpty());
    EXPECT_EQ(drives.driveType(empty.path() + u'/'), TDriveType::NoRootDir);

    QDir(empty.path()).mkpath(QStringLiteral("proc/self"));
    QFile garbage(empty.filePath(QStringLiteral("proc/self/mountinfo")));
    ASSERT_TRUE(garbage.open(QIODevice::WriteOnly));
    garbage.write("not a mount line\n\n1 2 3\n22 1 8:2 / / rw - ext4\n");
    garbage.close();
    EXPECT_TRUE(drives.logicalDrives().isEmpty());
}

TEST(SystemDriveList, DecodesOctalEscapesOfMountPoints)
{
    const struct
    {
        QByteArray field;
        QString decoded;
    } cases[] = {
        {"/media/QV58\\040PROBE", QStringLiteral("/media/QV58 PROBE")},
        {"/a\\011b\\012c", QStringLiteral("/a\tb\nc")},
        {"/back\\134slash", QStringLiteral("/back\\slash")},
        {"/trailing\\04", QStringLiteral("/trailing\\04")},
        {"/not\\089octal", QStringLiteral("/not\\089octal")},
        {"/m\xC3\xBCnchen", QStringLiteral("/m\u00FCnchen")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.field.constData());
        EXPECT_EQ(decodeMountField(c.field), c.decoded);
    }
}
