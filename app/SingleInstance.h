#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

// Lets one copy of an executable run per desktop session. The copy that gets
// the session's lock (an flock the kernel drops when the process dies, so a
// crash never blocks a later start) listens for later starts; a later start
// asks it to come forward and is refused.
//
// On Windows the session is the desktop session's namespace of named
// objects (Local\): a registry of the running copies' process IDs in
// shared memory, guarded by a named mutex, both of which the system drops
// with their last holder. A refused start brings the oldest copy's window
// forward itself (Windows lets only the process the user just started take
// the foreground), so activateRequested is never emitted there.
class TSingleInstance : public QObject
{
    Q_OBJECT

public:
    // The running executable in the current desktop session.
    explicit TSingleInstance(QObject *parent = nullptr);
    // Any executable path and session folder.
    TSingleInstance(const QString &executablePath, const QString &sessionDirectory, QObject *parent = nullptr);
    ~TSingleInstance() override;

    // "Jcl" + the executable's full path, upper-cased, with every "/" made "_".
    static QString identity(const QString &executablePath);
    // Where the lock and the listening socket live: the user's private
    // runtime folder (see privateRuntimeFolder). Empty when none can be had.
    // On Windows the prefix of the registry's and the mutex's names, Local\.
    static QString sessionDirectory();

    // True when this process may run; it then keeps the lock until it ends.
    // False for a refused start, after asking the running copy to come
    // forward (a copy still starting is not asked; the start is refused all the same).
    bool CheckSingleInstance();

    const QString &instanceIdentity() const { return FIdentity; }
    // The lock file and the name later starts connect to, in the session
    // folder; on Windows the names of the mutex and of the registry.
    QString lockFilePath() const;
    QString serverName() const;

signals:
    // A refused start asked this instance to restore and raise its window.
    void activateRequested();

private:
    enum class TLockResult {
        Taken,
        HeldByOther,
        Unguarded, // the lock file cannot be had: nothing to guard with
    };

    QString pathFor(const QString &suffix) const;
    // The system's side: takes the session's lock without waiting, waits
    // for later starts, asks the copy that holds the lock to come forward,
    // and lets the lock go.
    bool lockTaken() const;
    TLockResult takeLock();
    void listen();
    void askRunningCopyForward();
    void releaseLock();

    QString FIdentity;
    QString FSessionDirectory;
#ifdef Q_OS_WIN
    // System handles: the registry's mutex and shared memory, and the view of it.
    void *FRegistryLock = nullptr;
    void *FRegistryMemory = nullptr;
    void *FRegistryView = nullptr;
    bool FMayRun = false;
#else
    int FLockHandle = -1;
#endif
    QLocalServer *FServer = nullptr;
};
