#include "common/FileIO.h"
#include "platform/FileSystem.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// A folder standing in for the probe's drive, with files and folders made on demand.
class Drive : public ::testing::Test
{
protected:
    QString root() const { return FDir.path() + u'/'; }
    void file(const QString &name, const QByteArray &data = "x") { writeWholeFile(root() + name, data); }
    void folder(const QString &name) { QDir(FDir.path()).mkpath(name); }
    QStringList entries() const
    {
        return QDir(FDir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    }

    QTemporaryDir FDir;
};

} // namespace

TEST_F(Drive, FileIsFoundInAnyLetterCase)
{
    file(QStringLiteral("details.TXT"));
    file(QStringLiteral("FAIL.TXT"));
    for (const char *name : {"DETAILS.txt", "DETAILS.Txt", "details.txt", "Details.TXT", "Fail.txt", "fail.txt"}) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(fileExists(root() + QString::fromUtf8(name)));
    }
    for (const char *name : {"DETAILS.tx", "DETAILS.txt ", "upgrade.Hex", ""}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(fileExists(root() + QString::fromUtf8(name)));
    }
}

TEST_F(Drive, FolderIsNotAFile)
{
    folder(QStringLiteral("DETAILS.txt"));
    EXPECT_FALSE(fileExists(root() + QStringLiteral("DETAILS.txt")));
    EXPECT_FALSE(fileExists(root() + QStringLiteral("details.txt")));
    EXPECT_FALSE(fileExists(FDir.path()));

    // A file beside it that differs only in case still counts.
    file(QStringLiteral("Details.txt"));
    EXPECT_TRUE(fileExists(root() + QStringLiteral("DETAILS.txt")));
}

TEST_F(Drive, VanishedOrMissingFolderGivesFalse)
{
    const QString gone = root() + QStringLiteral("gone/");
    folder(QStringLiteral("gone"));
    writeWholeFile(gone + QStringLiteral("DETAILS.txt"), "x");
    ASSERT_TRUE(fileExists(gone + QStringLiteral("details.txt")));
    ASSERT_TRUE(QDir(gone).removeRecursively());
    EXPECT_FALSE(fileExists(gone + QStringLiteral("DETAILS.txt")));
    EXPECT_FALSE(fileExists(gone + QStringLiteral("details.txt")));
    EXPECT_FALSE(fileExists(QStringLiteral("/no/such/folder/DETAILS.txt")));
    // The parent is a file, not a folder.
    file(QStringLiteral("plain"));
    EXPECT_FALSE(fileExists(root() + QStringLiteral("plain/DETAILS.txt")));
}

TEST_F(Drive, DanglingLinkIsNoFile)
{
    ASSERT_TRUE(QFile::link(root() + QStringLiteral("nowhere"), root() + QStringLiteral("DETAILS.txt")));
    EXPECT_FALSE(fileExists(root() + QStringLiteral("details.txt")));
    EXPECT_FALSE(fileExists(root() + QStringLiteral("DETAILS.txt")));
}

TEST_F(Drive, PathInRootUsesTheExistingSpelling)
{
    EXPECT_EQ(pathInRoot(root(), QStringLiteral("upgrade.Hex")), root() + QStringLiteral("upgrade.Hex"));

    file(QStringLiteral("UPGRADE.HEX"));
    EXPECT_EQ(pathInRoot(root(), QStringLiteral("upgrade.Hex")), root() + QStringLiteral("UPGRADE.HEX"));

    // Two spellings can only coexist here, not on the probe: the exact one wins.
    file(QStringLiteral("upgrade.Hex"));
    EXPECT_EQ(pathInRoot(root(), QStringLiteral("upgrade.Hex")), root() + QStringLiteral("upgrade.Hex"));

    // A folder of that name is not taken for the file.
    folder(QStringLiteral("start_bl.act"));
    EXPECT_EQ(pathInRoot(root(), QStringLiteral("START_BL.ACT")), root() + QStringLiteral("START_BL.ACT"));

    EXPECT_EQ(existingPath(root() + QStringLiteral("Upgrade.hex")), root() + QStringLiteral("UPGRADE.HEX"));
}

TEST_F(Drive, WritingThroughPathInRootReplacesRatherThanAddsAFile)
{
    file(QStringLiteral("UPGRADE.HEX"), "old image");
    writeWholeFile(pathInRoot(root(), QStringLiteral("upgrade.Hex")), "new");
    EXPECT_EQ(entries(), QStringList{QStringLiteral("UPGRADE.HEX")});
    EXPECT_EQ(readWholeFile(root() + QStringLiteral("UPGRADE.HEX")), QByteArray("new"));
}

TEST_F(Drive, OnlyAsciiLettersFoldTogether)
{
    file(QStringLiteral("\u00E4tails.txt"));
    EXPECT_FALSE(fileExists(root() + QStringLiteral("\u00C4TAILS.txt")));
    EXPECT_TRUE(fileExists(root() + QStringLiteral("\u00E4TAILS.TXT")));
}
