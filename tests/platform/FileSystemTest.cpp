#include "common/Exceptions.h"
#include "common/FileIO.h"
#include "platform/FileSystem.h"
#include "support/HostileEntries.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <functional>
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

    // A file beside it that differs only in case still counts, where one
    // folder can hold both.
    if (namesAreCaseSensitive()) {
        file(QStringLiteral("Details.txt"));
        EXPECT_TRUE(fileExists(root() + QStringLiteral("DETAILS.txt")));
    }
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
    if (!canMakeSymbolicLinks())
        GTEST_SKIP() << "no symbolic links here";
    ASSERT_TRUE(makeSymbolicLink(root() + QStringLiteral("nowhere"), root() + QStringLiteral("DETAILS.txt")));
    EXPECT_FALSE(fileExists(root() + QStringLiteral("details.txt")));
    EXPECT_FALSE(fileExists(root() + QStringLiteral("DETAILS.txt")));
}

TEST_F(Drive, PathInRootUsesTheExistingSpelling)
{
    EXPECT_EQ(pathInRoot(root(), QStringLiteral("upgrade.Hex")), root() + QStringLiteral("upgrade.Hex"));

    file(QStringLiteral("UPGRADE.HEX"));
    EXPECT_EQ(pathInRoot(root(), QStringLiteral("upgrade.Hex")), root() + QStringLiteral("UPGRADE.HEX"));

    // Two spellings can only coexist here, not on the probe: the exact one wins.
    if (namesAreCaseSensitive()) {
        file(QStringLiteral("upgrade.Hex"));
        EXPECT_EQ(pathInRoot(root(), QStringLiteral("upgrade.Hex")), root() + QStringLiteral("upgrade.Hex"));
    }

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

TEST_F(Drive, LinksAndSpecialFilesAreNeverTakenForFiles)
{
    if (!canMakeSymbolicLinks() || !hasSpecialFiles())
        GTEST_SKIP() << "no symbolic links or FIFOs here";
    const TOutside outside;
    ASSERT_TRUE(makeSymbolicLink(outside.victim(), root() + QStringLiteral("DETAILS.txt")));
    ASSERT_TRUE(makeFifo(root() + QStringLiteral("FAIL.TXT")));
    ASSERT_TRUE(makeSymbolicLink(outside.victim(), root() + QStringLiteral("UPGRADE.HEX")));
    folder(QStringLiteral("start_bl.act"));

    const struct
    {
        const char *asked;
        const char *found; // the entry's own spelling
        TEntryKind kind;
    } cases[] = {
        {"DETAILS.txt", "DETAILS.txt", TEntryKind::Link},
        {"details.TXT", "DETAILS.txt", TEntryKind::Link},
        {"Fail.txt", "FAIL.TXT", TEntryKind::Special},
        {"upgrade.Hex", "UPGRADE.HEX", TEntryKind::Link},
        {"START_BL.ACT", "start_bl.act", TEntryKind::Folder},
        {"notes.txt", "notes.txt", TEntryKind::None},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.asked);
        const QString asked = root() + QString::fromLatin1(c.asked);
        const TDriveEntry entry = findEntry(asked);
        EXPECT_EQ(entry.path, root() + QString::fromLatin1(c.found));
        EXPECT_EQ(entry.kind, c.kind);
        EXPECT_FALSE(fileExists(asked));
        EXPECT_EQ(pathInRoot(root(), QString::fromLatin1(c.asked)), asked);
    }

    // A regular file beside them, differing in case, is the one found.
    file(QStringLiteral("Upgrade.hex"), "image");
    EXPECT_EQ(findEntry(root() + QStringLiteral("upgrade.Hex")).path, root() + QStringLiteral("Upgrade.hex"));
    EXPECT_EQ(pathInRoot(root(), QStringLiteral("upgrade.Hex")), root() + QStringLiteral("Upgrade.hex"));
    EXPECT_TRUE(outside.untouched());
}

