#pragma once

#include <QByteArray>
#include <QtGlobal>

struct evp_cipher_ctx_st;
struct evp_cipher_st;

// DES in ECB mode without padding, from OpenSSL: single DES (key of 8 bytes)
// or two-key triple DES, encrypt-decrypt-encrypt (key of 16 bytes, K1 then K2).
// One object keeps one keyed schedule for one direction.
class TDesBlockCipher
{
public:
    // Raises ECipherException for a key of another length or when OpenSSL
    // has no such cipher.
    TDesBlockCipher(const QByteArray &key, bool encrypt);
    ~TDesBlockCipher();
    TDesBlockCipher(const TDesBlockCipher &) = delete;
    TDesBlockCipher &operator=(const TDesBlockCipher &) = delete;

    // size must be a multiple of 8; in and out may be the same memory.
    void process(const char *in, char *out, qint64 size);
    QByteArray process(const QByteArray &in);

private:
    evp_cipher_st *FCipher = nullptr;
    evp_cipher_ctx_st *FContext = nullptr;
};
