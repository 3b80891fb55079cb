// The payload cipher's decrypt direction on its own, with the package key.

#include "FuzzCheck.h"

#include "package/PackageFormat.h"
#include "package/cipher/CipherException.h"
#include "package/cipher/Lb3DES.h"

#include <QBuffer>

namespace {

const TKey128 &packageKey()
{
    static const TKey128 key = [] {
        TLb3DES cipher;
        cipher.GenerateKey(PackageFormat::passphrase());
        TKey128 k;
        cipher.GetKey(k);
        return k;
    }();
    return key;
}

QByteArray run(const QByteArray &input, bool encrypt)
{
    QByteArray source = input;
    QBuffer in(&source);
    in.open(QIODevice::ReadOnly);
    QByteArray result;
    QBuffer out(&result);
    out.open(QIODevice::WriteOnly);
    TLb3DES cipher;
    cipher.SetKey(packageKey());
    if (encrypt)
        cipher.EncryptStream(in, out);
    else
        cipher.DecryptStream(in, out);
    return result;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input = fuzzBytes(data, size);
    const qsizetype blocks = input.size() / 8;

    QByteArray source = input;
    QBuffer in(&source);
    in.open(QIODevice::ReadOnly);
    QByteArray plain;
    QBuffer out(&plain);
    out.open(QIODevice::WriteOnly);
    TLb3DES cipher;
    cipher.SetKey(packageKey());
    try {
        cipher.DecryptStream(in, out);
    } catch (const ECipherException &) {
        // Too short, or a final count above 8: every whole block before the
        // final one is already out, and nothing of the final one.
        FUZZ_CHECK(blocks == 0 ? plain.isEmpty() : plain.size() == (blocks - 1) * 8);
        return 0;
    }
    FUZZ_CHECK(blocks > 0);
    FUZZ_CHECK(plain.size() >= (blocks - 1) * 8 && plain.size() <= blocks * 8);
    // Bytes after the last whole block are never read.
    FUZZ_CHECK(run(input.left(blocks * 8), false) == plain);

    // What was deciphered enciphers to a payload that deciphers to it again.
    const QByteArray again = run(plain, true);
    FUZZ_CHECK(again.size() == cipher.OutBufSizeNeeded(plain.size()));
    FUZZ_CHECK(run(again, false) == plain);
    return 0;
}
