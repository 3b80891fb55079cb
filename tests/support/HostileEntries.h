#pragma once

#include "common/FileIO.h"
#include "support/TestSystem.h"

#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <QList>

// A drive that only claims to be the probe's may hold, under one of the
// tool's names, an entry that is no regular file and leads elsewhere.
enum class THostile {
    LinkToVictim, // a link to a file outside the drive
    DanglingLink, // a link to a name outside the drive that does not exist yet
    Fifo,
    Folder,
    LinkToDevice, // a link to /dev/null
    HardLink,     // a second name of the file outside (same file system)
};

// Every kind this system can make: Windows has no FIFOs and no device
// files, and under Wine no links either.
inline QList<THostile> allHostile()
{
    QList<THostile> kinds;
    if (canMakeSymbolicLinks())
        kinds << THostile::LinkToVictim << THostile::DanglingLink;
    if (hasSpecialFiles())
        kinds << THostile::Fifo;
    kinds << THostile::Folder;
    if (hasSpecialFiles() && canMakeSymbolicLinks())
        kinds << THostile::LinkToDevice;
    kinds << THostile::HardLink;
    return kinds;
}

inline const char *nameOf(THostile kind)
{
    switch (kind) {
    case THostile::LinkToVictim:
        return "link to a file outside";
    case THostile::DanglingLink:
        return "dangling link outside";
    case THostile::Fifo:
        return "fifo";
    case THostile::Folder:
        return "folder";
    case THostile::LinkToDevice:
        return "link to /dev/null";
    case THostile::HardLink:
        return "hard link to a file outside";
    }
    return "?";
}

inline bool isLink(THostile kind)
{
    return kind == THostile::LinkToVictim || kind == THostile::DanglingLink || kind == THostile::LinkToDevice;
}

// A folder beside the drive holding one file that nothing may change; a
// dangling link points at a name in it that nothing may create.
class TOutside
{
public:
    TOutside() { writeWholeFile(victim(), precious()); }

    QString victim() const { return FDir.filePath(QStringLiteral("victim.txt")); }
    QString nowhere() const { return FDir.filePath(QStringLiteral("created.txt")); }
    static QByteArray precious() { return QByteArrayLiteral("precious, never to be written"); }

    // The victim byte for byte as it was, and nothing beside it.
    bool untouched() const
    {
        const QStringList entries =
            QDir(FDir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
        return entries == QStringList{QStringLiteral("victim.txt")} && readWholeFile(victim()) == precious();
    }

    // Puts an entry of that kind at path; false when it cannot be made.
    bool plant(THostile kind, const QString &path) const
    {
        switch (kind) {
        case THostile::LinkToVictim:
            return makeSymbolicLink(victim(), path);
        case THostile::DanglingLink:
            return makeSymbolicLink(nowhere(), path);
        case THostile::Fifo:
            return makeFifo(path);
        case THostile::Folder:
            return QDir().mkdir(path);
        case THostile::LinkToDevice:
            return makeSymbolicLink(QStringLiteral("/dev/null"), path);
        case THostile::HardLink:
            return makeHardLink(victim(), path);
        }
        return false;
    }

private:
    QTemporaryDir FDir;
};
