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

// Creates the file, or empties an existing one. Raises EFCreateError.
void createEmptyFile(const QString &path);

// Writes the package's image to the file. Raises EFCreateError or EWriteError.
void saveImage(const QString &path, const TUpgradeFile &package);
