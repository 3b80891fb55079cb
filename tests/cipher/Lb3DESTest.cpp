#include "common/Exceptions.h"
#include "package/cipher/CipherException.h"
#include "package/cipher/DesBlockCipher.h"
#include "package/cipher/KeyDigest.h"
#include "package/cipher/Lb3DES.h"

#include <QBuffer>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QByteArray pattern(qint64 size)
{
    QByteArray data(size, Qt::Uninitialized);
    for (qint64 i = 0; i < size; ++i)
        data[i] = char((i * 31 + 7) ^ (i >> 8));
    return data;
}

// A device that takes only so many bytes, as a full disk would.
class TLimitedBuffer : public QBuffer
{
public:
    explicit TLimitedBuffer(qint64 limit)
        : FLimit(limit)
    {
        open(QIODevice::WriteOnly);
    }

protected:
    qint64 writeData(const char *data, qint64 size) override
    {
        const qint64 allowed = qMin(size, FLimit - pos());
        return allowed <= 0 ? -1 : QBuffer::writeData(data, allowed);
    }

private:
    qint64 FLimit;
};

class Lb3DESTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (int i = 0; i < 16; ++i)
            FKey[i] = quint8(0x10 + 13 * i);
        FCipher.SetKey(FKey);
    }

    QByteArray keyBytes() const { return QByteArray(reinterpret_cast<const char *>(FKey.data()), 16); }

    // Plain triple-DES ECB over whole blocks, without the framing.
    QByteArray rawEcb(const QByteArray &data, bool encrypt) const
    {
        TDesBlockCipher des(keyBytes(), encrypt);
        return des.process(data);
    }

    QByteArray encrypt(const QByteArray &plain)
    {
        QBuffer in;
        in.setData(plain);
        in.open(QIODevice::ReadOnly);
        QBuffer out;
        out.open(QIODevice::WriteOnly);
        FCipher.EncryptStream(in, out);
        return out.data();
    }

    // Decrypts into *out so a test can see what was written before an error.
    void decrypt(const QByteArray &cipher, QByteArray *out)
    {
        QBuffer in;
        in.setData(cipher);
        in.open(QIODevice::ReadOnly);
        QBuffer sink(out);
        sink.open(QIODevice::WriteOnly);
        FCipher.DecryptStream(in, sink);
    }

    QByteArray decrypt(const QByteArray &cipher)
    {
        QByteArray out;
        decrypt(cipher, &out);
        return out;
    }

    TKey128 FKey;
    TLb3DES FCipher;
};

} // namespace

TEST_F(Lb3DESTest, EncryptsWholeBlocksThenAFinalBlockCarryingItsCount)
{
    for (int size = 0; size <= 17; ++size) {
        SCOPED_TRACE(size);
        const QByteArray plain = pattern(size);
        const QByteArray cipher = encrypt(plain);
        const int whole = size / 8 * 8;
        const int rest = size % 8;

        ASSERT_EQ(cipher.size(), FCipher.OutBufSizeNeeded(size));
        ASSERT_EQ(cipher.size(), whole + 8);
        EXPECT_EQ(cipher.left(whole), rawEcb(plain.left(whole), true));

        QByteArray finalBlock(8, '\0');
        finalBlock.replace(0, rest, plain.mid(whole));
        finalBlock[7] = char(rest);
        EXPECT_EQ(rawEcb(cipher.mid(whole), false), finalBlock);

        EXPECT_EQ(decrypt(cipher), plain);
    }
}

TEST_F(Lb3DESTest, OutBufSizeNeeded)
{
    const qint64 cases[][2] = {{0, 8}, {7, 8}, {8, 16}, {15, 16}, {16, 24}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c[0]);
        EXPECT_EQ(FCipher.OutBufSizeNeeded(c[0]), c[1]);
    }
}

TEST_F(Lb3DESTest, DecryptingLessThanOneBlockIsInvalidFormat)
{
    for (int size = 0; size < 8; ++size) {
        SCOPED_TRACE(size);
        QByteArray out;
        try {
            decrypt(pattern(size), &out);
            ADD_FAILURE() << "no error";
        } catch (const ECipherException &e) {
            EXPECT_EQ(e.message(), QString("Invalid file format"));
        }
        EXPECT_TRUE(out.isEmpty());
    }
}

