#include "platform/RuntimeFolder.h"

#include "common/windows/SystemError.h"
#include "platform/RuntimeFolderDetail.h"

#include <QDir>
#include <QStandardPaths>

#include <vector>

#include <windows.h>

#include <aclapi.h>

namespace {

// The SIDs a folder this user made may be owned by: the user, or the owner
// the user's token gives new objects (the Administrators group for an
// elevated administrator).
bool ownedByThisUser(PSID owner)
{
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    bool owned = false;
    for (const TOKEN_INFORMATION_CLASS kind : {TokenUser, TokenOwner}) {
        DWORD size = 0;
        ::GetTokenInformation(token, kind, nullptr, 0, &size);
        if (size == 0)
            continue;
        std::vector<char> buffer(size);
        if (!::GetTokenInformation(token, kind, buffer.data(), size, &size))
            continue;
        const PSID sid = kind == TokenUser ? reinterpret_cast<TOKEN_USER *>(buffer.data())->User.Sid
                                           : reinterpret_cast<TOKEN_OWNER *>(buffer.data())->Owner;
        if (::EqualSid(sid, owner)) {
            owned = true;
            break;
        }
    }
    ::CloseHandle(token);
    return owned;
}

} // namespace

namespace runtimeFolderDetail {

// The folder lies in the user's profile, whose inherited access list shuts
// other users out; what is checked is that it is a folder itself, not a
// junction to one elsewhere, and that this user made it.
bool isPrivateFolder(const QString &folder)
{
    const std::wstring path = nativePath(folder);
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)
        || (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return false;
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                                nullptr, &descriptor)
        != ERROR_SUCCESS)
        return false;
    const bool owned = owner != nullptr && ownedByThisUser(owner);
    ::LocalFree(descriptor);
    return owned;
}

bool makeFolder(const QString &folder)
{
    // The default access list: inherited from the user's profile.
    return ::CreateDirectoryW(nativePath(folder).c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS;
}

} // namespace runtimeFolderDetail

// Windows has no session folder and no shared temporary one: only the
// user's local application data, %LOCALAPPDATA%\qv58link.
TRuntimeFolderCandidates runtimeFolderCandidates()
{
    QString localData = qEnvironmentVariable("LOCALAPPDATA");
    if (localData.isEmpty())
        localData = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (localData.isEmpty())
        return {};
    return {QString(), QString(), QDir::cleanPath(QDir::fromNativeSeparators(localData) + QStringLiteral("/qv58link"))};
}
