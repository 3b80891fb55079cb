#include "upgrade/Package.h"

#include "catalogue/DownloadLimits.h"
#include "catalogue/DownloadLocation.h"
#include "catalogue/HTTPClient.h"
#include "common/Exceptions.h"
#include "common/FileIO.h"

#include <QBuffer>
#include <QFileInfo>

namespace downloadText {

QString announce()
{
    return QStringLiteral("Download upgrade file from websuit ... ");
}

QString begin(qint64 total)
{
    return QStringLiteral("Download upgrade file from website... 0/%1 Byte").arg(total);
}

QString progress(qint64 count, qint64 total)
{
    return QStringLiteral("Download upgrade file from website ... %1/%2 Byte").arg(count).arg(total);
}

} // namespace downloadText

namespace {

TUpgradeFile readerOf(const QByteArray &bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    return TUpgradeFile(buffer);
}

// The report hears of the client's progress for one request, after the
// client's own handlers, which are left as they were on every way out.
class TProgressToReport
{
public:
    TProgressToReport(THTTPClient &http, IUpgradeReport &report)
        : FHttp(http)
        , FOnWorkBegin(http.OnWorkBegin)
        , FOnWork(http.OnWork)
    {
        http.OnWorkBegin = [this, &report](THTTPClient &sender, TWorkMode mode, qint64 total) {
            if (FOnWorkBegin)
                FOnWorkBegin(sender, mode, total);
            FTotal = total;
            report.step(TUpgradeStep::Download, 0, total);
            report.addLog(downloadText::begin(total), true);
        };
        http.OnWork = [this, &report](THTTPClient &sender, TWorkMode mode, qint64 count) {
            if (FOnWork)
                FOnWork(sender, mode, count);
            report.step(TUpgradeStep::Download, count, FTotal);
            report.addLog(downloadText::progress(count, FTotal), true);
        };
    }
    ~TProgressToReport()
    {
        FHttp.OnWorkBegin = std::move(FOnWorkBegin);
        FHttp.OnWork = std::move(FOnWork);
    }
    TProgressToReport(const TProgressToReport &) = delete;
    TProgressToReport &operator=(const TProgressToReport &) = delete;

private:
    THTTPClient &FHttp;
    decltype(THTTPClient::OnWorkBegin) FOnWorkBegin;
    decltype(THTTPClient::OnWork) FOnWork;
    qint64 FTotal = 0;
};

} // namespace

TUpgradePackage::TUpgradePackage(const QByteArray &bytes)
    : FBytes(bytes)
    , FFile(readerOf(bytes))
{
    if (!FFile.valid())
        throw Exception(QStringLiteral("Invalid upgrade file!"));
}

void downloadPackage(THTTPClient &http, const QString &url, QBuffer &buffer, IUpgradeReport &report)
{
    report.addLog(downloadText::announce(), false);
    http.setContentType(QStringLiteral("application/x-www-form-urlencoded"));
    buffer.buffer().clear();
    buffer.seek(0);
    const TProgressToReport progress(http, report);
    http.Get(url, buffer, downloadLimits::PackageBytes);
}

TPackage validatePackage(const QByteArray &bytes, IUpgradeReport &report)
{
    report.step(TUpgradeStep::Validate, 0, 0);
    return std::make_shared<const TUpgradePackage>(bytes);
}

TPackage readPackage(const QString &path, IUpgradeReport &report)
{
    return validatePackage(readWholeFile(path, downloadLimits::PackageBytes), report);
}

TPackageShelf::TPackageShelf(THTTPClient &http)
    : FHttp(http)
{
}

TPackage TPackageShelf::fromCatalogue(const QString &fileName, IUpgradeReport &report)
{
    TPackage &slot = FDownloaded[fileName];
    if (!slot) {
        QBuffer buffer;
        buffer.open(QIODevice::ReadWrite);
        downloadPackage(FHttp, upgradeFileUrl(fileName), buffer, report);
        slot = validatePackage(buffer.data(), report);
    }
    return slot;
}

TPackage TPackageShelf::fromFile(const QString &path, IUpgradeReport &report)
{
    TPackage &slot = FRead[QFileInfo(path).absoluteFilePath()];
    if (!slot)
        slot = readPackage(path, report);
    return slot;
}
