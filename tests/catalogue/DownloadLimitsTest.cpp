#include "support/RaisedText.h"
#include "ScriptedTlsServer.h"
#include "TestPrinters.h"

#include "catalogue/Catalogue.h"
#include "catalogue/DownloadLimits.h"
#include "catalogue/HTTPClient.h"
#include "catalogue/HTTPExceptions.h"
#include "platform/Clock.h"
#include "platform/DriveList.h"
#include "platform/FolderDriveList.h"
#include "upgrade/UpgradeEngine.h"

#include <QBuffer>
#include <gtest/gtest.h>

#include <functional>

namespace {

class TSilentReport : public IUpgradeReport
{
public:
    void addLog(const QString &, bool) override {}
    bool confirmOlder(const QString &) override { return false; }
};

} // namespace

// The catalogue and the package downloads each bring their own ceiling, pinned
// to the byte by a server that announces just that much or one byte more (and
// then sends only a little, so no test moves megabytes).
class DownloadCeilings : public ::testing::Test
{
protected:
    DownloadCeilings()
    {
        trusted.trust(server.certificatePem());
        http.OnWorkBegin = [this](THTTPClient &, TWorkMode, qint64 max) { announced << max; };
    }

    TScriptedTlsServer server;
    TTrustedCertificate trusted;
    THTTPClient http;
    QList<qint64> announced;
};

TEST_F(DownloadCeilings, CatalogueAndPackageEachAllowTheirOwn)
{
    TFolderDriveList noDrives;
    TSilentReport report;
    TUpgradeEngine engine(report, noDrives, Clock::instance());
    const struct
    {
        const char *name;
        QString path;
        qint64 ceiling;
        std::function<void(const QString &url)> download;
    } cases[] = {
        {"catalogue", "/Download/qv58link/filelist.txt", downloadLimits::CatalogueBytes,
            [this](const QString &url) {
                QStringList lines;
                downloadLines(http, url, lines);
            }},
        {"package", "/Download/qv58link/51563270_V1.2.0.dat", downloadLimits::PackageBytes,
            [&](const QString &url) {
                QBuffer buffer;
                buffer.open(QIODevice::ReadWrite);
                engine.downloadPackage(http, url, buffer);
            }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        // The client's own setting is not what these downloads go by.
        http.setMaxBodySize(10);
        const QString url = server.url(c.path);
        const QByteArray length = QByteArray::number(c.ceiling);

        announced.clear();
        server.answer("HTTP/1.1 200 OK\r\nContent-Length: " + length + "\r\n\r\nstart", TScriptedAnswer::Close);
        raisedText<EIdIncompleteBody>([&] { c.download(url); });
        EXPECT_EQ(announced, QList<qint64>{c.ceiling}) << "the ceiling itself was not let in";

        announced.clear();
        server.answer("HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(c.ceiling + 1) + "\r\n\r\nstart",
            TScriptedAnswer::Close);
        EXPECT_EQ(raisedText<EIdBodyTooLarge>([&] { c.download(url); }),
            QStringLiteral("Download too large: the server announced more than the %1 bytes allowed for \"%2\".")
                .arg(QString::fromLatin1(length), c.path.section('/', -1)));
        EXPECT_TRUE(announced.isEmpty());
        EXPECT_EQ(http.maxBodySize(), 10);
    }
}
