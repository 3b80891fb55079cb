#include "platform/FileSystem.h"

#include "common/StrUtils.h"

#include <QDir>
#include <QFileInfo>

namespace {

// The name of a file in folder that equals name ignoring case; the exact
// spelling wins when several differ only in case. Empty when there is none.
QString matchingFileName(const QString &folder, const QString &name)
{
    if (name.isEmpty())
        return {};
    const QDir dir(folder.isEmpty() ? QStringLiteral(".") : folder);
    if (QFileInfo(dir.filePath(name)).isFile())
        return name;
    const QStringList entries =
        dir.entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &entry : entries) {
        if (sameText(entry, name))
            return entry;
    }
    return {};
}

struct PathParts
{
    QString folder; // with its trailing "/", or empty
    QString name;
};

PathParts splitPath(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(u'/');
    return {path.left(slash + 1), path.mid(slash + 1)};
}

} // namespace

bool fileExists(const QString &path)
{
    const PathParts parts = splitPath(path);
    return !matchingFileName(parts.folder, parts.name).isEmpty();
}

QString pathInRoot(const QString &root, const QString &name)
{
    const QString found = matchingFileName(root, name);
    return root + (found.isEmpty() ? name : found);
}

QString existingPath(const QString &path)
{
    const PathParts parts = splitPath(path);
    return pathInRoot(parts.folder, parts.name);
}
