#pragma once

// The system's side of platform/RuntimeFolder.h; nothing else includes this.

#include <QString>

namespace runtimeFolderDetail {

// A folder itself (not a link to one), of this user, closed to everyone else.
bool isPrivateFolder(const QString &folder);

// Makes the folder, open to this user alone, when it is missing; an existing
// one is left as it is for isPrivateFolder to judge.
bool makeFolder(const QString &folder);

} // namespace runtimeFolderDetail
