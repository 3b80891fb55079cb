#include "common/Exceptions.h"
#include "common/FileIO.h"
#include "support/HostileEntries.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(FileIO, ReadMissingFileRaisesOpenErrorWithPathAndReason)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("missing.txt");
    try {
        readWholeFile(path);
        FAIL() << "no error";
    } catch (const EFOpenError &e) {
        EXPECT_EQ(e.message(), QString("Cannot open file \"%1\". %2").arg(path, noSuchFileText()));
    }
}

TEST(FileIO, WriterReplacesExistingContent)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("f.bin");
    writeWholeFile(path, QByteArray(100, 'x'));
    writeWholeFile(path, "abc");
    EXPECT_EQ(readWholeFile(path), QByteArray("abc"));
    writeWholeFile(path, QByteArray());
    EXPECT_EQ(QFile(path).size(), 0);
}

TEST(FileIO, CreateInMissingFolderRaisesCreateError)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("no/such/dir/f.bin");
    try {
        TFileWriter writer(path);
        FAIL() << "no error";
    } catch (const EFCreateError &e) {
        EXPECT_EQ(e.message(), QString("Cannot create file \"%1\". %2").arg(path, noSuchFolderText()));
    }
}

TEST(FileIO, ShortWriteNamesTheFileAndHowMuchWentThrough)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("f.bin");
    TFileWriter::setWriteLimiter([](const QString &, qint64 size) { return size / 2; });
    try {
        writeWholeFile(path, QByteArray(10, 'x'));
        TFileWriter::setWriteLimiter(nullptr);
        FAIL() << "no error";
    } catch (const EFWriteError &e) {
        TFileWriter::setWriteLimiter(nullptr);
        EXPECT_EQ(e.message(), QString("Cannot write file \"%1\". The device took only 5 of 10 bytes.").arg(path));
    }
    EXPECT_EQ(QFile(path).size(), 5);
}

#ifdef __linux__
TEST(FileIO, FullDeviceNamesTheFileAndTheSystemsReason)
{
    if (!QFile::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    try {
        writeWholeFile("/dev/full", QByteArray(10, 'x'));
        FAIL() << "no error";
    } catch (const EFWriteError &e) {
        EXPECT_EQ(e.message(), QString("Cannot write file \"/dev/full\". No space left on device"));
    }
}
#endif

namespace {

// A host folder with what a bounded read may be pointed at.
class BoundedRead : public ::testing::Test
{
protected:
    QString path(const char *name) const { return FDir.filePath(QString::fromLatin1(name)); }
    QString file(const char *name, qint64 size)
    {
        writeWholeFile(path(name), QByteArray(size, 'x'));
        return path(name);
    }

    QTemporaryDir FDir;
};

} // namespace

TEST_F(BoundedRead, TakesRegularFilesUpToTheBoundAndRefusesEverythingElse)
{
    const qint64 bound = 1000;
    const bool links = canMakeSymbolicLinks();
    const bool special = hasSpecialFiles();
    if (special) {
        ASSERT_TRUE(makeFifo(path("fifo")));
    }
    if (special && links) {
        ASSERT_TRUE(makeSymbolicLink(path("fifo"), path("link to fifo")));
        ASSERT_TRUE(makeSymbolicLink("/dev/zero", path("link to zero")));
    }
    if (links) {
        ASSERT_TRUE(makeSymbolicLink(file("target", 10), path("link to file")));
    }
    QDir(FDir.path()).mkdir("folder");
    // A sparse file: its size costs no disk, and reading all of it would.
    QFile huge(path("huge"));
    ASSERT_TRUE(huge.open(QIODevice::WriteOnly) && huge.resize(qint64(512) << 20));
    huge.close();

    struct TCase
    {
        QString name;
        qint64 size; // -1: refused
        QString reason;
        bool made = true; // false: this system cannot make the entry
    };
    const TCase cases[] = {
        {file("empty", 0), 0, {}},
        {file("small", 10), 10, {}},
        {file("at the bound", bound), bound, {}},
        // Host files the user names may be links; the file behind is judged.
        {path("link to file"), 10, {}, links},
        {file("one over", bound + 1), -1, fileReason::tooLarge(bound)},
        {path("huge"), -1, fileReason::tooLarge(bound)},
        {path("fifo"), -1, fileReason::special(), special},
        {path("link to fifo"), -1, fileReason::special(), special && links},
        {path("link to zero"), -1, fileReason::special(), special && links},
        {path("folder"), -1, fileReason::folder()},
        {path("missing"), -1, noSuchFileText()},
    };
    for (const auto &c : cases) {
        if (!c.made)
            continue;
        SCOPED_TRACE(c.name.toStdString());
        try {
            const QByteArray data = readWholeFile(c.name, bound);
            EXPECT_EQ(data.size(), c.size);
        } catch (const EFOpenError &e) {
            EXPECT_EQ(c.size, -1);
            EXPECT_EQ(e.message(), QStringLiteral("Cannot open file \"%1\". %2").arg(c.name, c.reason));
        }
    }
}

#ifdef __linux__
TEST_F(BoundedRead, HoldsForFilesLargerThanTheyClaim)
{
    // Reported as 0 bytes long, yet far longer than 16 bytes when read.
    const QString maps = QStringLiteral("/proc/self/maps");
    if (!QFile::exists(maps))
        GTEST_SKIP() << "no /proc";
    EXPECT_THROW(readWholeFile(maps, 16), EFOpenError);
    EXPECT_GT(readWholeFile(maps, 1 << 20).size(), 16);
}
#endif
