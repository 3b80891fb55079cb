#include "tools/flash/FlashCommand.h"

#include "catalogue/Catalogue.h"
#include "catalogue/DownloadLimits.h"
#include "catalogue/DownloadLocation.h"
#include "catalogue/HTTPClient.h"
#include "catalogue/VersionInfo.h"
#include "common/ErrorText.h"
#include "common/Exceptions.h"
#include "common/FileIO.h"
#include "common/StrUtils.h"
#include "package/UpgradeFile.h"
#include "platform/Clock.h"
#include "platform/DriveList.h"
#include "platform/RuntimeFolder.h"
#include "probe/PartName.h"
#include "probe/ProbeDrive.h"
#include "probe/QV58LinkConfig.h"
#include "upgrade/UpgradeEngine.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <thread>

namespace {

// A command line error: its text goes to the error stream, the exit code is 2.
struct TUsageError
{
    QString text;
};

QString messageOf(const std::exception &error)
{
    return userMessageOf(error);
}

QString messageOf(const std::exception_ptr &error)
{
    try {
        std::rethrow_exception(error);
    } catch (const std::exception &e) {
        return messageOf(e);
    } catch (...) {
        return QStringLiteral("Unknown error.");
    }
}

// A text from a drive, the catalogue or a package as a terminal may see it:
// C0 controls, DEL and C1 controls written as escapes (\t, \n, \r, else
// \x1b and the like), as ls and git do, so a value can neither move the
// cursor nor send the terminal commands. Backslashes stay as they are.
QString shown(const QString &text)
{
    QString result;
    result.reserve(text.size());
    for (const QChar c : text) {
        const char16_t code = c.unicode();
        if (code >= 0x20 && code != 0x7f && (code < 0x80 || code > 0x9f)) {
            result += c;
            continue;
        }
        switch (code) {
        case u'\t':
            result += QStringLiteral("\\t");
            break;
        case u'\n':
            result += QStringLiteral("\\n");
            break;
        case u'\r':
            result += QStringLiteral("\\r");
            break;
        default:
            result += QStringLiteral("\\x%1").arg(uint(code), 2, 16, QLatin1Char('0'));
        }
    }
    return result;
}

struct TProbe
{
    TDriveInfo drive;
    TQV58LinkConfig details;
};

// Every probe drive, in discovery order, with its details. A drive whose
// details cannot be read is named on err and passed over: the others go on.
QList<std::shared_ptr<TProbe>> findProbes(IDriveList &drives, QTextStream &err)
{
    drives.mountCandidates(holdsProbeDetails);
    QList<std::shared_ptr<TProbe>> probes;
    for (const TDriveInfo &drive : drives.drives()) {
        if (drive.type != TDriveType::Removable)
            continue;
        if (!holdsProbeDetails(drive.root)) {
            // A link or a special file under the details file's name: say so.
            const QString refusal = probeDetailsRefusal(drive.root);
            if (!refusal.isEmpty()) {
                err << "qv58link-flash: " << shown(drive.root) << ": not a probe: " << shown(refusal) << "\n";
                err.flush();
            }
            continue;
        }
        try {
            auto probe = std::make_shared<TProbe>();
            probe->drive = drive;
            if (readProbeDetails(drive.root + DetailsLoadName, probe->details))
                probes.append(probe);
        } catch (...) {
            err << "qv58link-flash: " << shown(drive.root) << ": not a probe: "
                << shown(messageOf(std::current_exception())) << "\n";
            err.flush();
        }
    }
    return probes;
}

QString rootOf(const QString &folder)
{
    QString root = QDir::cleanPath(QDir::current().absoluteFilePath(folder));
    if (!root.endsWith(u'/'))
        root += u'/';
    return root;
}

// The options of all three commands; each takes what it allows.
struct TOptions
{
    QString command;
    bool json = false;
    bool all = false;
    bool allowOlder = false;
    QString probe;
    QString version;
    QString package;
};

TOptions parseOptions(const QStringList &arguments)
{
    TOptions options;
    if (arguments.isEmpty())
        throw TUsageError{QStringLiteral("a command is needed: list, versions or install")};
    options.command = arguments.first();
    static const QHash<QString, QStringList> allowed = {
        {QStringLiteral("list"), {QStringLiteral("--json")}},
        {QStringLiteral("versions"), {QStringLiteral("--json"), QStringLiteral("--probe")}},
        {QStringLiteral("install"),
         {QStringLiteral("--json"), QStringLiteral("--probe"), QStringLiteral("--all"), QStringLiteral("--version"),
          QStringLiteral("--package"), QStringLiteral("--allow-older")}},
    };
    if (!allowed.contains(options.command))
        throw TUsageError{QStringLiteral("unknown command \"%1\"").arg(options.command)};
    const QStringList &mine = allowed.value(options.command);
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        QString name = arguments.at(i);
        std::optional<QString> inlineValue;
        if (const qsizetype eq = name.indexOf(u'='); name.startsWith(QStringLiteral("--")) && eq > 0) {
            inlineValue = name.mid(eq + 1);
            name = name.left(eq);
        }
        if (!mine.contains(name))
            throw TUsageError{QStringLiteral("%1 does not take \"%2\"").arg(options.command, arguments.at(i))};
        const auto value = [&]() -> QString {
            if (inlineValue)
                return *inlineValue;
            if (i + 1 >= arguments.size())
                throw TUsageError{QStringLiteral("%1 needs a value").arg(name)};
            return arguments.at(++i);
        };
        if (name == QLatin1String("--json"))
            options.json = true;
        else if (name == QLatin1String("--all"))
            options.all = true;
        else if (name == QLatin1String("--allow-older"))
            options.allowOlder = true;
        else if (name == QLatin1String("--probe"))
            options.probe = value();
        else if (name == QLatin1String("--version"))
            options.version = value();
        else if (name == QLatin1String("--package"))
            options.package = value();
        if ((name == QLatin1String("--probe") && options.probe.isEmpty())
            || (name == QLatin1String("--version") && options.version.isEmpty())
            || (name == QLatin1String("--package") && options.package.isEmpty()))
            throw TUsageError{QStringLiteral("%1 needs a value").arg(name)};
    }
    if (options.all && !options.probe.isEmpty())
        throw TUsageError{QStringLiteral("--probe and --all exclude each other")};
    if (!options.version.isEmpty() && !options.package.isEmpty())
        throw TUsageError{QStringLiteral("--version and --package exclude each other")};
    return options;
}

