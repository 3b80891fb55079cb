#include "package/cipher/KeyDigest.h"

#include <QByteArray>
#include <gtest/gtest.h>

namespace {

QByteArray hex(const char *digits)
{
    return QByteArray::fromHex(digits);
}

QByteArray pattern(int size)
{
    QByteArray data;
    for (int i = 0; i < size; ++i)
        data.append(char(i * 7 + 1));
    return data;
}

} // namespace

TEST(KeyDigest, PiTableHoldsTheFractionalDigitsOfPi)
{
    const auto &pi = PiTable();
    EXPECT_EQ(QByteArray(reinterpret_cast<const char *>(pi.data()), 16), hex("243F6A8885A308D313198A2E03707344"));
    EXPECT_EQ(QByteArray(reinterpret_cast<const char *>(pi.data()) + 248, 8), hex("A15486AF7C72E993"));
}

TEST(KeyDigest, KnownDigests)
{
    // "abc" is the published vector. The others were taken from this
    // implementation once it met that vector; they pin the paths "abc" does
    // not take: the closing group alone, two stirs for exactly one group, a
    // buffer that wraps, and the package pass phrase every package relies on.
    struct Case
    {
        const char *name;
        QByteArray data;
        const char *expected;
    };
    const Case cases[] = {
        {"abc", "abc", "2AA17BAA76A4C4CD4B73A5F934B4CC1A"},
        {"empty", QByteArray(), "0BD132AA831C56AC1F92E61084A342D2"},
        {"exactly eight bytes", "01234567", "524F53B62DC98DCDEF179ADAD1E03907"},
        {"256 bytes", pattern(256), "D9779F07A9BFBB4BAD0345BF984B3FE2"},
        {"300 bytes wrap", pattern(300), "74F4E3106E451DA57FDD390C2F5DE864"},
        {"package pass phrase", "Tavrel Onyx Ledger", "32B1440B141E714DB0D45E6CEFE715D0"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(DigestKey(c.data, 16).toHex().toUpper(), QByteArray(c.expected));
    }
}

TEST(KeyDigest, BytesPastTheBufferFoldBackIntoIt)
{
    // Byte 256 lands on buffer byte 0 again; a digest that ignored it, or
    // wrote past the state, would not see the change.
    QByteArray a = pattern(257);
    QByteArray b = a;
    b[256] = char(b[256] ^ 0x80);
    EXPECT_NE(DigestKey(a, 256), DigestKey(b, 256));
}

TEST(KeyDigest, SizeSelectsAPrefixOfTheWholeBuffer)
{
    const QByteArray all = DigestKey("abc", 256);
    ASSERT_EQ(all.size(), 256);
    for (const int size : {0, 1, 16, 255}) {
        SCOPED_TRACE(size);
        EXPECT_EQ(DigestKey("abc", size), all.left(size));
    }
    EXPECT_EQ(DigestKey("abc", 1000), all);
    EXPECT_TRUE(DigestKey("abc", -1).isEmpty());
}

TEST(KeyDigest, MixCipherRoundsAreClamped)
{
    const TKey128 key{};
    const int cases[][2] = {{-5, 4}, {3, 4}, {4, 4}, {8, 8}, {16, 16}, {17, 16}, {100, 16}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c[0]);
        EXPECT_EQ(InitMixCipher(key, c[0], true).rounds, c[1]);
    }
}

TEST(KeyDigest, DecryptScheduleUndoesEncryption)
{
    TKey128 key;
    for (int i = 0; i < 16; ++i)
        key[i] = quint8(0xA0 + i);
    TMixBlock block;
    for (int i = 0; i < 16; ++i)
        block[i] = quint8(i * 17);
    for (const int rounds : {4, 8, 16}) {
        SCOPED_TRACE(rounds);
        const TMixCipherSchedule encrypt = InitMixCipher(key, rounds, true);
        const TMixCipherSchedule decrypt = InitMixCipher(key, rounds, false);
        // Only the used subkeys are reversed; the rest keep their place.
        for (int i = rounds; i < 16; ++i)
            EXPECT_EQ(decrypt.subkeys[i], encrypt.subkeys[i]);
        const TMixBlock cipher = EncryptMixCipher(encrypt, block);
        EXPECT_NE(cipher, block);
        EXPECT_EQ(EncryptMixCipher(decrypt, cipher), block);
    }
}
