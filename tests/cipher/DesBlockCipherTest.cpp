#include "package/cipher/CipherException.h"
#include "package/cipher/DesBlockCipher.h"

#include <gtest/gtest.h>

namespace {

QByteArray hex(const char *digits)
{
    return QByteArray::fromHex(digits);
}

} // namespace

TEST(DesBlockCipher, SingleDesKnownAnswers)
{
    // FIPS 46-3 worked examples and SP 800-17 variable-text/variable-key
    // entries; the key with all parity bits clear shows parity is ignored.
    struct Case
    {
        const char *key, *plain, *cipher;
    };
    const Case cases[] = {
        {"133457799BBCDFF1", "0123456789ABCDEF", "85E813540F0AB405"},
        {"0123456789ABCDEF", "4E6F772069732074", "3FA40E8A984D4815"},
        {"0101010101010101", "8000000000000000", "95F8A5E5DD31D900"},
        {"0101010101010101", "4000000000000000", "DD7F121CA5015619"},
        {"0000000000000000", "8000000000000000", "95F8A5E5DD31D900"},
        {"8001010101010101", "0000000000000000", "95A8D72813DAA94D"},
        {"4001010101010101", "0000000000000000", "0EEC1487DD8C26D5"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.key);
        SCOPED_TRACE(c.plain);
        TDesBlockCipher encrypt(hex(c.key), true);
        TDesBlockCipher decrypt(hex(c.key), false);
        EXPECT_EQ(encrypt.process(hex(c.plain)), hex(c.cipher));
        EXPECT_EQ(decrypt.process(hex(c.cipher)), hex(c.plain));
    }
}

TEST(DesBlockCipher, TwoKeyTripleDesIsEncryptDecryptEncryptWithK1K2K1)
{
    const QByteArray k1 = hex("0123456789ABCDEF");
    const QByteArray k2 = hex("23456789ABCDEF01");
    const QByteArray plain = QByteArray("The quick brown fox jumps over!!");

    TDesBlockCipher e1(k1, true), d1(k1, false), e2(k2, true), d2(k2, false);
    const QByteArray expected = e1.process(d2.process(e1.process(plain)));

    TDesBlockCipher encrypt(k1 + k2, true);
    TDesBlockCipher decrypt(k1 + k2, false);
    const QByteArray cipher = encrypt.process(plain);
    EXPECT_EQ(cipher, expected);
    EXPECT_EQ(decrypt.process(cipher), plain);
    EXPECT_EQ(d1.process(e2.process(d1.process(cipher))), plain);
}

TEST(DesBlockCipher, RefusesBadKeysAndPartialBlocks)
{
    for (const int size : {0, 7, 9, 24}) {
        SCOPED_TRACE(size);
        EXPECT_THROW(TDesBlockCipher(QByteArray(size, '\1'), true), ECipherException);
    }
    TDesBlockCipher des(QByteArray(16, '\1'), true);
    EXPECT_THROW(des.process(QByteArray(12, 'x')), ECipherException);
}
