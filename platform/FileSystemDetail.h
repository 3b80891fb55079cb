#pragma once

// What the portable and the system side of platform/FileSystem.h share;
// nothing outside them includes this.

#include "platform/FileSystem.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace fileSystemDetail {

struct PathParts
{
    QString folder; // with its trailing "/", or empty
    QString name;
};

PathParts splitPath(const QString &path);

// root and name with one "/" between them.
QString joined(const QString &root, const QString &name);

struct TMatch
{
    QString name;
    QByteArray nativeName; // as the folder holds it, which a decoded name need not give back
    TEntryKind kind = TEntryKind::None;
};

// Puts the exact spelling of name first, the others in code order.
void orderMatches(QList<TMatch> &matches, const QString &name);

// The match a read takes: a regular file before anything else; nullptr for none.
const TMatch *preferred(const QList<TMatch> &matches);

} // namespace fileSystemDetail
