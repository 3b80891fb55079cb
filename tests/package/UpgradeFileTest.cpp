#include "common/Exceptions.h"
#include "common/FileIO.h"
#include "package/PackageBuilder.h"
#include "package/PackageFormat.h"
#include "package/UpgradeFile.h"
#include "package/cipher/CipherException.h"
#include "package/cipher/DesBlockCipher.h"
#include "package/cipher/Lb3DES.h"
#include "support/TestSystem.h"

#include <QBuffer>
#include <QFile>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>

namespace {

constexpr int kMd5Offset = 68;

QByteArray pattern(int size)
{
    QByteArray data(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        data[i] = char(i * 13 + (i >> 7));
    return data;
}

const QByteArray kImage = pattern(1000);

QByteArray goodPackage(const QByteArray &image = kImage)
{
    return buildPackage(image, "App", "V2.1.0", "QV58-LINK-A", "2024-05-01 10:00:00");
}

QByteArray packageKey()
{
    TLb3DES cipher;
    cipher.GenerateKey(PackageFormat::passphrase());
    TKey128 key;
    cipher.GetKey(key);
    return QByteArray(reinterpret_cast<const char *>(key.data()), 16);
}

TUpgradeFile readPackage(const QByteArray &bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    return TUpgradeFile(buffer);
}

// Clears the short-write seam however a test ends.
struct TWriteLimiterGuard
{
    explicit TWriteLimiterGuard(TFileWriter::WriteLimiter limiter) { TFileWriter::setWriteLimiter(std::move(limiter)); }
    ~TWriteLimiterGuard() { TFileWriter::setWriteLimiter(nullptr); }
};

} // namespace

TEST(UpgradeFile, OutcomesOfReading)
{
    enum Outcome { Valid, NotValid, RangeError, InvalidFormat };
    struct Case
    {
        const char *name;
        std::function<void(QByteArray &)> mutate;
        Outcome outcome;
    };
    const Case cases[] = {
        {"untouched", [](QByteArray &) {}, Valid},
        {"empty input", [](QByteArray &p) { p.clear(); }, NotValid},
        {"magic alone", [](QByteArray &p) { p = "ID:Quorvantix"; }, RangeError},
        {"magic, 255 bytes", [](QByteArray &p) { p.truncate(255); }, RangeError},
        {"header without payload", [](QByteArray &p) { p.truncate(256); }, InvalidFormat},
        {"payload of 7 bytes", [](QByteArray &p) { p.truncate(263); }, InvalidFormat},
        {"no zero after the magic", [](QByteArray &p) { p[13] = 'X'; }, NotValid},
        {"bytes 14 and 15 after the zero", [](QByteArray &p) { p[14] = 'Q'; p[15] = char(0xFF); }, Valid},
        {"magic in another case", [](QByteArray &p) { p[3] = 'q'; }, NotValid},
        {"magic wrong in its first byte", [](QByteArray &p) { p[0] = 'J'; }, NotValid},
        {"md5 digits in lower case",
         [](QByteArray &p) { p.replace(kMd5Offset, 32, p.mid(kMd5Offset, 32).toLower()); }, Valid},
        {"md5 of 31 digits", [](QByteArray &p) { p[kMd5Offset + 31] = '\0'; }, NotValid},
        {"md5 digit wrong", [](QByteArray &p) { p[kMd5Offset] = p[kMd5Offset] == '0' ? '1' : '0'; }, NotValid},
        {"fileVer and reserved bytes",
         [](QByteArray &p) {
             p.replace(16, 4, QByteArray(4, char(0xFF)));
             p.replace(132, 124, QByteArray(124, char(0xAB)));
         },
         Valid},
        {"first payload block damaged", [](QByteArray &p) { p[256] = char(p[256] ^ 1); }, NotValid},
        {"final block counts above 8",
         [](QByteArray &p) {
             QByteArray last = "garbage";
             last.append(char(200));
             TDesBlockCipher des(packageKey(), true);
             p.replace(p.size() - 8, 8, des.process(last));
         },
         InvalidFormat},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QByteArray bytes = goodPackage();
        c.mutate(bytes);
        try {
            const TUpgradeFile file = readPackage(bytes);
            ASSERT_TRUE(c.outcome == Valid || c.outcome == NotValid) << "read without an error";
            EXPECT_EQ(file.valid(), c.outcome == Valid);
            EXPECT_TRUE(file.image() == (c.outcome == Valid ? kImage : QByteArray()));
        } catch (const ERangeError &e) {
            EXPECT_EQ(c.outcome, RangeError);
            EXPECT_EQ(e.message(), QString("Range check error"));
        } catch (const ECipherException &e) {
            EXPECT_EQ(c.outcome, InvalidFormat);
            EXPECT_EQ(e.message(), QString("Invalid file format"));
        }
    }
}

TEST(UpgradeFile, ImagesOfEverySizeRoundTrip)
{
    for (const int size : {0, 1, 7, 8, 9, 4099, int(TLb3DES::ChunkSize) + 11}) {
        SCOPED_TRACE(size);
        const QByteArray image = pattern(size);
        const QByteArray bytes = goodPackage(image);
        ASSERT_EQ(bytes.size(), 256 + size / 8 * 8 + 8);
        const TUpgradeFile file = readPackage(bytes);
        EXPECT_TRUE(file.valid());
        EXPECT_TRUE(file.image() == image);
    }
}

TEST(UpgradeFile, BytesAfterTheLastWholeBlockDoNotSpoilAPackage)
{
    for (int extra = 1; extra < 8; ++extra) {
        SCOPED_TRACE(extra);
        const TUpgradeFile file = readPackage(goodPackage() + QByteArray(extra, char(0x5A)));
        EXPECT_TRUE(file.valid());
        EXPECT_EQ(file.image(), kImage);
    }
}

TEST(UpgradeFile, HeaderTextsAreReadWhateverTheOutcome)
{
    const QString full16 = "ABCDEFGHIJKLMNOP";
    const QString full32 = "2024-05-01 10:00:00 UTC+02:00 xx";
    ASSERT_EQ(full32.size(), 32);
    QByteArray bytes = buildPackage(kImage, full16, full16.toLower(), "0123456789abcdef", full32);
    bytes[0] = 'X'; // not the magic: texts still read, full width without a zero byte

    const TUpgradeFile file = readPackage(bytes);
    EXPECT_FALSE(file.valid());
    EXPECT_EQ(file.mode(), full16);
    EXPECT_EQ(file.version(), full16.toLower());
    EXPECT_EQ(file.partName(), QString("0123456789abcdef"));
    EXPECT_EQ(file.crDate(), full32);
    EXPECT_EQ(file.md5().size(), 32);
    EXPECT_EQ(file.md5(), file.md5().toUpper());
}

TEST(UpgradeFile, ShortInputGivesOnlyTheTextsItReaches)
{
    const TUpgradeFile empty = readPackage(QByteArray());
    EXPECT_FALSE(empty.valid());
    for (const QString &text : {empty.mode(), empty.version(), empty.partName(), empty.md5(), empty.crDate()})
        EXPECT_TRUE(text.isEmpty());

    QByteArray bytes = goodPackage();
    bytes[1] = 'd';
    bytes.truncate(40); // mode whole, version cut after 4 bytes, the rest absent
    const TUpgradeFile cut = readPackage(bytes);
    EXPECT_FALSE(cut.valid());
    EXPECT_EQ(cut.mode(), QString("App"));
    EXPECT_EQ(cut.version(), QString("V2.1"));
    EXPECT_TRUE(cut.partName().isEmpty());
    EXPECT_TRUE(cut.md5().isEmpty());
    EXPECT_TRUE(cut.crDate().isEmpty());
}

TEST(UpgradeFile, ReadsTheWholeBufferWhateverItsPosition)
{
    QByteArray bytes = goodPackage();
    for (const qint64 position : {qint64(0), qint64(300), qint64(bytes.size())}) {
        SCOPED_TRACE(position);
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadWrite);
        buffer.seek(position);
        const TUpgradeFile file(buffer);
        EXPECT_TRUE(file.valid());
        EXPECT_EQ(buffer.pos(), buffer.size());
        EXPECT_TRUE(file.fileName().isEmpty());
    }
    QBuffer closed(&bytes);
    EXPECT_TRUE(TUpgradeFile(closed).valid());
}