TEST_F(Lb3DESTest, BytesAfterTheLastWholeBlockAreIgnored)
{
    for (const int plainSize : {3, 8, 13, 20}) {
        const QByteArray plain = pattern(plainSize);
        const QByteArray cipher = encrypt(plain);
        for (int extra = 1; extra < 8; ++extra) {
            SCOPED_TRACE(QString("plain %1, extra %2").arg(plainSize).arg(extra).toStdString());
            EXPECT_EQ(decrypt(cipher + pattern(extra)), plain);
        }
    }
}

TEST_F(Lb3DESTest, FinalCountDecidesHowMuchOfTheLastBlockIsWritten)
{
    const QByteArray body = "BODYBLOK";
    struct Case
    {
        int count;
        qsizetype written; // -1: Invalid file format
    };
    const Case cases[] = {{0, 0}, {5, 5}, {8, 8}, {9, -1}, {255, -1}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.count);
        QByteArray finalBlock = "finalXY";
        finalBlock.append(char(c.count));
        const QByteArray cipher = rawEcb(body + finalBlock, true);
        QByteArray out;
        if (c.written < 0) {
            try {
                decrypt(cipher, &out);
                ADD_FAILURE() << "no error";
            } catch (const ECipherException &e) {
                EXPECT_EQ(e.message(), QString("Invalid file format"));
            }
            EXPECT_EQ(out, body); // written before the damage was seen
        } else {
            decrypt(cipher, &out);
            EXPECT_EQ(out, body + finalBlock.left(c.written));
        }
    }
}

TEST_F(Lb3DESTest, RoundTripsAcrossChunkBoundaries)
{
    const qint64 chunk = TLb3DES::ChunkSize;
    for (const qint64 size : {chunk - 1, chunk, chunk + 1, chunk + 8, chunk + 9, 3 * chunk + 5}) {
        SCOPED_TRACE(size);
        const QByteArray plain = pattern(size);
        const QByteArray cipher = encrypt(plain);
        const qint64 whole = size / 8 * 8;
        ASSERT_EQ(cipher.size(), whole + 8);
        EXPECT_TRUE(cipher.left(whole) == rawEcb(plain.left(whole), true));
        EXPECT_TRUE(decrypt(cipher) == plain);
    }
}

TEST_F(Lb3DESTest, OutputGoesAtTheOutputsPosition)
{
    QByteArray target = "HEAD";
    QBuffer out(&target);
    out.open(QIODevice::ReadWrite);
    out.seek(out.size());
    QBuffer in;
    in.setData("plain");
    in.open(QIODevice::ReadOnly);
    FCipher.EncryptStream(in, out);
    EXPECT_EQ(target, "HEAD" + encrypt("plain"));
}

TEST_F(Lb3DESTest, ShortWriteRaisesStreamWriteError)
{
    for (const bool encrypting : {true, false}) {
        SCOPED_TRACE(encrypting);
        QBuffer in;
        in.setData(encrypting ? pattern(40) : encrypt(pattern(40)));
        in.open(QIODevice::ReadOnly);
        TLimitedBuffer out(20);
        try {
            if (encrypting)
                FCipher.EncryptStream(in, out);
            else
                FCipher.DecryptStream(in, out);
            ADD_FAILURE() << "no error";
        } catch (const EWriteError &e) {
            EXPECT_EQ(e.message(), QString("Stream write error"));
        }
    }
}

TEST_F(Lb3DESTest, ChainedModeIsRefused)
{
    const QByteArray cipher = encrypt(pattern(16));
    FCipher.setCipherMode(cmCBC);
    QBuffer in;
    in.setData(cipher);
    in.open(QIODevice::ReadOnly);
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    try {
        FCipher.DecryptStream(in, out);
        FAIL() << "no error";
    } catch (const ECipherException &e) {
        EXPECT_TRUE(e.message().contains("not supported")) << e.what();
    }
    EXPECT_THROW(FCipher.EncryptStream(in, out), ECipherException);
    EXPECT_TRUE(out.data().isEmpty());
}

