#include "platform/ProbeLock.h"

#include "common/windows/SystemError.h"

#include <windows.h>

namespace {

constexpr int OpenAttempts = 64;

} // namespace

TProbeLock::TState TProbeLock::tryLock()
{
    if (FState == Held || FState == Unguarded)
        return FState;
    FState = Unguarded;
    if (FPath.isEmpty())
        return FState;
    // Not shared for deletion: a holder that lets go removes the file only
    // when no rival has it open, so nobody ever locks a file that has lost
    // its name. While a removal is under way the name cannot be opened; a
    // moment later it can be made afresh.
    HANDLE handle = INVALID_HANDLE_VALUE;
    DWORD error = ERROR_SUCCESS;
    for (int attempt = 0; attempt < OpenAttempts; ++attempt) {
        handle = ::CreateFileW(nativePath(FPath).c_str(), GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                               nullptr);
        if (handle != INVALID_HANDLE_VALUE)
            break;
        error = ::GetLastError();
        if (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED)
            return FState;
        ::SwitchToThread();
    }
    if (handle == INVALID_HANDLE_VALUE) {
        // The name keeps being taken away: someone is busy with the probe.
        // A name this user may not open at all guards nothing.
        FState = error == ERROR_SHARING_VIOLATION ? Busy : Unguarded;
        return FState;
    }
    OVERLAPPED start {};
    if (!::LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &start)) {
        const bool busy = ::GetLastError() == ERROR_LOCK_VIOLATION;
        ::CloseHandle(handle);
        FState = busy ? Busy : Unguarded;
        return FState;
    }
    FHandle = handle;
    FState = Held;
    return FState;
}

void TProbeLock::unlock()
{
    if (FHandle != NoFileHandle) {
        // Closing drops the lock; the file goes unless a rival has it open
        // this moment, and is then left for the last one to remove.
        ::CloseHandle(FHandle);
        FHandle = NoFileHandle;
        ::DeleteFileW(nativePath(FPath).c_str());
    }
    FState = Free;
}
