#pragma once

#include "package/cipher/CipherTypes.h"
#include "package/cipher/LbSymmetricCipher.h"

// Two-key triple DES (encrypt-decrypt-encrypt, K3 = K1) in the package's ECB
// stream framing: whole blocks as they are, then one final block that carries
// the count of its own meaningful bytes in its byte 7. Encrypting always adds
// that final block, so S bytes become 8 * (S div 8) + 8.
class TLb3DES : public TLbSymmetricCipher
{
    Q_OBJECT

public:
    // Input is read and deciphered this many bytes at a time.
    static constexpr qint64 ChunkSize = 64 * 1024;

    explicit TLb3DES(QObject *AOwner = nullptr);

    void DecryptFile(const QString &InFile, const QString &OutFile) override;
    // Raises ECipherException "Invalid file format" for an input shorter than
    // one block or a final block whose count is above 8; blocks written
    // before that stay in OutStream. Trailing bytes after the last whole
    // block are ignored.
    void DecryptStream(QIODevice &InStream, QIODevice &OutStream) override;
    QString DecryptString(const QString &InString) override;
    void EncryptFile(const QString &InFile, const QString &OutFile) override;
    void EncryptStream(QIODevice &InStream, QIODevice &OutStream) override;
    QString EncryptString(const QString &InString) override;
    qint64 OutBufSizeNeeded(qint64 InBufSize) const override;

    // The key is the digest of the pass phrase's bytes in Encoding.
    void GenerateKey(const QString &Passphrase) override;
    void GenerateRandomKey() override;

    void GetKey(TKey128 &Key) const { Key = FKey; }
    void SetKey(const TKey128 &Key) { FKey = Key; }

private:
    enum class TDirection { Encrypt, Decrypt };
    void requireEcb() const;
    void runFile(const QString &InFile, const QString &OutFile, TDirection direction);

    TKey128 FKey{};
};
