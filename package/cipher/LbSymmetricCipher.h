#pragma once

#include "package/cipher/CipherTypes.h"
#include "package/cipher/LbCipher.h"

// A cipher with a key made from a pass phrase and a stream framing mode.
class TLbSymmetricCipher : public TLbCipher
{
    Q_OBJECT

public:
    explicit TLbSymmetricCipher(QObject *AOwner = nullptr);

    TLbCipherMode CipherMode() const { return FCipherMode; }
    void setCipherMode(TLbCipherMode value) { FCipherMode = value; }

    virtual void GenerateKey(const QString &Passphrase) = 0;
    virtual void GenerateRandomKey() = 0;

private:
    TLbCipherMode FCipherMode = cmECB;
};
