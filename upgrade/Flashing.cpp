#include "upgrade/Flashing.h"

#include "common/FileIO.h"
#include "common/StrUtils.h"
#include "package/UpgradeFile.h"
#include "upgrade/VersionOrder.h"

bool partMatches(const QString &probePartName, const QString &packagePartName)
{
    if (probePartName == QLatin1String("unknow"))
        return true;
    return sameText(probePartName, packagePartName);
}

bool isOlderVersion(const QString &probeVersion, const QString &packageVersion)
{
    return compareVersions(packageVersion, probeVersion) < 0;
}

void createEmptyFile(const QString &path)
{
    TFileWriter file(path);
    file.close();
}

void saveImage(const QString &path, const TUpgradeFile &package)
{
    package.saveFile(path);
}
