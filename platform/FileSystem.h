#pragma once

#include <QString>

// The probe's FAT volume ignores letter case, a Linux folder does not: the
// last component of a path is matched against its folder ignoring the case of
// A-Z, so "DETAILS.txt", "DETAILS.TXT" and "details.txt" are the same file.

// True when a file (not a folder) of that name exists. An unreadable or
// vanished folder gives false; this never raises.
bool fileExists(const QString &path);

// root + the name of the existing file that equals name ignoring case, so an
// existing "UPGRADE.HEX" is replaced rather than a second file made; root +
// name when there is none. The root ends with "/".
QString pathInRoot(const QString &root, const QString &name);

// The same for a whole path: its last component replaced by the existing
// file's own spelling, or the path unchanged.
QString existingPath(const QString &path);
