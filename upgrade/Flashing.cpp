#include "upgrade/Flashing.h"

#include "common/FileIO.h"
#include "common/StrUtils.h"
#include "package/UpgradeFile.h"
#include "platform/FileSystem.h"
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

void createEmptyFile(const QString &root, const QString &name)
{
    TFileWriter file = createFileInRoot(root, name);
    file.close();
}

void saveImage(const QString &root, const QString &name, const TUpgradeFile &package)
{
    TFileWriter file = createFileInRoot(root, name);
    package.saveFile(file);
}