// The probes the options name: one by --probe, all with --all, else the first.
QList<std::shared_ptr<TProbe>> chosenProbes(const TOptions &options, IDriveList &drives, QTextStream &err)
{
    QList<std::shared_ptr<TProbe>> probes = findProbes(drives, err);
    if (!options.probe.isEmpty()) {
        const QString root = rootOf(options.probe);
        for (const auto &probe : probes) {
            if (probe.get()->drive.root == root)
                return {probe};
        }
        return {};
    }
    if (options.all || probes.isEmpty())
        return probes;
    return {probes.first()};
}

// The catalogue, downloaded once per run.
class TCatalogue
{
public:
    explicit TCatalogue(THTTPClient &http)
        : FHttp(http)
    {
    }

    const QStringList &lines()
    {
        if (!FLoaded) {
            downloadLines(FHttp, fileListUrl(), FLines);
            FLoaded = true;
        }
        return FLines;
    }

    QList<TVersionInfo> entriesFor(const QString &hicId) { return ::entriesFor(hicId, lines()); }

private:
    THTTPClient &FHttp;
    QStringList FLines;
    bool FLoaded = false;
};

void printJson(QTextStream &out, const QJsonArray &array)
{
    out << QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Indented));
    out.flush();
}

int runList(const TOptions &options, QTextStream &out, QTextStream &err)
{
    const QList<std::shared_ptr<TProbe>> probes = findProbes(driveList(), err);
    if (options.json) {
        QJsonArray array;
        for (const auto &probe : probes) {
            const TQV58LinkConfig &d = probe->details;
            array.append(QJsonObject{{"drive", probe->drive.root}, {"hicId", d.HICID()},
                                     {"partName", partNameOf(d.HICID())}, {"mode", d.mode()},
                                     {"appVersion", d.appVersion()}, {"bootVersion", d.bootVersion()}});
        }
        printJson(out, array);
    } else {
        for (const auto &probe : probes) {
            const TQV58LinkConfig &d = probe->details;
            out << shown(probe->drive.root) << "  HIC ID " << shown(d.HICID()) << "  " << shown(partNameOf(d.HICID()))
                << "  mode " << shown(d.mode()) << "  interface " << shown(d.appVersion()) << "  bootloader "
                << shown(d.bootVersion()) << "\n";
        }
        out.flush();
    }
    if (probes.isEmpty()) {
        err << "qv58link-flash: QV58-Link not detected, please check if it is connected\n";
        return feNoProbe;
    }
    return feOk;
}