TEST(UpgradeFile, ReadsAFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("QV58-LINK-A_V2.1.0.dat");
    writeWholeFile(path, goodPackage());
    const TUpgradeFile file(path);
    EXPECT_TRUE(file.valid());
    EXPECT_EQ(file.fileName(), path);
    EXPECT_EQ(file.image(), kImage);

    const QString missing = dir.filePath("missing.dat");
    try {
        TUpgradeFile none(missing);
        FAIL() << "no error";
    } catch (const EFOpenError &e) {
        EXPECT_EQ(e.message(), QString("Cannot open file \"%1\". %2").arg(missing, noSuchFileText()));
    }
}

TEST(UpgradeFile, SaveFileWritesTheImageOrNothing)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("upgrade.Hex");
    writeWholeFile(path, "previous content");

    readPackage(goodPackage()).saveFile(path);
    EXPECT_EQ(readWholeFile(path), kImage);

    QByteArray bad = goodPackage();
    bad[kMd5Offset] = bad[kMd5Offset] == '0' ? '1' : '0';
    readPackage(bad).saveFile(path);
    EXPECT_TRUE(QFile::exists(path));
    EXPECT_TRUE(readWholeFile(path).isEmpty());
}

TEST(UpgradeFile, SaveFileReportsCreateAndWriteErrors)
{
    QTemporaryDir dir;
    const TUpgradeFile file = readPackage(goodPackage());

    const QString unreachable = dir.filePath("no/such/dir/upgrade.Hex");
    try {
        file.saveFile(unreachable);
        FAIL() << "no error";
    } catch (const EFCreateError &e) {
        EXPECT_EQ(e.message(), QString("Cannot create file \"%1\". %2").arg(unreachable, noSuchFolderText()));
    }

    const TWriteLimiterGuard guard([](const QString &, qint64 size) { return size - 1; });
    const QString target = dir.filePath("upgrade.Hex");
    try {
        file.saveFile(target);
        FAIL() << "no error";
    } catch (const EFWriteError &e) {
        EXPECT_EQ(e.message(), QString("Cannot write file \"%1\". The device took only %2 of %3 bytes.")
                                   .arg(target)
                                   .arg(kImage.size() - 1)
                                   .arg(kImage.size()));
    }
}
