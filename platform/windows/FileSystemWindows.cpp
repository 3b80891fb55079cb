#include "platform/FileSystemDetail.h"

#include "common/Exceptions.h"
#include "common/StrUtils.h"
#include "common/windows/SystemError.h"

#include <windows.h>

using namespace fileSystemDetail;

namespace {

// Links and junctions are reparse points; so is anything else that sends
// the system elsewhere, and none of it is a file of the drive's own.
TEntryKind kindOf(DWORD attributes)
{
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return TEntryKind::Link;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return TEntryKind::Folder;
    return TEntryKind::File;
}

// The answers of a look-up that mean there is nothing of that name; a drive
// without a medium has no files either.
bool isMissing(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME
        || error == ERROR_NOT_READY;
}

// Every entry of folder whose name equals name ignoring case, the exact
// spelling first. False with the system's error when the folder cannot be
// listed; NTFS and FAT ignore case themselves, but a folder may be made
// case-sensitive, and a pattern must not be read into a name.
bool listMatches(const QString &folder, const QString &name, QList<TMatch> &found, DWORD &error)
{
    found.clear();
    error = ERROR_SUCCESS;
    if (name.isEmpty())
        return true;
    WIN32_FIND_DATAW entry {};
    const HANDLE search = ::FindFirstFileExW(nativePath(folder + u'*').c_str(), FindExInfoBasic, &entry,
                                             FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) {
        error = ::GetLastError();
        // A root folder with no entries at all.
        return error == ERROR_FILE_NOT_FOUND;
    }
    do {
        const QString entryName = QString::fromWCharArray(entry.cFileName);
        if (sameText(entryName, name))
            found.append({entryName, QByteArray(), kindOf(entry.dwFileAttributes)});
    } while (::FindNextFileW(search, &entry));
    const DWORD ended = ::GetLastError();
    ::FindClose(search);
    if (ended != ERROR_NO_MORE_FILES) {
        error = ended;
        return false;
    }
    orderMatches(found, name);
    return true;
}

// What an opened entry is, judged on the handle: the entry opened is the
// one judged, whatever its name comes to mean meanwhile.
TEntryKind kindOfOpened(HANDLE handle)
{
    if (::GetFileType(handle) != FILE_TYPE_DISK)
        return TEntryKind::Special;
    BY_HANDLE_FILE_INFORMATION info {};
    if (!::GetFileInformationByHandle(handle, &info))
        return TEntryKind::None;
    return kindOf(info.dwFileAttributes);
}

} // namespace

TDriveEntry findEntry(const QString &path)
{
    const PathParts parts = splitPath(path);
    if (parts.name.isEmpty())
        return {path, TEntryKind::None};
    // The common answer, and the one a poll for the probe repeats: nothing
    // there, and the folder need not be listed. Any other failure (a file
    // held open without sharing, for one) leaves it to the listing.
    if (::GetFileAttributesW(nativePath(path).c_str()) == INVALID_FILE_ATTRIBUTES && isMissing(::GetLastError()))
        return {path, TEntryKind::None};
    QList<TMatch> matches;
    DWORD error = ERROR_SUCCESS;
    if (!listMatches(parts.folder, parts.name, matches, error))
        return {path, TEntryKind::None};
    const TMatch *match = preferred(matches);
    if (match == nullptr)
        return {path, TEntryKind::None};
    return {parts.folder + match->name, match->kind};
}

TFileWriter createFileInRoot(const QString &root, const QString &name)
{
    // No drive: a bare name would land in the working folder.
    if (root.isEmpty())
        throw EFCreateError(name, systemErrorText(ERROR_PATH_NOT_FOUND));
    QList<TMatch> matches;
    DWORD error = ERROR_SUCCESS;
    if (!listMatches(joined(root, QString()), name, matches, error))
        throw EFCreateError(joined(root, name), systemErrorText(error));
    for (const TMatch &match : matches) {
        if (match.kind != TEntryKind::File)
            throw EFCreateError(joined(root, match.name), refusalReason(match.kind, TFileUse::Write));
    }
    const QString path = joined(root, matches.isEmpty() ? name : matches.first().name);
    // Not emptied on opening: only once it has proved to be a regular file.
    // A link put in its place meanwhile is opened as itself, never followed.
    const HANDLE handle = ::CreateFileW(nativePath(path).c_str(), GENERIC_WRITE | FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        throw EFCreateError(path, lastErrorText());
    if (kindOfOpened(handle) == TEntryKind::Link) {
        ::CloseHandle(handle);
        throw EFCreateError(path, refusalReason(TEntryKind::Link, TFileUse::Write));
    }
    return TFileWriter(path, handle);
}

QByteArray readFileInRoot(const QString &root, const QString &name, qint64 maxBytes)
{
    QList<TMatch> matches;
    DWORD error = ERROR_SUCCESS;
    if (!listMatches(joined(root, QString()), name, matches, error))
        throw EFOpenError(joined(root, name), systemErrorText(error));
    const TMatch *match = preferred(matches);
    if (match == nullptr)
        throw EFOpenError(joined(root, name), systemErrorText(ERROR_FILE_NOT_FOUND));
    const QString path = joined(root, match->name);
    if (match->kind != TEntryKind::File)
        throw EFOpenError(path, refusalReason(match->kind, TFileUse::Read));
    // Others may read the details meanwhile, but not change them under the reader.
    const HANDLE handle = ::CreateFileW(nativePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                                        nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        throw EFOpenError(path, lastErrorText());
    if (kindOfOpened(handle) == TEntryKind::Link) {
        ::CloseHandle(handle);
        throw EFOpenError(path, refusalReason(TEntryKind::Link, TFileUse::Read));
    }
    return readRegularFile(path, handle, maxBytes);
}
