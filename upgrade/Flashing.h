#pragma once

#include <QString>

class TUpgradeFile;

// Names of the files that drive the probe's bootloader.
inline const QString StartBootloaderFileName = QStringLiteral("START_BL.ACT");
inline const QString ImageFileName = QStringLiteral("upgrade.Hex");
inline const QString FailFileName = QStringLiteral("Fail.txt");

// A probe of unknown model ("unknow") takes a package of any part name.
bool partMatches(const QString &probePartName, const QString &packagePartName);

// Whether installing packageVersion over probeVersion needs the user's
// consent first: the package's version is below the probe's.
bool isOlderVersion(const QString &probeVersion, const QString &packageVersion);

// Creates the file name in the drive's root, or empties the existing one of
// that name in any letter case; never through a link, never outside the root.
// Raises EFCreateError.
void createEmptyFile(const QString &root, const QString &name);

// Writes the package's image to the file name in the drive's root, as
// createEmptyFile opens it. Raises EFCreateError or EFWriteError.
void saveImage(const QString &root, const QString &name, const TUpgradeFile &package);
