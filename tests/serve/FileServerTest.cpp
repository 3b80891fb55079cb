#include "tools/serve/FileServer.h"
#include "tools/serve/SelfSignedCertificate.h"

#include "common/FileIO.h"
#include "support/TestSystem.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <openssl/x509v3.h>

TEST(FileServerResolve, ServesOnlyRegularFilesInsideTheRoot)
{
    QTemporaryDir dir;
    const QString base = QFileInfo(dir.path()).canonicalFilePath();
    const QString root = base + "/root";
    QDir().mkpath(root + "/sub");
    QDir().mkpath(base + "/root2");
    writeWholeFile(root + "/a.txt", "a");
    writeWholeFile(root + "/sub/b.dat", "b");
    writeWholeFile(base + "/outside.txt", "secret");
    writeWholeFile(base + "/root2/f.txt", "sibling");
    makeSymbolicLink(root + "/sub/b.dat", root + "/link-in");
    makeSymbolicLink(base + "/outside.txt", root + "/link-out");
    makeSymbolicLink(base + "/root2/f.txt", root + "/link-sibling");
    makeSymbolicLink(base, root + "/sub/up");

    const struct
    {
        QString urlPath;
        QString served; // empty: nothing to serve
    } cases[] = {
        {"/a.txt", root + "/a.txt"},
        {"/sub/b.dat", root + "/sub/b.dat"},
        {"//a.txt", root + "/a.txt"},
        {"/link-in", root + "/sub/b.dat"},
        {"/link-out", ""},
        {"/link-sibling", ""}, // "root2" starts with "root" but is outside it
        {"/sub/up/outside.txt", ""},
        {"/../outside.txt", ""},
        {"/sub/../a.txt", ""},
        {"/sub", ""},
        {"/", ""},
        {"", ""},
        {"a.txt", ""},
        {"/missing.txt", ""},
        {QString("/a.txt") + QChar(u'\0'), ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.urlPath.toStdString());
        EXPECT_EQ(TFileServer::resolve(root, c.urlPath).toStdString(), c.served.toStdString());
    }
}

TEST(SelfSignedCertificate, CoversLocalhostFromJustBeforeNowForADay)
{
    const TSelfSignedCertificate certificate;
    X509 *cert = certificate.certificate();
    ASSERT_NE(cert, nullptr);
    EXPECT_EQ(X509_check_host(cert, "localhost", 0, 0, nullptr), 1);
    EXPECT_EQ(X509_check_ip_asc(cert, "127.0.0.1", 0), 1);
    EXPECT_NE(X509_check_host(cert, "example.com", 0, 0, nullptr), 1);
    EXPECT_EQ(X509_check_private_key(cert, certificate.privateKey()), 1);

    time_t soon = time(nullptr) + 60;
    time_t dayAhead = time(nullptr) + 86400;
    EXPECT_LT(X509_cmp_time(X509_get0_notBefore(cert), &soon), 0);
    EXPECT_GT(X509_cmp_time(X509_get0_notAfter(cert), &dayAhead), 0);
    EXPECT_TRUE(certificate.certificatePem().startsWith("-----BEGIN CERTIFICATE-----\n"));

    // Two starts never share a certificate.
    EXPECT_NE(TSelfSignedCertificate().certificatePem(), certificate.certificatePem());
}
