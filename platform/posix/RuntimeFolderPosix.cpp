#include "platform/RuntimeFolder.h"

#include "platform/RuntimeFolderDetail.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <vector>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace runtimeFolderDetail {

bool isPrivateFolder(const QString &folder)
{
    struct stat info {};
    if (::lstat(QFile::encodeName(folder).constData(), &info) != 0)
        return false;
    return S_ISDIR(info.st_mode) && info.st_uid == ::getuid() && (info.st_mode & 077) == 0;
}

bool makeFolder(const QString &folder)
{
    return ::mkdir(QFile::encodeName(folder).constData(), 0700) == 0 || errno == EEXIST;
}

} // namespace runtimeFolderDetail

namespace {

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