// Each of the tool's names, in its own and in another letter case, taken by
// an entry that is not a regular file: the write is refused with the entry's
// path and the reason, and nothing is written anywhere.
TEST(CreateFileInRoot, RefusesEveryEntryThatIsNotARegularFile)
{
    const struct
    {
        const char *name, *onDrive;
    } names[] = {
        {"START_BL.ACT", "START_BL.ACT"},
        {"START_BL.ACT", "start_bl.act"},
        {"upgrade.Hex", "upgrade.Hex"},
        {"upgrade.Hex", "UPGRADE.HEX"},
    };
    for (const auto &n : names) {
        for (const THostile kind : allHostile()) {
            SCOPED_TRACE(std::string(n.onDrive) + ", " + nameOf(kind));
            QTemporaryDir drive;
            const TOutside outside;
            const QString root = drive.path() + u'/';
            const QString entry = root + QString::fromLatin1(n.onDrive);
            ASSERT_TRUE(outside.plant(kind, entry));
            const QString reason = kind == THostile::Folder ? fileReason::folder()
                : kind == THostile::Fifo                     ? fileReason::special()
                : kind == THostile::HardLink                 ? fileReason::otherNames()
                                                             : refusalReason(TEntryKind::Link, TFileUse::Write);
            try {
                TFileWriter writer = createFileInRoot(root, QString::fromLatin1(n.name));
                writer.write("overwritten");
                writer.close();
                ADD_FAILURE() << "no error";
            } catch (const EFCreateError &e) {
                EXPECT_EQ(e.message(), QStringLiteral("Cannot create file \"%1\". %2").arg(entry, reason));
            }
            EXPECT_TRUE(outside.untouched());
            EXPECT_EQ(QDir(drive.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System),
                      QStringList{QString::fromLatin1(n.onDrive)});
        }
    }
}

TEST_F(Drive, CreateFileInRootIsNotSteeredPastALinkByTheExactName)
{
    if (!canMakeSymbolicLinks() || !namesAreCaseSensitive())
        GTEST_SKIP() << "needs symbolic links and names that differ in case";
    const TOutside outside;
    ASSERT_TRUE(makeSymbolicLink(outside.victim(), root() + QStringLiteral("UPGRADE.HEX")));
    EXPECT_THROW(createFileInRoot(root(), QStringLiteral("upgrade.Hex")), EFCreateError);
    // Not even when a regular file has the exact name.
    file(QStringLiteral("upgrade.Hex"), "old image");
    EXPECT_THROW(createFileInRoot(root(), QStringLiteral("upgrade.Hex")), EFCreateError);
    EXPECT_EQ(readWholeFile(root() + QStringLiteral("upgrade.Hex")), QByteArray("old image"));
    EXPECT_TRUE(outside.untouched());
}

TEST_F(Drive, CreateFileInRootReplacesARegularFileInAnyCase)
{
    const struct
    {
        const char *name;
        QStringList before;
        const char *written; // the entry that receives the bytes
    } cases[] = {
        {"upgrade.Hex", {}, "upgrade.Hex"},
        {"upgrade.Hex", {"UPGRADE.HEX"}, "UPGRADE.HEX"},
        {"upgrade.Hex", {"UPGRADE.HEX", "upgrade.Hex", "Upgrade.hex"}, "upgrade.Hex"},
        {"upgrade.Hex", {"b.hex", "UPGRADE.HEX", "Upgrade.hex"}, "UPGRADE.HEX"},
        {"START_BL.ACT", {"start_bl.act"}, "start_bl.act"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.before.join(u' ').toStdString());
        // Several spellings of one name in one folder need a file system
        // that tells them apart.
        if (!namesAreCaseSensitive() && c.before.filter(QStringLiteral("hex"), Qt::CaseInsensitive).size() > 1)
            continue;
        QTemporaryDir drive;
        const QString root = drive.path() + u'/';
        for (const QString &name : c.before)
            writeWholeFile(root + name, QByteArray(5000, 'o'));
        TFileWriter writer = createFileInRoot(root, QString::fromLatin1(c.name));
        EXPECT_EQ(writer.fileName(), root + QString::fromLatin1(c.written));
        writer.write("new");
        writer.close();
        EXPECT_EQ(readWholeFile(root + QString::fromLatin1(c.written)), QByteArray("new"));
        QStringList after = c.before;
        if (after.isEmpty())
            after.append(QString::fromLatin1(c.written));
        after.sort();
        EXPECT_EQ(QDir(drive.path()).entryList(QDir::Files, QDir::Name), after);
    }
}

