#include "HexRecords.h"
#include "tools/probe-sim/IntelHex.h"

#include <gtest/gtest.h>

TEST(IntelHex, AcceptsWellFormedImages)
{
    const struct
    {
        const char *name;
        QByteArray image;
        int dataRecords;
    } cases[] = {
        {"sample, CR LF", sampleImage(), 2},
        {"LF only, trailing blank lines", QByteArray(sampleImage()).replace("\r\n", "\n") + "\n\n", 2},
        {"lower-case digits", sampleImage().toLower(), 2},
        {"end record alone", ":00000001FF", 0},
        {"segment address record", hexRecord(0x02, 0, QByteArray::fromHex("1000")) + "\n:00000001FF\n", 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const THexCheck check = checkIntelHex(c.image);
        EXPECT_TRUE(check.ok) << check.error.toStdString();
        EXPECT_EQ(check.dataRecords, c.dataRecords);
    }
}

TEST(IntelHex, RefusesBrokenImagesNamingTheLine)
{
    const QByteArray data = hexRecord(0x00, 0x0100, QByteArray::fromHex("0102030405"));
    QByteArray badSum = data;
    badSum[badSum.size() - 1] = badSum.endsWith('0') ? '1' : '0';
    QByteArray shortCount = data;
    shortCount[2] = '4'; // says 4 bytes, carries 5
    const QByteArray end = ":00000001FF\n";
    const struct
    {
        const char *name;
        QByteArray image;
        const char *error;
    } cases[] = {
        {"empty", "", "no end record"},
        {"no end record", data + "\n", "no end record"},
        {"checksum", badSum + "\n" + end, "line 1: checksum mismatch"},
        {"byte count", shortCount + "\n" + end, "line 1: byte count 4 does not match the record"},
        {"no colon", data.mid(1) + "\n" + end, "line 1: record does not start with ':'"},
        {"odd length", data + "0\n" + end, "line 1: record too short or odd length"},
        {"too short", ":0000\n" + end, "line 1: record too short or odd length"},
        {"not hex", data.left(9) + "G" + data.mid(10) + "\n" + end, "line 1: not a hexadecimal digit"},
        {"blank inside a record", data.left(9) + " " + data.mid(9) + "\n" + end, "line 1: not a hexadecimal digit"},
        {"data after the end", end + data + "\n", "line 2: data after the end record"},
        {"end with data", hexRecord(0x01, 0, "x") + "\n", "line 1: end record with data"},
        {"unknown type", hexRecord(0x06, 0, {}) + "\n" + end, "line 1: unknown record type 6"},
        {"short address record", hexRecord(0x04, 0, "x") + "\n" + end, "line 1: address record of 1 bytes"},
        {"short start record", hexRecord(0x05, 0, "xy") + "\n" + end, "line 1: start address record of 2 bytes"},
        {"binary image", QByteArray("\x7F" "ELF\x02\x01", 6), "line 1: record does not start with ':'"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const THexCheck check = checkIntelHex(c.image);
        EXPECT_FALSE(check.ok);
        EXPECT_EQ(check.error, QString::fromUtf8(c.error));
    }
}

TEST(MakeIntelHex, WrittenImagesAreAcceptedAcrossAddressBoundaries)
{
    const struct
    {
        int size;
        int dataRecords;
    } cases[] = {{0, 0}, {1, 1}, {16, 1}, {17, 2}, {0x10000, 0x1000}, {0x10000 + 5, 0x1001}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.size);
        const QByteArray image = makeFirmwareImage(c.size, QStringLiteral("V1.2"));
        const THexCheck check = checkIntelHex(image);
        EXPECT_TRUE(check.ok) << check.error.toStdString();
        EXPECT_EQ(check.dataRecords, c.dataRecords);
        EXPECT_TRUE(image.endsWith(":00000001FF\r\n"));
    }
    // Past 64 KiB the next address block is announced before its first record.
    EXPECT_TRUE(makeFirmwareImage(0x10000 + 1, {}).contains(":020000040001F9\r\n:01000000"));
    EXPECT_NE(makeFirmwareImage(64, QStringLiteral("a")), makeFirmwareImage(64, QStringLiteral("b")));
}
