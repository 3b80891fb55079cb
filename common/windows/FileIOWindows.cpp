#include "common/FileIO.h"

#include "common/Exceptions.h"
#include "common/windows/SystemError.h"

#include <limits>
#include <utility>

#include <windows.h>

namespace {

// ReadFile and WriteFile count in DWORDs.
constexpr qint64 MaxTransfer = qint64(1) << 30;

// Others may go on reading what is read, but nobody may change it meanwhile.
HANDLE openForReading(const QString &fileName)
{
    // Backup semantics let a folder open too, so that it is refused as a
    // folder rather than with "Access is denied".
    const HANDLE handle = ::CreateFileW(nativePath(fileName).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        throw EFOpenError(fileName, lastErrorText());
    return handle;
}

// Empty for a regular file; the system's reason when it cannot tell.
QString notRegularReason(HANDLE handle)
{
    if (::GetFileType(handle) != FILE_TYPE_DISK)
        return fileReason::special();
    BY_HANDLE_FILE_INFORMATION info {};
    if (!::GetFileInformationByHandle(handle, &info))
        return lastErrorText();
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return fileReason::folder();
    return {};
}

// Closes the handle on every way out of a read.
class THandleGuard
{
public:
    explicit THandleGuard(HANDLE handle)
        : FHandle(handle)
    {
    }
    ~THandleGuard() { ::CloseHandle(FHandle); }
    THandleGuard(const THandleGuard &) = delete;
    THandleGuard &operator=(const THandleGuard &) = delete;

private:
    HANDLE FHandle;
};

// Reads on until the end or until limit bytes have come; false with the
// system's error when a read fails.
bool readUpTo(HANDLE handle, qint64 limit, QByteArray &data)
{
    char chunk[65536];
    while (data.size() < limit) {
        DWORD got = 0;
        const DWORD asked = DWORD(qMin<qint64>(qint64(sizeof chunk), limit - data.size()));
        if (!::ReadFile(handle, chunk, asked, &got, nullptr)) {
            // A pipe whose writer has gone is at its end.
            if (::GetLastError() == ERROR_BROKEN_PIPE)
                break;
            return false;
        }
        if (got == 0)
            break;
        data.append(chunk, qsizetype(got));
    }
    return true;
}

} // namespace

QByteArray readWholeFile(const QString &fileName)
{
    const HANDLE handle = openForReading(fileName);
    const THandleGuard guard(handle);
    QByteArray data;
    if (!readUpTo(handle, std::numeric_limits<qsizetype>::max(), data))
        throw EFOpenError(fileName, lastErrorText());
    return data;
}

QByteArray readWholeFile(const QString &fileName, qint64 maxBytes)
{
    return readRegularFile(fileName, openForReading(fileName), maxBytes);
}

QByteArray readRegularFile(const QString &fileName, TFileHandle handle, qint64 maxBytes)
{
    const THandleGuard guard(handle);
    const QString refusal = notRegularReason(handle);
    if (!refusal.isEmpty())
        throw EFOpenError(fileName, refusal);

    // The size the system gives is only a hint: the bound holds for the
    // bytes that really come, one more than allowed proving the file too large.
    const qint64 limit = qMax<qint64>(maxBytes, 0) + 1;
    QByteArray data;
    LARGE_INTEGER size {};
    if (::GetFileSizeEx(handle, &size))
        data.reserve(qsizetype(qBound<qint64>(0, size.QuadPart, limit)));
    if (!readUpTo(handle, limit, data))
        throw EFOpenError(fileName, lastErrorText());
    if (data.size() >= limit)
        throw EFOpenError(fileName, fileReason::tooLarge(maxBytes));
    return data;
}

TFileWriter::TFileWriter(const QString &fileName)
    : FFileName(fileName)
{
    const HANDLE handle = ::CreateFileW(nativePath(fileName).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                        CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        throw EFCreateError(fileName, lastErrorText());
    FHandle = handle;
}

TFileWriter::TFileWriter(const QString &fileName, TFileHandle handle)
    : FFileName(fileName)
    , FHandle(handle)
{
    // The destructor does not run for a constructor that raises.
    const auto refuse = [this](const QString &reason) {
        ::CloseHandle(std::exchange(FHandle, NoFileHandle));
        throw EFCreateError(FFileName, reason);
    };
    const QString refusal = notRegularReason(FHandle);
    if (!refusal.isEmpty())
        refuse(refusal);
    BY_HANDLE_FILE_INFORMATION info {};
    if (!::GetFileInformationByHandle(FHandle, &info))
        refuse(lastErrorText());
    // A FAT volume has no hard links; on a folder standing in for a drive a
    // second name could be a file of the user's elsewhere on the same disk.
    if (info.nNumberOfLinks > 1)
        refuse(fileReason::otherNames());
    LARGE_INTEGER start {};
    if (!::SetFilePointerEx(FHandle, start, nullptr, FILE_BEGIN) || !::SetEndOfFile(FHandle))
        refuse(lastErrorText());
}

TFileWriter::~TFileWriter()
{
    if (FHandle != NoFileHandle)
        ::CloseHandle(FHandle);
}

qint64 TFileWriter::writeAll(const char *data, qint64 size)
{
    qint64 done = 0;
    while (done < size) {
        DWORD put = 0;
        if (!::WriteFile(FHandle, data + done, DWORD(qMin(size - done, MaxTransfer)), &put, nullptr))
            throw EFWriteError(FFileName, lastErrorText());
        if (put == 0)
            break;
        done += put;
    }
    return done;
}

void TFileWriter::close()
{
    if (FHandle == NoFileHandle)
        return;
    const HANDLE handle = std::exchange(FHandle, NoFileHandle);
    // Handles that cannot be flushed (consoles, some devices) have nothing pending.
    DWORD error = ERROR_SUCCESS;
    if (!::FlushFileBuffers(handle) && ::GetLastError() != ERROR_INVALID_FUNCTION)
        error = ::GetLastError();
    if (!::CloseHandle(handle) && error == ERROR_SUCCESS)
        error = ::GetLastError();
    if (error != ERROR_SUCCESS)
        throw EFWriteError(FFileName, systemErrorText(error));
}
