#include "common/Exceptions.h"
#include "common/FileIO.h"
#include "package/BinFile.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QString md5Of(const QByteArray &data, qint64 position = 0)
{
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    buffer.seek(position);
    return TBinFile::md5Stream(buffer);
}

} // namespace

TEST(BinFile, Md5StreamMeetsTheRfc1321Suite)
{
    const char *const cases[][2] = {
        {"", "D41D8CD98F00B204E9800998ECF8427E"},
        {"a", "0CC175B9C0F1B6A831C399E269772661"},
        {"abc", "900150983CD24FB0D6963F7D28E17F72"},
        {"message digest", "F96B697D7CB7938D525A2F31AAF161D0"},
        {"abcdefghijklmnopqrstuvwxyz", "C3FCD3D76192E4007DFB496CCA67E13B"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57EDF4A22BE3C955AC49DA2E2107B67A"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c[0]);
        EXPECT_EQ(md5Of(c[0]), QString(c[1]));
    }
}

TEST(BinFile, Md5StreamStartsAtThePositionAndEndsAtTheEnd)
{
    EXPECT_EQ(md5Of("xxabc", 2), QString("900150983CD24FB0D6963F7D28E17F72"));

    QByteArray big(300 * 1024 + 3, Qt::Uninitialized);
    for (qsizetype i = 0; i < big.size(); ++i)
        big[i] = char(i ^ (i >> 9));
    QBuffer buffer(&big);
    buffer.open(QIODevice::ReadOnly);
    EXPECT_EQ(TBinFile::md5Stream(buffer),
              QString::fromLatin1(QCryptographicHash::hash(big, QCryptographicHash::Md5).toHex().toUpper()));
    EXPECT_TRUE(buffer.atEnd());

    QBuffer unreadable(&big);
    unreadable.open(QIODevice::WriteOnly);
    EXPECT_THROW(TBinFile::md5Stream(unreadable), Exception);
}

TEST(BinFile, FileOperations)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("data.bin");
    const QString missing = dir.filePath("missing.bin");
    ASSERT_TRUE(TBinFile::saveToFile(path, "abcdef", 6));
    EXPECT_EQ(readWholeFile(path), QByteArray("abcdef"));

    EXPECT_EQ(TBinFile::md5File(path), md5Of("abcdef"));
    EXPECT_THROW(TBinFile::md5File(missing), EFOpenError);

    EXPECT_EQ(TBinFile::fileSize(path), 6);
    EXPECT_EQ(TBinFile::fileSize(missing), -1);

    // Only the file's bytes are copied, never more than asked.
    for (const int asked : {0, 4, 6, 10}) {
        SCOPED_TRACE(asked);
        QByteArray target(10, '#');
        ASSERT_TRUE(TBinFile::loadFromFile(path, target.data(), asked));
        const int copied = qMin(asked, 6);
        EXPECT_EQ(target, QByteArray("abcdef").left(copied) + QByteArray(10 - copied, '#'));
    }
    char one;
    EXPECT_THROW(TBinFile::loadFromFile(missing, &one, 1), EFOpenError);
    EXPECT_THROW(TBinFile::saveToFile(dir.filePath("no/dir/x"), "a", 1), EFCreateError);
}

TEST(BinFile, CopyFileRespectsOverwrite)
{
    struct Case
    {
        bool targetExists;
        bool overwrite;
        bool copied;
    };
    const Case cases[] = {{false, false, true}, {false, true, true}, {true, false, false}, {true, true, true}};
    for (const Case &c : cases) {
        SCOPED_TRACE(QString("exists %1, overwrite %2").arg(c.targetExists).arg(c.overwrite).toStdString());
        QTemporaryDir dir;
        const QString source = dir.filePath("source"), target = dir.filePath("target");
        writeWholeFile(source, "new");
        if (c.targetExists)
            writeWholeFile(target, "old content");
        EXPECT_EQ(TBinFile::copyFile(source, target, c.overwrite), c.copied);
        EXPECT_EQ(readWholeFile(target), QByteArray(c.copied ? "new" : "old content"));
    }
    QTemporaryDir dir;
    EXPECT_FALSE(TBinFile::copyFile(dir.filePath("missing"), dir.filePath("target"), true));
}
