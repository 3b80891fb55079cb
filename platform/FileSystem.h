#pragma once

#include "common/FileIO.h"

#include <QByteArray>
#include <QString>

// The probe's FAT volume ignores letter case, a Linux folder does not: the
// last component of a path is matched against its folder ignoring the case of
// A-Z, so "DETAILS.txt", "DETAILS.TXT" and "details.txt" are the same file.
//
// A drive that only claims to be the probe may hold links, pipes or devices
// under the tool's names. Entries are judged as they are, never through a
// link, and only regular files are ever read, written or counted.

enum class TEntryKind {
    None,
    File, // a regular file
    Folder,
    Link, // a symbolic link, whatever it points to
    Special, // a device, pipe or socket
};

struct TDriveEntry
{
    // The folder followed by the entry's own spelling; the path as asked
    // when there is no such entry.
    QString path;
    TEntryKind kind = TEntryKind::None;
};

// The entry at path, its name matched ignoring case: a regular file wins over
// any other kind, then the exact spelling, then the first name in code order.
// An unreadable or vanished folder gives None; this never raises.
TDriveEntry findEntry(const QString &path);

// True when a regular file of that name exists. A folder, a link (even to a
// file) or a special file does not count, so a "Fail.txt" that is not a
// plain file leaves the result to the check of the probe's version. Never
// raises.
bool fileExists(const QString &path);

// root + the name of the existing regular file that equals name ignoring
// case, so an existing "UPGRADE.HEX" is replaced rather than a second file
// made; root + name when there is none. The root ends with "/".
QString pathInRoot(const QString &root, const QString &name);

// The same for a whole path: its last component replaced by the existing
// file's own spelling, or the path unchanged.
QString existingPath(const QString &path);

// What the tool does with a file on the drive, for the reasons it gives.
enum class TFileUse { Read, Write };

// Why an entry of this kind is not read or written; empty for a file or none.
QString refusalReason(TEntryKind kind, TFileUse use);

// Creates the file name in root, or empties the existing one that equals it
// ignoring case, and returns its writer. The file is opened inside root and
// never through a link, so nothing outside the drive is created or touched.
// Raises EFCreateError naming the path, writing nothing, when an entry of
// that name in any letter case is a link, a folder or a special file (one of
// them is not passed by with a new file beside it), or when the system
// refuses.
TFileWriter createFileInRoot(const QString &root, const QString &name);

// Reads the regular file name in root (letter case ignored) without following
// a link and without blocking, at most maxBytes of it. Raises EFOpenError
// naming the path: missing, a link, a folder or a special file, too large,
// or refused by the system.
QByteArray readFileInRoot(const QString &root, const QString &name, qint64 maxBytes);
