#include "platform/DriveList.h"
#include "platform/FolderDriveList.h"
#include "support/TestSystem.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// Restores QV58LINK_DRIVES as the test harness set it.
class DrivesVariable
{
public:
    DrivesVariable()
        : FWasSet(qEnvironmentVariableIsSet("QV58LINK_DRIVES"))
        , FValue(qgetenv("QV58LINK_DRIVES"))
    {
    }
    ~DrivesVariable()
    {
        if (FWasSet)
            qputenv("QV58LINK_DRIVES", FValue);
        else
            qunsetenv("QV58LINK_DRIVES");
    }

private:
    bool FWasSet;
    QByteArray FValue;
};

} // namespace

TEST(FolderDriveList, FoldersAreRemovableDrivesWhileTheyExist)
{
    QTemporaryDir base;
    QDir(base.path()).mkpath(QStringLiteral("b"));
    QDir(base.path()).mkpath(QStringLiteral("a"));
    const QString a = base.filePath(QStringLiteral("a")) + u'/';
    const QString b = base.filePath(QStringLiteral("b")) + u'/';
    const QString gone = base.filePath(QStringLiteral("gone")) + u'/';

    // Given order kept, slashes added, empty entries skipped.
    const QChar sep = QDir::listSeparator();
    TFolderDriveList drives(base.filePath(QStringLiteral("b")) + sep + sep + gone + sep + a);
    EXPECT_EQ(drives.logicalDrives(), (QStringList{b, a}));
    // A folder stays the same drive for as long as it is that folder.
    EXPECT_EQ(drives.drives().first(), (TDriveInfo{b, TDriveType::Removable, b}));
    EXPECT_EQ(drives.driveType(a), TDriveType::Removable);
    EXPECT_EQ(drives.driveType(gone), TDriveType::NoRootDir);
    EXPECT_EQ(drives.driveType(base.path() + u'/'), TDriveType::NoRootDir);

    QDir(base.path()).mkpath(QStringLiteral("gone"));
    EXPECT_EQ(drives.logicalDrives(), (QStringList{b, gone, a}));
    ASSERT_TRUE(QDir(a).removeRecursively());
    EXPECT_EQ(drives.logicalDrives(), (QStringList{b, gone}));
    EXPECT_EQ(drives.driveType(a), TDriveType::NoRootDir);
}

TEST(FolderDriveList, RelativeFoldersBecomeAbsoluteRoots)
{
    QTemporaryDir base;
    const QString saved = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(base.path()));
    const QString expected = QDir::currentPath() + QStringLiteral("/probe/");
    QDir().mkpath(QStringLiteral("probe"));
    TFolderDriveList drives(QStringLiteral("probe/../probe"));
    QDir::setCurrent(saved);
    EXPECT_EQ(drives.logicalDrives(), QStringList{expected});
}

TEST(DriveListChoice, VariableReplacesTheSystemListAndIsReadOnEveryCall)
{
    DrivesVariable restore;
    QTemporaryDir base;
    const QString probe = base.path() + u'/';

    qputenv("QV58LINK_DRIVES", QFile::encodeName(base.path()));
    EXPECT_EQ(driveList().logicalDrives(), QStringList{probe});
    EXPECT_EQ(driveList().driveType(probe), TDriveType::Removable);

    // Set but empty: no drives at all, never the machine's own.
    setEmptyList("QV58LINK_DRIVES");
    EXPECT_TRUE(driveList().logicalDrives().isEmpty());
    EXPECT_EQ(driveList().driveType(QStringLiteral("/")), TDriveType::NoRootDir);

    qunsetenv("QV58LINK_DRIVES");
    // Unset: the system's own list.
    EXPECT_EQ(dynamic_cast<TFolderDriveList *>(&driveList()), nullptr);
}

TEST(DriveListChoice, InstalledListWinsOverTheVariable)
{
    DrivesVariable restore;
    setEmptyList("QV58LINK_DRIVES");
    QTemporaryDir base;
    TFolderDriveList fixture(base.path());
    setDriveList(&fixture);
    EXPECT_EQ(&driveList(), &fixture);
    EXPECT_EQ(driveList().logicalDrives(), QStringList{base.path() + u'/'});
    setDriveList(nullptr);
    EXPECT_TRUE(driveList().logicalDrives().isEmpty());
}
