#include "app/Flashing.h"

#include "app/MessageBox.h"
#include "app/VersionOrder.h"
#include "common/FileIO.h"
#include "common/StrUtils.h"
#include "package/UpgradeFile.h"

bool partMatches(const QString &probePartName, const QString &packagePartName)
{
    if (probePartName == QLatin1String("unknow"))
        return true;
    return sameText(probePartName, packagePartName);
}

bool confirmVersion(const QString &probeVersion, const QString &packageVersion)
{
    if (compareVersions(packageVersion, probeVersion) >= 0)
        return true;
    return askYesNo(nullptr, QStringLiteral("Message"),
                    QStringLiteral("The current hardware version is higher than the upgrade file version!\r\nContinue?"))
        == rsYes;
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
