// The machine's own mount table is kept open and read again only when the
// kernel reports a change; a look must still see every mount and unmount.
// Runs in a mount namespace of its own, so it needs root and touches nothing
// outside this process; it is its own executable for that reason.

#include "platform/DriveList.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sched.h>
#include <sys/mount.h>

namespace {

bool mountRamDisk(const QString &folder)
{
    return ::mount("qv58-test", QFile::encodeName(folder).constData(), "tmpfs", 0, "size=4k") == 0;
}

void unmount(const QString &folder)
{
    ::umount2(QFile::encodeName(folder).constData(), MNT_DETACH);
}

} // namespace

TEST(KernelMountTable, EveryLookSeesTheMountsAsTheyAreNow)
{
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        GTEST_SKIP() << "needs a mount namespace of its own (root)";
    QTemporaryDir base;
    const QString a = base.filePath(QStringLiteral("a"));
    const QString b = base.filePath(QStringLiteral("b"));
    QDir(base.path()).mkpath(QStringLiteral("a"));
    QDir(base.path()).mkpath(QStringLiteral("b"));

    TSystemDriveList drives;
    const QStringList before = drives.logicalDrives();
    EXPECT_EQ(drives.driveType(a + u'/'), TDriveType::NoRootDir);

    // Mounts and unmounts in a row, each seen by the next look, also when
    // several come between two looks or a look comes twice without one.
    ASSERT_TRUE(mountRamDisk(a));
    EXPECT_EQ(drives.driveType(a + u'/'), TDriveType::RamDisk);
    EXPECT_EQ(drives.driveType(a + u'/'), TDriveType::RamDisk);
    ASSERT_TRUE(mountRamDisk(b));
    unmount(a);
    EXPECT_EQ(drives.driveType(a + u'/'), TDriveType::NoRootDir);
    EXPECT_EQ(drives.driveType(b + u'/'), TDriveType::RamDisk);
    unmount(b);
    EXPECT_EQ(drives.driveType(b + u'/'), TDriveType::NoRootDir);
    EXPECT_EQ(drives.logicalDrives(), before);

    // A list made while a mount is in place sees it go.
    ASSERT_TRUE(mountRamDisk(a));
    TSystemDriveList later;
    EXPECT_EQ(later.driveType(a + u'/'), TDriveType::RamDisk);
    unmount(a);
    EXPECT_EQ(later.driveType(a + u'/'), TDriveType::NoRootDir);
}
