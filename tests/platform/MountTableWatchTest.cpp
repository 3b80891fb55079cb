// The machine's own mount table is kept open and read again only when the
// kernel reports a change; a look must still see every mount and unmount.
// Runs in a mount namespace of its own, so it needs root and touches nothing
// outside this process; it is its own executable for that reason.

#include "platform/linux/SystemDriveList.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

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

TEST(KernelMountTable, LooksFromSeveralThreadsAtOnceShareTheOpenTable)
{
    // Private, so mounts elsewhere on the machine do not change the table here.
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        GTEST_SKIP() << "needs a mount namespace of its own (root)";
    QTemporaryDir base;
    const QString churn = base.filePath(QStringLiteral("churn"));
    QDir(base.path()).mkpath(QStringLiteral("churn"));
    TSystemDriveList drives;
    const QList<TDriveInfo> expected = drives.drives();
    const QString root = base.path() + u'/';

    constexpr int threads = 4;
    constexpr int looks = 500;
    std::vector<int> agreed(threads, 0);
    std::vector<std::thread> lookers;
    for (int t = 0; t < threads; ++t) {
        lookers.emplace_back([&, t] {
            for (int i = 0; i < looks; ++i) {
                // The table keeps changing, though not where the looks look,
                // so they re-read it while others read the copy they share.
                if (t == 0) {
                    mountRamDisk(churn);
                    unmount(churn);
                }
                agreed[t] += drives.drives() == expected && drives.driveType(root) == TDriveType::NoRootDir;
            }
        });
    }
    for (std::thread &looker : lookers)
        looker.join();
    for (int t = 0; t < threads; ++t)
        EXPECT_EQ(agreed[t], looks) << "thread " << t;
}