int runVersions(const TOptions &options, QTextStream &out, QTextStream &err)
{
    const QList<std::shared_ptr<TProbe>> probes = chosenProbes(options, driveList(), err);
    if (probes.isEmpty()) {
        err << "qv58link-flash: QV58-Link not detected, please check if it is connected\n";
        return feNoProbe;
    }
    THTTPClient http;
    TCatalogue catalogue(http);
    const QList<TVersionInfo> entries = catalogue.entriesFor(probes.first()->details.HICID());
    if (options.json) {
        QJsonArray array;
        for (const TVersionInfo &entry : entries)
            array.append(QJsonObject{{"hicId", entry.HICID}, {"version", entry.version}, {"fileName", entry.fileName},
                                     {"descript", entry.descript}});
        printJson(out, array);
    } else {
        // One line per entry: the description's own line breaks become blanks.
        for (const TVersionInfo &entry : entries)
            out << shown(entry.version) << "  " << shown(entry.fileName) << ".dat  "
                << shown(QString(entry.descript).replace(QStringLiteral("\r\n"), QStringLiteral(" "))) << "\n";
        out.flush();
    }
    return feOk;
}

// What the command shows of the probes while they are flashed: plain lines,
// one per event; on a terminal one line per probe, redrawn in place.
class TProgressBoard
{
public:
    TProgressBoard(QTextStream &out, bool terminal, const QStringList &drives)
        : FOut(out)
        , FTerminal(terminal)
        , FStates(drives.size())
    {
        // The board's own escape sequences are the only ones it writes.
        for (const QString &drive : drives)
            FDrives.append(shown(drive));
        if (FTerminal) {
            for (const QString &drive : FDrives)
                FOut << drive << "  waiting\n";
            FOut.flush();
        }
    }

    // The last word on each probe: on a terminal its line keeps the reason
    // of a failure, which the plain lines have already shown.
    void finish(int probe, bool ok, const QString &message)
    {
        if (FTerminal)
            show(probe, ok ? message : QStringLiteral("fail: ") + message);
    }

    void show(int probe, const QString &text)
    {
        const std::lock_guard lock(FMutex);
        FStates[probe] = shown(text);
        if (!FTerminal) {
            FOut << FDrives.at(probe) << ": " << FStates.at(probe) << "\n";
        } else {
            // Back to the first probe's line, then every line afresh.
            FOut << "\x1b[" << FDrives.size() << "F";
            for (qsizetype i = 0; i < FDrives.size(); ++i)
                FOut << "\x1b[2K" << FDrives.at(i) << "  " << FStates.at(i) << "\n";
        }
        FOut.flush();
    }

private:
    std::mutex FMutex;
    QTextStream &FOut;
    bool FTerminal;
    QStringList FDrives;
    QStringList FStates;
};

// One probe's side of the engine: its log lines become board events.
class TProbeReport final : public IUpgradeReport
{
public:
    TProbeReport(TProgressBoard &board, int index, bool allowOlder)
        : FBoard(board)
        , FIndex(index)
        , FAllowOlder(allowOlder)
    {
    }

