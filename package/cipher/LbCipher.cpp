#include "package/cipher/LbCipher.h"

#include "common/Exceptions.h"

#include <QBuffer>
#include <cstring>

TLbCipher::TLbCipher(QObject *AOwner)
    : TLBBaseComponent(AOwner)
{
}

QByteArray TLbCipher::DecryptBuffer(const QByteArray &InBuf)
{
    QBuffer in;
    in.setData(InBuf);
    in.open(QIODevice::ReadOnly);
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    DecryptStream(in, out);
    return out.data();
}

QByteArray TLbCipher::EncryptBuffer(const QByteArray &InBuf)
{
    QBuffer in;
    in.setData(InBuf);
    in.open(QIODevice::ReadOnly);
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    EncryptStream(in, out);
    return out.data();
}

qint64 TLbCipher::DecryptBuffer(const void *InBuf, qint64 InBufSize, void *OutBuf)
{
    const QByteArray out = DecryptBuffer(QByteArray::fromRawData(static_cast<const char *>(InBuf), InBufSize));
    // The framing refuses a count byte above 8, so this cannot happen; the
    // caller's buffer is only sized for the input.
    if (out.size() > InBufSize)
        throw ERangeError();
    std::memcpy(OutBuf, out.constData(), size_t(out.size()));
    return out.size();
}

qint64 TLbCipher::EncryptBuffer(const void *InBuf, qint64 InBufSize, void *OutBuf)
{
    const QByteArray out = EncryptBuffer(QByteArray::fromRawData(static_cast<const char *>(InBuf), InBufSize));
    std::memcpy(OutBuf, out.constData(), size_t(out.size()));
    return out.size();
}
