#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>
#include <QPair>
#include <QString>
#include <QTextStream>

class IDriveList;

// Exit codes of qv58link-flash.
enum TFlashExit {
    feOk = 0,       // every probe succeeded
    feFailed = 1,   // at least one probe failed or was refused
    feUsage = 2,    // bad command line
    feNoProbe = 3,  // no probe found
};

// What a command runs against. out is for results; err for errors and, with
// --json, the progress lines. terminal: out is a terminal, so progress may be
// redrawn in place.
struct TCommandContext
{
    QTextStream &out;
    QTextStream &err;
    bool terminal;
    IDriveList &drives;
};

// A command line that cannot be run: its text goes to err with the usage, and
// the exit code is feUsage.
struct TUsageError
{
    QString text;
};

// One qv58link-flash command. What it declares here is all the dispatcher and
// the help need: the options are parsed, checked for empty values and for
// exclusive pairs before run() is called.
class TCommand
{
public:
    virtual ~TCommand() = default;

    // The word on the command line.
    virtual QString name() const = 0;
    // One line, shown in the help.
    virtual QString description() const = 0;
    // Every option it takes, long names only.
    virtual QList<QCommandLineOption> options() const { return {}; }
    // Pairs of option names of which at most one may be given; the help
    // shows each pair as "[--a | --b]".
    virtual QList<QPair<QString, QString>> exclusions() const { return {}; }

    // Returns a TFlashExit code. Failures may be raised: the dispatcher
    // reports them and returns feFailed.
    virtual int run(const QCommandLineParser &parser, TCommandContext &context) = 0;
};
