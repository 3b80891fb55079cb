#include "package/cipher/DesBlockCipher.h"

#include "package/cipher/CipherException.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/provider.h>
#include <climits>

namespace {

QString openSslReason()
{
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0)
        return QStringLiteral("unknown OpenSSL error");
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return QString::fromLatin1(text);
}

// OpenSSL 3 keeps single DES in its legacy provider. Loading a provider by
// hand stops the default one from loading on its own, so both are loaded,
// and unloaded at exit so leak checkers stay quiet.
struct TLegacyProviders
{
    OSSL_PROVIDER *defaultProvider = OSSL_PROVIDER_load(nullptr, "default");
    OSSL_PROVIDER *legacyProvider = OSSL_PROVIDER_load(nullptr, "legacy");

    ~TLegacyProviders()
    {
        if (legacyProvider)
            OSSL_PROVIDER_unload(legacyProvider);
        if (defaultProvider)
            OSSL_PROVIDER_unload(defaultProvider);
    }
};

void loadLegacyProvider()
{
    static const TLegacyProviders providers;
}

EVP_CIPHER *fetchCipher(const char *name)
{
    EVP_CIPHER *cipher = EVP_CIPHER_fetch(nullptr, name, nullptr);
    if (!cipher) {
        ERR_clear_error();
        loadLegacyProvider();
        cipher = EVP_CIPHER_fetch(nullptr, name, nullptr);
    }
    if (!cipher)
        throw ECipherException(QStringLiteral("The cipher %1 is not available: %2")
                                   .arg(QString::fromLatin1(name), openSslReason()));
    return cipher;
}

} // namespace

TDesBlockCipher::TDesBlockCipher(const QByteArray &key, bool encrypt)
{
    const char *name = nullptr;
    if (key.size() == 8)
        name = "DES-ECB";
    else if (key.size() == 16)
        name = "DES-EDE-ECB";
    else
        throw ECipherException(QStringLiteral("A DES key has 8 or 16 bytes, not %1").arg(key.size()));

    FCipher = fetchCipher(name);
    FContext = EVP_CIPHER_CTX_new();
    const bool ready = FContext
        && EVP_CipherInit_ex2(FContext, FCipher, reinterpret_cast<const unsigned char *>(key.constData()),
                              nullptr, encrypt ? 1 : 0, nullptr) == 1
        && EVP_CIPHER_CTX_set_padding(FContext, 0) == 1;
    if (!ready) {
        const QString reason = openSslReason();
        EVP_CIPHER_CTX_free(FContext);
        EVP_CIPHER_free(FCipher);
        throw ECipherException(QStringLiteral("The DES key was refused: %1").arg(reason));
    }
}

TDesBlockCipher::~TDesBlockCipher()
{
    EVP_CIPHER_CTX_free(FContext);
    EVP_CIPHER_free(FCipher);
}

void TDesBlockCipher::process(const char *in, char *out, qint64 size)
{
    if (size < 0 || size % 8 != 0)
        throw ECipherException(QStringLiteral("DES works on whole blocks of 8 bytes, not on %1 bytes").arg(size));
    const auto *from = reinterpret_cast<const unsigned char *>(in);
    auto *to = reinterpret_cast<unsigned char *>(out);
    // EVP counts in int; callers hand over bounded chunks, but stay safe.
    constexpr qint64 kMaxCall = (INT_MAX / 8) * 8;
    while (size > 0) {
        const int count = int(qMin(size, kMaxCall));
        int produced = 0;
        if (EVP_CipherUpdate(FContext, to, &produced, from, count) != 1 || produced != count)
            throw ECipherException(QStringLiteral("DES failed: %1").arg(openSslReason()));
        from += count;
        to += count;
        size -= count;
    }
}

QByteArray TDesBlockCipher::process(const QByteArray &in)
{
    QByteArray out(in.size(), Qt::Uninitialized);
    process(in.constData(), out.data(), in.size());
    return out;
}
