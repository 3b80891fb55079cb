#include "catalogue/DownloadLocation.h"

QString baseUrl()
{
    const QString overridden = qEnvironmentVariable("QV58LINK_DOWNLOAD_URL");
    return overridden.isEmpty() ? QStringLiteral(QV58LINK_DOWNLOAD_URL_DEFAULT) : overridden;
}

QString fileListUrl()
{
    return baseUrl() + QStringLiteral("filelist.txt");
}

QString upgradeFileUrl(const QString &upgradeFileName)
{
    return baseUrl() + upgradeFileName;
}