    void addLog(const QString &text, bool replaceLast) override
    {
        Q_UNUSED(replaceLast);
        const QString line = Trim(text);
        if (!line.isEmpty())
            FBoard.show(FIndex, line);
    }
    bool confirmOlder(const QString &question) override
    {
        Q_UNUSED(question);
        return FAllowOlder;
    }

private:
    TProgressBoard &FBoard;
    int FIndex;
    bool FAllowOlder;
};

struct TResult
{
    QString drive;
    bool ok = false;
    QString message;
    QString versionBefore;
    QString versionAfter;
};

// A package, downloaded or read and deciphered once, shared by every probe
// that takes it: the engines only read it, from their own threads.
using TPackage = std::shared_ptr<const TUpgradeFile>;

int runInstall(const TOptions &options, QTextStream &out, QTextStream &err, bool terminal)
{
    IDriveList &drives = driveList();
    const QList<std::shared_ptr<TProbe>> probes = chosenProbes(options, drives, err);
    if (probes.isEmpty()) {
        err << "qv58link-flash: QV58-Link not detected, please check if it is connected\n";
        return feNoProbe;
    }
    QTextStream &events = options.json ? err : out;

    QList<TResult> results(probes.size());
    QList<TPackage> chosen(probes.size());
    std::map<QString, TPackage> packages; // by file name or path
    THTTPClient http;
    TCatalogue catalogue(http);

    const auto fetch = [&](const QString &key, const std::function<QByteArray()> &read) {
        auto &slot = packages[key];
        if (!slot) {
            QBuffer buffer;
            buffer.setData(read());
            buffer.open(QIODevice::ReadOnly);
            auto file = std::make_shared<const TUpgradeFile>(buffer);
            // The window's step 1 says the same of a package it refuses.
            if (!file->valid())
                throw Exception(QStringLiteral("Invalid upgrade file!"));
            slot = std::move(file);
        }
        return slot;
    };

    // Every package first, each once: the probes then only flash.
    for (qsizetype i = 0; i < probes.size(); ++i) {
        const TProbe &probe = *probes.at(i);
        results[i].drive = probe.drive.root;
        try {
            if (!options.package.isEmpty()) {
                const QString path = QFileInfo(options.package).absoluteFilePath();
                chosen[i] = fetch(path, [&] { return readWholeFile(path, downloadLimits::PackageBytes); });
                continue;
            }
            const QList<TVersionInfo> entries = catalogue.entriesFor(probe.details.HICID());
            std::optional<TVersionInfo> entry;
            for (const TVersionInfo &candidate : entries) {
                if (options.version.isEmpty() || sameText(candidate.version, options.version)) {
                    entry = candidate;
                    break;
                }
            }
            if (!entry) {
                results[i].message = options.version.isEmpty()
                    ? QStringLiteral("No version is published for HIC ID %1").arg(probe.details.HICID())
                    : QStringLiteral("Version %1 is not published for HIC ID %2").arg(options.version, probe.details.HICID());
                continue;
            }
            const QString fileName = entry->fileName + QStringLiteral(".dat");
            chosen[i] = fetch(fileName, [&] {
                QBuffer buffer;
                buffer.open(QIODevice::ReadWrite);
                qint64 total = 0;
                http.OnWorkBegin = [&](THTTPClient &, TWorkMode, qint64 max) {
                    total = max;
                    events << shown(fileName) << ": " << downloadText::begin(total) << "\n";
                    events.flush();
                };
                http.OnWork = [&](THTTPClient &, TWorkMode, qint64 count) {
                    if (count == total) {
                        events << shown(fileName) << ": " << downloadText::progress(count, total) << "\n";
                        events.flush();
                    }
                };
                events << shown(fileName) << ": " << downloadText::announce() << "\n";
                events.flush();
                http.setContentType(QStringLiteral("application/x-www-form-urlencoded"));
                http.Get(upgradeFileUrl(fileName), buffer);
                http.OnWorkBegin = nullptr;
                http.OnWork = nullptr;
                return buffer.data();
            });
        } catch (...) {
            results[i].message = messageOf(std::current_exception());
        }
    }

    // Flashing unguarded is what the window does too; the user hears of it once.
    if (privateRuntimeFolder().isEmpty()) {
        err << "qv58link-flash: warning: no private runtime folder can be used for the probe locks, so nothing keeps "
               "another program from flashing the same probe at the same time\n";
        err.flush();
    }

    QStringList roots;
    for (const TResult &result : results)
        roots.append(result.drive);
    TProgressBoard board(events, terminal && !options.json, roots);

    // Each probe on its own thread, followed by its drive's identity.
    std::vector<std::thread> threads;
    for (qsizetype i = 0; i < probes.size(); ++i) {
        if (!chosen.at(i)) {
            board.show(int(i), QStringLiteral("fail: ") + results.at(i).message);
            continue;
        }
        threads.emplace_back([&, i] {
            const TProbe &probe = *probes.at(i);
            TResult &result = results[i];
            const TUpgradeFile &package = *chosen.at(i);
            // Nothing may leave a probe's thread: it would end the whole run.
            try {
                result.versionBefore = sameText(package.mode(), QStringLiteral("App")) ? probe.details.appVersion()
                                                                                         : probe.details.bootVersion();
                TProbeReport report(board, int(i), options.allowOlder);
                TUpgradeEngine engine(report, drives, Clock::instance());
                engine.setProbeIdentity(probe.drive.identity);
                engine.setRestartWait(TRestartWait::Follow);
                engine.logTargetInfo(probe.details);
                result.ok = engine.upgrade(package, probe.details);
                result.message = engine.outcome().message;
                result.versionAfter = engine.outcome().versionAfter;
            } catch (...) {
                result.ok = false;
                result.message = messageOf(std::current_exception());
                board.show(int(i), QStringLiteral("fail: ") + result.message);
            }
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    for (qsizetype i = 0; i < results.size(); ++i)
        board.finish(int(i), results.at(i).ok, results.at(i).message);

    bool allOk = true;
    QJsonArray array;
    for (const TResult &result : results) {
        allOk = allOk && result.ok;
        array.append(QJsonObject{{"drive", result.drive}, {"result", result.ok ? "success" : "fail"},
                                 {"message", result.message}, {"versionBefore", result.versionBefore},
                                 {"versionAfter", result.versionAfter}});
    }
    if (options.json)
        printJson(out, array);
    return allOk ? feOk : feFailed;
}

} // namespace

QString flashUsage()
{
    return QStringLiteral(
        "Usage: qv58link-flash <command> [options]\n"
        "Flashes QV58-LINK probes without a window: for scripts, labs and many probes at once.\n"
        "\n"
        "Commands:\n"
        "  list [--json]                     Every probe found, in discovery order.\n"
        "  versions [--probe DRIVE] [--json] The published versions for the probe's HIC ID\n"
        "                                    (the first probe found without --probe).\n"
        "  install [--probe DRIVE | --all] [--version V | --package FILE.dat]\n"
        "          [--allow-older] [--json]  Checks and flashes the probe, or every probe at once\n"
        "                                    with --all; without --version or --package, the first\n"
        "                                    published version for the probe. A lower version is\n"
        "                                    refused unless --allow-older is given.\n"
        "\n"
        "Options:\n"
        "  -h, --help     Displays this help.\n"
        "  -v, --version  Displays version information.\n"
        "\n"
        "Exit codes: 0 every probe succeeded; 1 at least one failed or was refused;\n"
        "2 bad command line; 3 no probe found.\n");
}

int runFlashCommand(const QStringList &arguments, QTextStream &out, QTextStream &err, bool terminal)
{
    TOptions options;
    try {
        options = parseOptions(arguments);
    } catch (const TUsageError &error) {
        err << "qv58link-flash: " << shown(error.text) << "\n" << flashUsage();
        return feUsage;
    }
    try {
        if (options.command == QLatin1String("list"))
            return runList(options, out, err);
        if (options.command == QLatin1String("versions"))
            return runVersions(options, out, err);
        return runInstall(options, out, err, terminal);
    } catch (...) {
        err << "qv58link-flash: " << shown(messageOf(std::current_exception())) << "\n";
        return feFailed;
    }
}
