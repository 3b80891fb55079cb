#include "platform/FolderDriveList.h"

#include "platform/DriveRoot.h"

#include <QDir>
#include <QFileInfo>

TFolderDriveList::TFolderDriveList(const QString &folders)
{
    for (const QString &folder : folders.split(QDir::listSeparator(), Qt::SkipEmptyParts))
        FRoots.append(withTrailingSlash(QDir::cleanPath(QDir::current().absoluteFilePath(folder))));
}

QList<TDriveInfo> TFolderDriveList::drives()
{
    QList<TDriveInfo> present;
    for (const QString &root : FRoots) {
        if (QFileInfo(root).isDir())
            present.append(TDriveInfo{root, TDriveType::Removable, root});
    }
    return present;
}