TEST(CreateFileInRoot, WithoutADriveNothingIsWritten)
{
    QTemporaryDir cwd;
    const QString saved = QDir::currentPath();
    QDir::setCurrent(cwd.path());
    EXPECT_THROW(createFileInRoot(QString(), QStringLiteral("START_BL.ACT")), EFCreateError);
    EXPECT_THROW(createFileInRoot(cwd.filePath("gone/"), QStringLiteral("START_BL.ACT")), EFCreateError);
    QDir::setCurrent(saved);
    EXPECT_TRUE(QDir(cwd.path()).isEmpty());
}

// What may stand in for the details file on a drive that only claims to be
// the probe's: reading it ends at once, with the entry's path and the reason.
TEST(ReadFileInRoot, ReadsOnlyARegularFileWithinTheBound)
{
    const qint64 bound = 64 * 1024;
    const QString link = refusalReason(TEntryKind::Link, TFileUse::Read);
    const struct
    {
        const char *name;
        std::function<bool(const QString &entry, const TOutside &outside)> plant;
        QString reason; // empty: read
    } cases[] = {
        {"link to /dev/zero", [](const QString &e, const TOutside &) { return makeSymbolicLink("/dev/zero", e); }, link},
        {"link to a fifo",
         [](const QString &e, const TOutside &) {
             const QString pipe = QFileInfo(e).path() + QStringLiteral("/pipe");
             return makeFifo(pipe) && makeSymbolicLink(pipe, e);
         },
         link},
        {"fifo", [](const QString &e, const TOutside &) { return makeFifo(e); }, fileReason::special()},
        {"1 MiB file",
         [](const QString &e, const TOutside &) {
             writeWholeFile(e, QByteArray(1 << 20, 'x'));
             return true;
         },
         fileReason::tooLarge(bound)},
        {"one byte over the bound",
         [&](const QString &e, const TOutside &) {
             writeWholeFile(e, QByteArray(bound + 1, 'x'));
             return true;
         },
         fileReason::tooLarge(bound)},
        {"folder", [](const QString &e, const TOutside &) { return QDir().mkdir(e); }, fileReason::folder()},
        {"link to a good file outside",
         [](const QString &e, const TOutside &o) { return makeSymbolicLink(o.victim(), e); }, link},
        {"exactly the bound",
         [&](const QString &e, const TOutside &) {
             writeWholeFile(e, QByteArray(bound, 'x'));
             return true;
         },
         {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir drive;
        const TOutside outside;
        const QString root = drive.path() + u'/';
        // Only a system without FIFOs or links may fail to make one.
        if (!c.plant(root + QStringLiteral("DETAILS.TXT"), outside)) {
            ASSERT_FALSE(hasSpecialFiles() && canMakeSymbolicLinks());
            continue;
        }
        try {
            const QByteArray data = readFileInRoot(root, QStringLiteral("DETAILS.txt"), bound);
            EXPECT_TRUE(c.reason.isEmpty()) << "read " << data.size() << " bytes";
            EXPECT_EQ(data.size(), bound);
        } catch (const EFOpenError &e) {
            EXPECT_EQ(e.message(),
                      QStringLiteral("Cannot open file \"%1\". %2").arg(root + QStringLiteral("DETAILS.TXT"), c.reason));
        }
        EXPECT_TRUE(outside.untouched());
    }
}

TEST_F(Drive, ReadFileInRootPrefersARegularFileAndNamesAMissingOne)
{
    const TOutside outside;
    if (canMakeSymbolicLinks() && namesAreCaseSensitive()) {
        ASSERT_TRUE(makeSymbolicLink(outside.victim(), root() + QStringLiteral("DETAILS.txt")));
    }
    file(QStringLiteral("details.txt"), "HIC ID: 1");
    EXPECT_EQ(readFileInRoot(root(), QStringLiteral("DETAILS.Txt"), 100), QByteArray("HIC ID: 1"));

    try {
        readFileInRoot(root(), QStringLiteral("Fail.txt"), 100);
        FAIL() << "no error";
    } catch (const EFOpenError &e) {
        EXPECT_EQ(e.message(),
                  QStringLiteral("Cannot open file \"%1\". %2").arg(root() + "Fail.txt", noSuchFileText()));
    }
}