TEST(Lb3DESKey, StartsZeroedAndGenerateKeyReplacesTheWholeKey)
{
    TLb3DES cipher;
    TKey128 key;
    cipher.GetKey(key);
    EXPECT_EQ(key, TKey128{});
    EXPECT_EQ(cipher.CipherMode(), cmECB);

    const auto digest = [](const QByteArray &bytes) {
        const QByteArray d = DigestKey(bytes, 16);
        TKey128 k;
        std::copy(d.begin(), d.end(), k.begin());
        return k;
    };
    cipher.GenerateKey("first phrase");
    cipher.GenerateKey("Tavrel Onyx Ledger");
    cipher.GetKey(key);
    EXPECT_EQ(key, digest("Tavrel Onyx Ledger"));

    cipher.GenerateKey(QString());
    cipher.GetKey(key);
    EXPECT_EQ(key, digest(QByteArray()));

    TLb3DES other;
    other.SetKey(key);
    TKey128 copied;
    other.GetKey(copied);
    EXPECT_EQ(copied, key);
}

TEST(Lb3DESKey, PassPhraseBytesFollowEncoding)
{
    const QString phrase = QString::fromUtf8("caf\u00e9");
    const struct
    {
        QStringConverter::Encoding encoding;
        QByteArray bytes;
    } cases[] = {{QStringConverter::Latin1, "caf\xE9"}, {QStringConverter::Utf8, "caf\xC3\xA9"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.bytes.toHex().toStdString());
        TLb3DES cipher;
        cipher.setEncoding(c.encoding);
        cipher.GenerateKey(phrase);
        TKey128 key;
        cipher.GetKey(key);
        EXPECT_EQ(QByteArray(reinterpret_cast<const char *>(key.data()), 16), DigestKey(c.bytes, 16));
    }
}

TEST_F(Lb3DESTest, StringAndBufferFormsMatchTheStream)
{
    const QString text = "firmware text";
    const QString base64 = FCipher.EncryptString(text);
    EXPECT_EQ(QByteArray::fromBase64(base64.toLatin1()), encrypt(text.toLatin1()));
    EXPECT_EQ(FCipher.DecryptString(base64), text);
    EXPECT_THROW(FCipher.DecryptString("not base64 *"), ECipherException);

    const QByteArray plain = pattern(21);
    QByteArray cipher(FCipher.OutBufSizeNeeded(plain.size()), '\0');
    EXPECT_EQ(FCipher.EncryptBuffer(plain.constData(), plain.size(), cipher.data()), cipher.size());
    EXPECT_EQ(cipher, encrypt(plain));
    QByteArray back(cipher.size(), '\0');
    EXPECT_EQ(FCipher.DecryptBuffer(cipher.constData(), cipher.size(), back.data()), plain.size());
    EXPECT_EQ(back.left(plain.size()), plain);
}

TEST_F(Lb3DESTest, FileForms)
{
    QTemporaryDir dir;
    const QString plainPath = dir.filePath("plain.bin");
    const QString cipherPath = dir.filePath("cipher.bin");
    const QString backPath = dir.filePath("back.bin");
    const QByteArray plain = pattern(1000);
    {
        QFile f(plainPath);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(plain);
    }
    FCipher.EncryptFile(plainPath, cipherPath);
    FCipher.DecryptFile(cipherPath, backPath);
    QFile back(backPath);
    ASSERT_TRUE(back.open(QIODevice::ReadOnly));
    EXPECT_EQ(back.readAll(), plain);

    EXPECT_THROW(FCipher.EncryptFile(dir.filePath("missing"), cipherPath), EFOpenError);
    EXPECT_THROW(FCipher.EncryptFile(plainPath, dir.filePath("no/dir/out")), EFCreateError);
    // Writing onto the input would empty it before it is read.
    EXPECT_THROW(FCipher.EncryptFile(plainPath, plainPath), EFCreateError);
    QFile kept(plainPath);
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), plain);
}
