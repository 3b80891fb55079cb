#include "package/cipher/Lb3DES.h"

#include "common/Exceptions.h"
#include "package/cipher/CipherException.h"
#include "package/cipher/DesBlockCipher.h"
#include "package/cipher/KeyDigest.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <algorithm>

namespace {

// QIODevice::read may deliver less than asked without being at the end.
qint64 readFully(QIODevice &device, char *data, qint64 size)
{
    qint64 done = 0;
    while (done < size) {
        const qint64 got = device.read(data + done, size - done);
        if (got <= 0)
            break;
        done += got;
    }
    return done;
}

void writeAll(QIODevice &device, const char *data, qint64 size)
{
    if (size > 0 && device.write(data, size) != size)
        throw EWriteError();
}

// The framing takes its counts from the whole input, so a caller that left
// the input positioned past its start gets short reads and a format error.
qint64 totalSize(const QIODevice &device)
{
    return device.isSequential() ? device.bytesAvailable() : device.size();
}

QByteArray keyBytes(const TKey128 &key)
{
    return QByteArray(reinterpret_cast<const char *>(key.data()), qsizetype(key.size()));
}

// Runs `blocks` whole blocks from in to out through des, a chunk at a time.
// Blocks that arrived before a short read are still written.
void processBlocks(TDesBlockCipher &des, QIODevice &in, QIODevice &out, qint64 blocks)
{
    QByteArray chunk(qsizetype(std::min(blocks * 8, TLb3DES::ChunkSize)), Qt::Uninitialized);
    while (blocks > 0) {
        const qint64 wanted = std::min(blocks * 8, TLb3DES::ChunkSize);
        const qint64 got = readFully(in, chunk.data(), wanted);
        const qint64 whole = got / 8 * 8;
        des.process(chunk.constData(), chunk.data(), whole);
        writeAll(out, chunk.constData(), whole);
        if (got != wanted)
            throw ECipherException::invalidFileFormat();
        blocks -= wanted / 8;
    }
}

} // namespace

TLb3DES::TLb3DES(QObject *AOwner)
    : TLbSymmetricCipher(AOwner)
{
}

void TLb3DES::requireEcb() const
{
    if (CipherMode() != cmECB)
        throw ECipherException(QStringLiteral("The cipher mode CBC is not supported"));
}

void TLb3DES::EncryptStream(QIODevice &InStream, QIODevice &OutStream)
{
    requireEcb();
    TDesBlockCipher des(keyBytes(FKey), true);
    const qint64 size = totalSize(InStream);
    processBlocks(des, InStream, OutStream, size / 8);

    char block[8] = {};
    const int rest = int(size % 8);
    if (readFully(InStream, block, rest) != rest)
        throw ECipherException::invalidFileFormat();
    block[7] = char(rest);
    des.process(block, block, 8);
    writeAll(OutStream, block, 8);
}

void TLb3DES::DecryptStream(QIODevice &InStream, QIODevice &OutStream)
{
    requireEcb();
    TDesBlockCipher des(keyBytes(FKey), false);
    const qint64 blocks = totalSize(InStream) / 8;
    if (blocks == 0)
        throw ECipherException::invalidFileFormat();
    processBlocks(des, InStream, OutStream, blocks - 1);

    char block[8];
    if (readFully(InStream, block, 8) != 8)
        throw ECipherException::invalidFileFormat();
    des.process(block, block, 8);
    // Only 0..8 mean anything; a larger count is a damaged block or a wrong
    // key, and copying it would run past the block.
    const int count = quint8(block[7]);
    if (count > 8)
        throw ECipherException::invalidFileFormat();
    writeAll(OutStream, block, count);
}

qint64 TLb3DES::OutBufSizeNeeded(qint64 InBufSize) const
{
    return (InBufSize & ~qint64(7)) + 8;
}

void TLb3DES::GenerateKey(const QString &Passphrase)
{
    const QByteArray digest = DigestKey(encodeText(Passphrase), int(FKey.size()));
    std::copy(digest.begin(), digest.end(), FKey.begin());
}

void TLb3DES::GenerateRandomKey()
{
    QRandomGenerator::system()->generate(FKey.begin(), FKey.end());
}

QString TLb3DES::EncryptString(const QString &InString)
{
    return QString::fromLatin1(EncryptBuffer(encodeText(InString)).toBase64());
}

QString TLb3DES::DecryptString(const QString &InString)
{
    const auto decoded = QByteArray::fromBase64Encoding(InString.toLatin1(),
                                                        QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        throw ECipherException(QStringLiteral("The text is not Base64"));
    return decodeText(DecryptBuffer(*decoded));
}

void TLb3DES::EncryptFile(const QString &InFile, const QString &OutFile)
{
    runFile(InFile, OutFile, TDirection::Encrypt);
}

void TLb3DES::DecryptFile(const QString &InFile, const QString &OutFile)
{
    runFile(InFile, OutFile, TDirection::Decrypt);
}

void TLb3DES::runFile(const QString &InFile, const QString &OutFile, TDirection direction)
{
    requireEcb();
    QFile in(InFile);
    if (!in.open(QIODevice::ReadOnly))
        throw EFOpenError(InFile, in.errorString());
    // Creating the output would empty the input before it is read.
    const QFileInfo inInfo(InFile), outInfo(OutFile);
    if (outInfo.exists() && inInfo.canonicalFilePath() == outInfo.canonicalFilePath())
        throw EFCreateError(OutFile, QStringLiteral("It is the input file."));
    QFile out(OutFile);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw EFCreateError(OutFile, out.errorString());
    if (direction == TDirection::Encrypt)
        EncryptStream(in, out);
    else
        DecryptStream(in, out);
    if (!out.flush())
        throw EWriteError();
    out.close();
}
