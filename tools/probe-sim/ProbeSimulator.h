#pragma once

#include <QHash>
#include <QString>
#include <QTextStream>
#include <chrono>

// How the simulated probe presents itself and misbehaves.
struct TProbeSimOptions
{
    QString drive;
    QString returnTo; // where it comes back after a restart; empty: drive
    QString HICID = QStringLiteral("51563270");
    QString mode = QStringLiteral("Interface");
    QString bootMode = QStringLiteral("Bootloader");
    QString appVersion = QStringLiteral("V1.0.0");
    QString bootVersion = QStringLiteral("V1.0.0");
    QString newVersion; // after an install; empty: appVersion stays
    QString newBootVersion; // after an install; empty: bootVersion stays
    QString power = QStringLiteral("3.3V");
    QString beep = QStringLiteral("ON");
    int restartMs = 1000;
    int lateMs = 9000;
    bool fail = false;
    bool returnLate = false;
    bool neverReturn = false;
    int misbehaveFrom = 1; // the first restart that comes back late or never
};

// Plays the probe on a folder: the folder is its drive, present while it
// exists. Reacts to "START_BL.ACT" and "upgrade.Hex" once their writer has
// closed them, and prints one line per event.
class TProbeSimulator
{
public:
    TProbeSimulator(const TProbeSimOptions &options, QTextStream &out);
    ~TProbeSimulator();
    TProbeSimulator(const TProbeSimulator &) = delete;
    TProbeSimulator &operator=(const TProbeSimulator &) = delete;

    // Runs until SIGINT or SIGTERM (exit code 0) or a failure (1).
    int run();

private:
    using TClock = std::chrono::steady_clock;
    enum class TState { Present, Away, Gone };
    struct TStamp
    {
        qint64 size = -1;
        qint64 modified = -1;
        bool operator==(const TStamp &) const = default;
    };

    bool folderIsOurs(const QString &folder, QString &why) const;
    bool appear();
    bool vanish();
    bool writeDetails();
    void watch();
    void unwatch();
    bool readWatchEvents();
    bool pollFolder();
    bool handle(const QString &name);
    bool installImage(const QString &name);
    void event(const QString &line);
    bool failure(const QString &line);

    TProbeSimOptions FOptions;
    QTextStream &FOut;
    TState FState = TState::Present;
    QString FFolder;
    bool FBootloader = false;
    QString FVersion;
    QString FBootVersion;
    bool FLeaveFailFile = false;
    int FRestarts = 0;
    TClock::time_point FBackAt;
    int FNotify = -1;
    int FWatch = -1;
    int FSignals = -1;
    bool FPolling = false;
    QHash<QString, TStamp> FSeen;
};
