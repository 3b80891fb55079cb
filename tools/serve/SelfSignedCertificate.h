#pragma once

#include "common/Exceptions.h"

#include <QByteArray>
#include <QStringList>
#include <openssl/evp.h>
#include <openssl/x509.h>

// What a fresh certificate is made for. The defaults suit a server on this
// machine that clients reach as "localhost" or 127.0.0.1.
struct TCertificateRequest
{
    QStringList dnsNames{QStringLiteral("localhost")};
    QStringList ipAddresses{QStringLiteral("127.0.0.1")};
    // Validity relative to now. Starting a little in the past keeps a client
    // whose clock runs slightly behind from refusing it.
    qint64 validFromSecs = -3600;
    qint64 validToSecs = 2 * 86400;
};

// OpenSSL refused to make a key or a certificate.
class ECertificateError : public Exception
{
public:
    explicit ECertificateError(const QString &what);
};

// A key pair and a self-signed certificate for it, made at construction.
class TSelfSignedCertificate
{
public:
    explicit TSelfSignedCertificate(const TCertificateRequest &request = {});
    ~TSelfSignedCertificate();
    TSelfSignedCertificate(const TSelfSignedCertificate &) = delete;
    TSelfSignedCertificate &operator=(const TSelfSignedCertificate &) = delete;

    // Owned by this object.
    X509 *certificate() const { return FCertificate; }
    EVP_PKEY *privateKey() const { return FKey; }

    // The certificate alone, for a client to trust.
    QByteArray certificatePem() const;

private:
    X509 *FCertificate = nullptr;
    EVP_PKEY *FKey = nullptr;
};
