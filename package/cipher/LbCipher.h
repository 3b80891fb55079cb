#pragma once

#include "package/cipher/LBBaseComponent.h"

#include <QByteArray>
#include <QIODevice>
#include <QString>

// A cipher over streams, files, strings and memory. The stream operations
// read their input from its current position to its end and write at the
// output's current position.
class TLbCipher : public TLBBaseComponent
{
    Q_OBJECT

public:
    explicit TLbCipher(QObject *AOwner = nullptr);

    virtual void DecryptFile(const QString &InFile, const QString &OutFile) = 0;
    virtual void DecryptStream(QIODevice &InStream, QIODevice &OutStream) = 0;
    // InString is Base64 text of enciphered bytes.
    virtual QString DecryptString(const QString &InString) = 0;
    virtual void EncryptFile(const QString &InFile, const QString &OutFile) = 0;
    virtual void EncryptStream(QIODevice &InStream, QIODevice &OutStream) = 0;
    // Returns Base64 text of the enciphered bytes of InString.
    virtual QString EncryptString(const QString &InString) = 0;
    // The number of bytes EncryptStream makes of InBufSize bytes.
    virtual qint64 OutBufSizeNeeded(qint64 InBufSize) const = 0;

    // OutBuf must hold InBufSize bytes; returns the count written.
    qint64 DecryptBuffer(const void *InBuf, qint64 InBufSize, void *OutBuf);
    // OutBuf must hold OutBufSizeNeeded(InBufSize) bytes; returns the count written.
    qint64 EncryptBuffer(const void *InBuf, qint64 InBufSize, void *OutBuf);

    QByteArray DecryptBuffer(const QByteArray &InBuf);
    QByteArray EncryptBuffer(const QByteArray &InBuf);
};
