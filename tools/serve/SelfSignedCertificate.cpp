#include "tools/serve/SelfSignedCertificate.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509v3.h>

namespace {

[[noreturn]] void fail(const char *step)
{
    char text[256] = "";
    ERR_error_string_n(ERR_get_error(), text, sizeof text);
    ERR_clear_error();
    throw ECertificateError(QStringLiteral("%1: %2").arg(QLatin1String(step), QString::fromUtf8(text)));
}

void addExtension(X509 *cert, int nid, const QByteArray &value)
{
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
    X509_EXTENSION *ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.constData());
    if (!ext)
        fail("extension");
    const int ok = X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
    if (!ok)
        fail("extension");
}

} // namespace

ECertificateError::ECertificateError(const QString &what)
    : Exception(QStringLiteral("Cannot make the TLS certificate. %1").arg(what))
{
}

TSelfSignedCertificate::TSelfSignedCertificate(const TCertificateRequest &request)
{
    FKey = EVP_EC_gen("P-256");
    if (!FKey)
        fail("key");
    FCertificate = X509_new();
    if (!FCertificate) {
        EVP_PKEY_free(FKey);
        fail("certificate");
    }
    try {
        X509 *cert = FCertificate;
        X509_set_version(cert, X509_VERSION_3);

        // Every start makes a new certificate; a random serial keeps clients
        // that cache sessions from mixing them up.
        unsigned char serial[16];
        if (RAND_bytes(serial, sizeof serial) != 1)
            fail("serial");
        serial[0] &= 0x7F;
        BIGNUM *bn = BN_bin2bn(serial, sizeof serial, nullptr);
        if (!bn || !BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert))) {
            BN_free(bn);
            fail("serial");
        }
        BN_free(bn);

        if (!X509_gmtime_adj(X509_getm_notBefore(cert), long(request.validFromSecs))
            || !X509_gmtime_adj(X509_getm_notAfter(cert), long(request.validToSecs)))
            fail("validity");

        const QByteArray commonName = request.dnsNames.isEmpty()
            ? request.ipAddresses.value(0).toUtf8()
            : request.dnsNames.first().toUtf8();
        X509_NAME *name = X509_get_subject_name(cert);
        if (!X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                reinterpret_cast<const unsigned char *>(commonName.constData()), -1, -1, 0)
            || !X509_set_issuer_name(cert, name) || !X509_set_pubkey(cert, FKey))
            fail("name");

        QStringList alternatives;
        for (const QString &dns : request.dnsNames)
            alternatives << QStringLiteral("DNS:") + dns;
        for (const QString &ip : request.ipAddresses)
            alternatives << QStringLiteral("IP:") + ip;
        if (!alternatives.isEmpty())
            addExtension(cert, NID_subject_alt_name, alternatives.join(u',').toUtf8());
        addExtension(cert, NID_basic_constraints, "critical,CA:FALSE");
        addExtension(cert, NID_key_usage, "critical,digitalSignature");
        addExtension(cert, NID_ext_key_usage, "serverAuth");
        addExtension(cert, NID_subject_key_identifier, "hash");

        if (!X509_sign(cert, FKey, EVP_sha256()))
            fail("signature");
    } catch (...) {
        X509_free(FCertificate);
        EVP_PKEY_free(FKey);
        throw;
    }
}

TSelfSignedCertificate::~TSelfSignedCertificate()
{
    X509_free(FCertificate);
    EVP_PKEY_free(FKey);
}

QByteArray TSelfSignedCertificate::certificatePem() const
{
    BIO *bio = BIO_new(BIO_s_mem());
    if (!bio || !PEM_write_bio_X509(bio, FCertificate)) {
        BIO_free(bio);
        fail("PEM");
    }
    char *data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    QByteArray pem(data, qsizetype(size));
    BIO_free(bio);
    return pem;
}
