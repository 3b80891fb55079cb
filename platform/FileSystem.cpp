#include "platform/FileSystemDetail.h"

#include <algorithm>

namespace fileSystemDetail {

PathParts splitPath(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(u'/');
    return {path.left(slash + 1), path.mid(slash + 1)};
}

QString joined(const QString &root, const QString &name)
{
    if (root.isEmpty() || root.endsWith(u'/'))
        return root + name;
    return root + u'/' + name;
}

void orderMatches(QList<TMatch> &matches, const QString &name)
{
    std::sort(matches.begin(), matches.end(), [&name](const TMatch &a, const TMatch &b) {
        if ((a.name == name) != (b.name == name))
            return a.name == name;
        return a.name < b.name;
    });
}

const TMatch *preferred(const QList<TMatch> &matches)
{
    const auto file = std::find_if(matches.begin(), matches.end(),
                                   [](const TMatch &m) { return m.kind == TEntryKind::File; });
    if (file != matches.end())
        return &*file;
    return matches.isEmpty() ? nullptr : &matches.first();
}

} // namespace fileSystemDetail

using namespace fileSystemDetail;

bool fileExists(const QString &path)
{
    return findEntry(path).kind == TEntryKind::File;
}

QString pathInRoot(const QString &root, const QString &name)
{
    const TDriveEntry entry = findEntry(root + name);
    return entry.kind == TEntryKind::File ? entry.path : root + name;
}

QString existingPath(const QString &path)
{
    const PathParts parts = splitPath(path);
    return pathInRoot(parts.folder, parts.name);
}

QString refusalReason(TEntryKind kind, TFileUse use)
{
    switch (kind) {
    case TEntryKind::Folder:
        return fileReason::folder();
    case TEntryKind::Link:
        return use == TFileUse::Write
            ? QStringLiteral("It is a symbolic link; only a regular file is written on the probe's drive.")
            : QStringLiteral("It is a symbolic link; only a regular file is read on the probe's drive.");
    case TEntryKind::Special:
        return fileReason::special();
    case TEntryKind::None:
    case TEntryKind::File:
        break;
    }
    return {};
}
