#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

// Lets one copy of an executable run per desktop session. The copy that gets
// the session's lock (an flock the kernel drops when the process dies, so a
// crash never blocks a later start) listens for later starts; a later start
// asks it to come forward and is refused.
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
    static QString sessionDirectory();

    // True when this process may run; it then keeps the lock until it ends.
    // False for a refused start, after asking the running copy to come
    // forward (a copy still starting is not asked; the start is refused all the same).
    bool CheckSingleInstance();

    const QString &instanceIdentity() const { return FIdentity; }
    // The lock file and the name later starts connect to, in the session folder.
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
    void listen();
    // The system's side: takes the session's lock without waiting, and lets it go.
    TLockResult takeLock();
    void releaseLock();

    QString FIdentity;
    QString FSessionDirectory;
    int FLockHandle = -1;
    QLocalServer *FServer = nullptr;
};
