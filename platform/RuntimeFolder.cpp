#include "platform/RuntimeFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <vector>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A folder itself (not a link to one), of this user, closed to group and others.
bool isPrivateFolder(const QString &folder)
{
    struct stat info {};
    if (::lstat(QFile::encodeName(folder).constData(), &info) != 0)
        return false;
    return S_ISDIR(info.st_mode) && info.st_uid == ::getuid() && (info.st_mode & 077) == 0;
}

// Makes the folder 0700 when it is missing; an existing one is left as it is
// for isPrivateFolder to judge.
bool makeFolder(const QString &folder)
{
    return ::mkdir(QFile::encodeName(folder).constData(), 0700) == 0 || errno == EEXIST;
}

QString homeFolder()
{
    QString home = qEnvironmentVariable("HOME");
    if (home.isEmpty()) {
        // The reentrant form: probes are flashed from several threads at once.
        passwd entry {};
        passwd *found = nullptr;
        std::vector<char> buffer(16384);
        if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir)
            home = QFile::decodeName(found->pw_dir);
    }
    return home;
}

} // namespace

TRuntimeFolderCandidates runtimeFolderCandidates()
{
    const QString home = homeFolder();
    return {qEnvironmentVariable("XDG_RUNTIME_DIR"), QStringLiteral("/tmp/qv58link-%1").arg(::getuid()),
            home.isEmpty() ? QString() : QDir::cleanPath(home + QStringLiteral("/.cache/qv58link"))};
}

QString privateRuntimeFolder(const TRuntimeFolderCandidates &candidates)
{
    // The session's own folder is the system's to make: only ever taken as found.
    if (!candidates.runtimeDir.isEmpty() && isPrivateFolder(candidates.runtimeDir))
        return candidates.runtimeDir;
    if (!candidates.tmpFolder.isEmpty() && makeFolder(candidates.tmpFolder) && isPrivateFolder(candidates.tmpFolder))
        return candidates.tmpFolder;
    if (!candidates.homeFolder.isEmpty()) {
        // The cache folder above it may be missing on a fresh account.
        if (makeFolder(QFileInfo(candidates.homeFolder).path()) && makeFolder(candidates.homeFolder)
            && isPrivateFolder(candidates.homeFolder))
            return candidates.homeFolder;
    }
    return QString();
}

QString privateRuntimeFolder()
{
    return privateRuntimeFolder(runtimeFolderCandidates());
}
