#pragma once

#include "platform/DriveList.h"
#include "upgrade/ProbeScan.h"

#include <QCommandLineOption>
#include <QJsonArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTextStream>

#include <exception>
#include <memory>
#include <mutex>

// The user's text of an error raised anywhere below a command.
QString messageOf(const std::exception_ptr &error);

// A text from a drive, the catalogue or a package as a terminal may see it:
// C0 controls, DEL and C1 controls written as escapes (\t, \n, \r, else
// \x1b and the like), as ls and git do, so a value can neither move the
// cursor nor send the terminal commands. Backslashes stay as they are.
QString shown(const QString &text);

// Every probe drive, in discovery order, with its details. A drive whose
// details cannot be read is named on err and passed over: the others go on.
QList<std::shared_ptr<TProbe>> findProbes(IDriveList &drives, QTextStream &err);

// The probes a command line names: the one on probeDrive when given, all
// with all, else the first.
QList<std::shared_ptr<TProbe>> chosenProbes(const QString &probeDrive, bool all, IDriveList &drives,
                                            QTextStream &err);

// Says on err that no probe was found; returns feNoProbe.
int reportNoProbe(QTextStream &err);

void printJson(QTextStream &out, const QJsonArray &array);

// What the command shows of the probes while they are flashed: plain lines,
// one per event; on a terminal one line per probe, redrawn in place.
class TProgressBoard
{
public:
    TProgressBoard(QTextStream &out, bool terminal, const QStringList &drives);

    // The last word on each probe: on a terminal its line keeps the reason
    // of a failure, which the plain lines have already shown.
    void finish(int probe, bool ok, const QString &message);
    // From any thread.
    void show(int probe, const QString &text);

private:
    std::mutex FMutex;
    QTextStream &FOut;
    bool FTerminal;
    QStringList FDrives;
    QStringList FStates;
};

// --probe DRIVE, the same for every command that takes it.
QCommandLineOption probeOption();
