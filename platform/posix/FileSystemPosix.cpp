#include "platform/FileSystemDetail.h"

#include "common/Exceptions.h"
#include "common/StrUtils.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace fileSystemDetail;

namespace {

QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

TEntryKind kindOf(mode_t mode)
{
    if (S_ISREG(mode))
        return TEntryKind::File;
    if (S_ISDIR(mode))
        return TEntryKind::Folder;
    if (S_ISLNK(mode))
        return TEntryKind::Link;
    return TEntryKind::Special;
}

// A folder held open, so that what is looked at and what is opened are
// entries of the same folder, whatever its path comes to mean meanwhile.
class TFolder
{
public:
    explicit TFolder(const QString &path)
        : FHandle(::open(path.isEmpty() ? "." : QFile::encodeName(path).constData(),
                         O_RDONLY | O_DIRECTORY | O_CLOEXEC))
        , FError(FHandle < 0 ? errno : 0)
    {
    }
    ~TFolder()
    {
        if (FHandle >= 0)
            ::close(FHandle);
    }
    TFolder(const TFolder &) = delete;
    TFolder &operator=(const TFolder &) = delete;

    bool isOpen() const { return FHandle >= 0; }
    int handle() const { return FHandle; }
    int error() const { return FError; }

    // The kind of the entry itself, a link not followed; None when it is not there.
    TEntryKind kindOf(const QByteArray &nativeName) const
    {
        struct stat info {};
        if (::fstatat(FHandle, nativeName.constData(), &info, AT_SYMLINK_NOFOLLOW) != 0)
            return TEntryKind::None;
        return ::kindOf(info.st_mode);
    }

    // Every entry whose name equals name ignoring case: the exact spelling
    // first, the others in code order.
    QList<TMatch> matches(const QString &name) const
    {
        QList<TMatch> found;
        if (FHandle < 0 || name.isEmpty())
            return found;
        // The stream takes over a descriptor of its own, leaving ours open.
        const int copy = ::fcntl(FHandle, F_DUPFD_CLOEXEC, 0);
        if (copy < 0)
            return found;
        DIR *dir = ::fdopendir(copy);
        if (dir == nullptr) {
            ::close(copy);
            return found;
        }
        // The copy shares its reading position with our descriptor.
        ::rewinddir(dir);
        while (const dirent *entry = ::readdir(dir)) {
            if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
                continue;
            const QString entryName = QFile::decodeName(entry->d_name);
            if (!sameText(entryName, name))
                continue;
            const QByteArray nativeName(entry->d_name);
            const TEntryKind kind = kindOf(nativeName);
            if (kind != TEntryKind::None) // gone since it was listed
                found.append({entryName, nativeName, kind});
        }
        ::closedir(dir);
        orderMatches(found, name);
        return found;
    }

private:
    int FHandle;
    int FError;
};

} // namespace

TDriveEntry findEntry(const QString &path)
{
    const PathParts parts = splitPath(path);
    if (parts.name.isEmpty())
        return {path, TEntryKind::None};
    const TFolder folder(parts.folder);
    if (!folder.isOpen())
        return {path, TEntryKind::None};
    // The common case, and the one a poll for the probe repeats: the exact
    // name is a file, and the folder need not be listed.
    if (folder.kindOf(QFile::encodeName(parts.name)) == TEntryKind::File)
        return {path, TEntryKind::File};
    const QList<TMatch> matches = folder.matches(parts.name);
    const TMatch *match = preferred(matches);
    if (match == nullptr)
        return {path, TEntryKind::None};
    return {parts.folder + match->name, match->kind};
}

TFileWriter createFileInRoot(const QString &root, const QString &name)
{
    // No drive: a bare name would land in the working folder.
    if (root.isEmpty())
        throw EFCreateError(name, systemReason(ENOENT));
    const TFolder folder(root);
    if (!folder.isOpen())
        throw EFCreateError(joined(root, name), systemReason(folder.error()));
    const QList<TMatch> matches = folder.matches(name);
    for (const TMatch &match : matches) {
        if (match.kind != TEntryKind::File)
            throw EFCreateError(joined(root, match.name), refusalReason(match.kind, TFileUse::Write));
    }
    const QString path = joined(root, matches.isEmpty() ? name : matches.first().name);
    const QByteArray nativeName = matches.isEmpty() ? QFile::encodeName(name) : matches.first().nativeName;
    // Not emptied on opening: only once it has proved to be a regular file.
    // Non-blocking, so a pipe put in its place meanwhile is refused at once.
    const int fd = ::openat(folder.handle(), nativeName.constData(),
                            O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644);
    if (fd < 0) {
        const int error = errno;
        throw EFCreateError(path, error == ELOOP ? refusalReason(TEntryKind::Link, TFileUse::Write)
                                                 : systemReason(error));
    }
    return TFileWriter(path, fd);
}

QByteArray readFileInRoot(const QString &root, const QString &name, qint64 maxBytes)
{
    const TFolder folder(root);
    if (!folder.isOpen())
        throw EFOpenError(joined(root, name), systemReason(folder.error()));
    const QList<TMatch> matches = folder.matches(name);
    const TMatch *match = preferred(matches);
    if (match == nullptr)
        throw EFOpenError(joined(root, name), systemReason(ENOENT));
    const QString path = joined(root, match->name);
    if (match->kind != TEntryKind::File)
        throw EFOpenError(path, refusalReason(match->kind, TFileUse::Read));
    const int fd = ::openat(folder.handle(), match->nativeName.constData(),
                            O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        throw EFOpenError(path, error == ELOOP ? refusalReason(TEntryKind::Link, TFileUse::Read) : systemReason(error));
    }
    return readRegularFile(path, fd, maxBytes);
}
