#include "app/SingleInstance.h"

#include <QCryptographicHash>

#include <utility>

#include <windows.h>

namespace {

// One copy per executable and desktop session.
constexpr quint16 InstanceLimit = 1;
constexpr int RegistrySlots = 257;

// Zero-filled by the system when first made: a limit of 0 is "not yet set".
struct TRegistry
{
    quint16 limit;
    quint16 count;
    quint32 processIds[RegistrySlots]; // oldest first
};

// Holds the registry's mutex for a scope. A holder that died with it leaves
// it abandoned, which still gives it to the next one.
class TRegistryHold
{
public:
    explicit TRegistryHold(HANDLE mutex)
        : FMutex(mutex)
    {
        const DWORD waited = ::WaitForSingleObject(mutex, INFINITE);
        FHeld = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
    }
    ~TRegistryHold()
    {
        if (FHeld)
            ::ReleaseMutex(FMutex);
    }
    TRegistryHold(const TRegistryHold &) = delete;
    TRegistryHold &operator=(const TRegistryHold &) = delete;

    bool held() const { return FHeld; }

private:
    HANDLE FMutex;
    bool FHeld = false;
};

// A process that has ended, or never was. One that cannot be asked (it runs
// with other rights) is taken to run.
bool processEnded(quint32 processId)
{
    const HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, processId);
    if (process == nullptr)
        return ::GetLastError() == ERROR_INVALID_PARAMETER;
    const bool ended = ::WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
    ::CloseHandle(process);
    return ended;
}

// A copy that crashed while another process of its identity kept the
// registry alive would otherwise refuse every later start.
void dropEnded(TRegistry &registry)
{
    int kept = 0;
    for (int i = 0; i < registry.count; ++i) {
        if (!processEnded(registry.processIds[i]))
            registry.processIds[kept++] = registry.processIds[i];
    }
    registry.count = quint16(kept);
}

void removeProcess(TRegistry &registry, quint32 processId)
{
    for (int i = 0; i < registry.count; ++i) {
        if (registry.processIds[i] != processId)
            continue;
        for (int j = i + 1; j < registry.count; ++j)
            registry.processIds[j - 1] = registry.processIds[j];
        --registry.count;
        return;
    }
}

struct TWindowSearch
{
    DWORD processId = 0;
    HWND window = nullptr;
};

// The process's main window: visible (minimised counts), top-level and
// owned by no other window, the first in z-order.
BOOL CALLBACK findMainWindow(HWND window, LPARAM data)
{
    auto *search = reinterpret_cast<TWindowSearch *>(data);
    DWORD processId = 0;
    ::GetWindowThreadProcessId(window, &processId);
    if (processId != search->processId || ::GetWindow(window, GW_OWNER) != nullptr || !::IsWindowVisible(window))
        return TRUE;
    search->window = window;
    return FALSE;
}

void closeHandle(void *&handle)
{
    if (handle != nullptr)
        ::CloseHandle(std::exchange(handle, nullptr));
}

// A kernel object's name is at most MAX_PATH characters and holds no
// backslash past its namespace; a path too long for that is named by its hash.
QString kernelObjectName(const QString &session, const QString &identity, const QString &suffix)
{
    QString own = identity;
    own.replace(QLatin1Char('\\'), QLatin1Char('_'));
    if (session.size() + own.size() + suffix.size() > MAX_PATH) {
        own = QStringLiteral("JCL")
            + QString::fromLatin1(QCryptographicHash::hash(own.toUtf8(), QCryptographicHash::Sha1).toHex().toUpper());
    }
    return session + own + suffix;
}

} // namespace

QString TSingleInstance::sessionDirectory()
{
    return QStringLiteral("Local\\");
}

QString TSingleInstance::lockFilePath() const
{
    return kernelObjectName(FSessionDirectory, FIdentity, QStringLiteral("_Otx"));
}

QString TSingleInstance::serverName() const
{
    return kernelObjectName(FSessionDirectory, FIdentity, QStringLiteral("_All"));
}

bool TSingleInstance::lockTaken() const
{
    return FRegistryView != nullptr && FMayRun;
}

TSingleInstance::TLockResult TSingleInstance::takeLock()
{
    if (FRegistryView != nullptr)
        return FMayRun ? TLockResult::Taken : TLockResult::HeldByOther;
    FRegistryLock = ::CreateMutexW(nullptr, FALSE, lockFilePath().toStdWString().c_str());
    if (FRegistryLock != nullptr) {
        FRegistryMemory = ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(TRegistry),
                                               serverName().toStdWString().c_str());
    }
    if (FRegistryMemory != nullptr)
        FRegistryView = ::MapViewOfFile(FRegistryMemory, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(TRegistry));
    if (FRegistryView == nullptr) {
        releaseLock();
        return TLockResult::Unguarded;
    }

    // The test against the limit and the registration are one step, so of
    // two copies started at once exactly one runs.
    const TRegistryHold hold(FRegistryLock);
    if (!hold.held()) {
        releaseLock();
        return TLockResult::Unguarded;
    }
    TRegistry &registry = *static_cast<TRegistry *>(FRegistryView);
    if (registry.limit == 0)
        registry.limit = InstanceLimit;
    registry.count = qMin<quint16>(registry.count, RegistrySlots);
    dropEnded(registry);
    FMayRun = registry.count < registry.limit;
    // A refused start is registered too, until it ends.
    if (registry.count < RegistrySlots)
        registry.processIds[registry.count++] = quint32(::GetCurrentProcessId());
    return FMayRun ? TLockResult::Taken : TLockResult::HeldByOther;
}

void TSingleInstance::listen()
{
    // A refused start brings the running copy forward itself: nothing to wait for.
}

void TSingleInstance::askRunningCopyForward()
{
    TWindowSearch search;
    {
        const TRegistryHold hold(FRegistryLock);
        if (!hold.held())
            return;
        const TRegistry &registry = *static_cast<const TRegistry *>(FRegistryView);
        if (registry.count == 0 || registry.processIds[0] == ::GetCurrentProcessId())
            return;
        search.processId = registry.processIds[0];
    }
    // A copy still starting has no window yet; the start ends quietly all the same.
    ::EnumWindows(findMainWindow, reinterpret_cast<LPARAM>(&search));
    if (search.window == nullptr)
        return;
    if (::IsIconic(search.window))
        ::ShowWindow(search.window, SW_RESTORE);
    ::SetForegroundWindow(search.window);
}

void TSingleInstance::releaseLock()
{
    if (FRegistryView != nullptr) {
        {
            const TRegistryHold hold(FRegistryLock);
            if (hold.held())
                removeProcess(*static_cast<TRegistry *>(FRegistryView), quint32(::GetCurrentProcessId()));
        }
        ::UnmapViewOfFile(std::exchange(FRegistryView, nullptr));
    }
    closeHandle(FRegistryMemory);
    closeHandle(FRegistryLock);
    FMayRun = false;
}
