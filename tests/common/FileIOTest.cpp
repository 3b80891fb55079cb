#include "common/Exceptions.h"
#include "common/FileIO.h"

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
        EXPECT_EQ(e.message(), QString("Cannot open file \"%1\". No such file or directory").arg(path));
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
        EXPECT_EQ(e.message(), QString("Cannot create file \"%1\". No such file or directory").arg(path));
    }
}

TEST(FileIO, ShortWriteRaisesStreamWriteError)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("f.bin");
    TFileWriter::setWriteLimiter([](const QString &, qint64 size) { return size / 2; });
    try {
        writeWholeFile(path, QByteArray(10, 'x'));
        TFileWriter::setWriteLimiter(nullptr);
        FAIL() << "no error";
    } catch (const EWriteError &e) {
        TFileWriter::setWriteLimiter(nullptr);
        EXPECT_EQ(e.message(), QString("Stream write error"));
    }
    EXPECT_EQ(QFile(path).size(), 5);
}

#ifdef __linux__
TEST(FileIO, FullDeviceRaisesStreamWriteError)
{
    if (!QFile::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    EXPECT_THROW(writeWholeFile("/dev/full", QByteArray(10, 'x')), EWriteError);
}
#endif
