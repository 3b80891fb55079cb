#pragma once

#include "common/FileIO.h"

#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

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

inline constexpr THostile AllHostile[] = {THostile::LinkToVictim, THostile::DanglingLink, THostile::Fifo,
                                          THostile::Folder, THostile::LinkToDevice,
                                          THostile::HardLink};

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

inline bool makeFifo(const QString &path)
{
    return ::mkfifo(QFile::encodeName(path).constData(), 0644) == 0;
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
            return QFile::link(victim(), path);
        case THostile::DanglingLink:
            return QFile::link(nowhere(), path);
        case THostile::Fifo:
            return makeFifo(path);
        case THostile::Folder:
            return QDir().mkdir(path);
        case THostile::LinkToDevice:
            return QFile::link(QStringLiteral("/dev/null"), path);
        case THostile::HardLink:
            return ::link(QFile::encodeName(victim()).constData(), QFile::encodeName(path).constData()) == 0;
        }
        return false;
    }

private:
    QTemporaryDir FDir;
};
