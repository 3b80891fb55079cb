#include "tools/flash/FlashCommand.h"

#include "catalogue/Catalogue.h"
#include "catalogue/DownloadLocation.h"
#include "catalogue/HTTPClient.h"
#include "catalogue/VersionInfo.h"
#include "common/Exceptions.h"
#include "common/FileIO.h"
#include "common/StrUtils.h"
#include "package/UpgradeFile.h"
#include "platform/Clock.h"
#include "platform/DriveList.h"
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

#include <map>
#include <memory>
#include <mutex>
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
    if (const auto *own = dynamic_cast<const Exception *>(&error))
        return own->message();
    return QString::fromUtf8(error.what());
}

struct TProbe
{
    TDriveInfo drive;
    TQV58LinkConfig details;
};

// Every probe drive, in discovery order, with its details.
QList<std::shared_ptr<TProbe>> findProbes(IDriveList &drives)
{
    drives.mountCandidates(holdsProbeDetails);
    QList<std::shared_ptr<TProbe>> probes;
    for (const TDriveInfo &drive : drives.drives()) {
        if (drive.type != TDriveType::Removable || !holdsProbeDetails(drive.root))
            continue;
        auto probe = std::make_shared<TProbe>();
        probe->drive = drive;
        try {
            if (!readProbeDetails(drive.root + DetailsLoadName, probe->details))
                continue;
        } catch (const Exception &) {
            continue; // vanished or unreadable between the look and the read
        }
        probes.append(probe);
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
QList<std::shared_ptr<TProbe>> chosenProbes(const TOptions &options, IDriveList &drives)
{
    QList<std::shared_ptr<TProbe>> probes = findProbes(drives);
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

    QList<TVersionInfo> entriesFor(const QString &hicId)
    {
        QList<TVersionInfo> entries;
        const qsizetype count = versionsFor(hicId, lines()).size();
        for (int n = 0; n < count; ++n)
            entries.append(parseVersionInfo(lines().at(matchingLineIndex(n, lines(), hicId))));
        return entries;
    }

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
    const QList<std::shared_ptr<TProbe>> probes = findProbes(driveList());
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
            out << probe->drive.root << "  HIC ID " << d.HICID() << "  " << partNameOf(d.HICID()) << "  mode "
                << d.mode() << "  interface " << d.appVersion() << "  bootloader " << d.bootVersion() << "\n";
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
    const QList<std::shared_ptr<TProbe>> probes = chosenProbes(options, driveList());
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
        for (const TVersionInfo &entry : entries)
            out << entry.version << "  " << entry.fileName << ".dat  " << QString(entry.descript).replace(u'\n', u' ')
                << "\n";
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
        , FDrives(drives)
        , FStates(drives.size())
    {
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
        FStates[probe] = text;
        if (!FTerminal) {
            FOut << FDrives.at(probe) << ": " << text << "\n";
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

// A package, downloaded or read once, shared by every probe that takes it.
struct TPackage
{
    QByteArray bytes;
    QString mode;
};

int runInstall(const TOptions &options, QTextStream &out, QTextStream &err, bool terminal)
{
    IDriveList &drives = driveList();
    const QList<std::shared_ptr<TProbe>> probes = chosenProbes(options, drives);
    if (probes.isEmpty()) {
        err << "qv58link-flash: QV58-Link not detected, please check if it is connected\n";
        return feNoProbe;
    }
    QTextStream &events = options.json ? err : out;

    QList<TResult> results(probes.size());
    QList<std::shared_ptr<TPackage>> chosen(probes.size());
    std::map<QString, std::shared_ptr<TPackage>> packages; // by file name or path
    THTTPClient http;
    TCatalogue catalogue(http);

    const auto fetch = [&](const QString &key, const std::function<QByteArray()> &read) {
        auto &slot = packages[key];
        if (!slot) {
            QBuffer buffer;
            buffer.setData(read());
            buffer.open(QIODevice::ReadWrite);
            TUpgradeEngine::validatePackage(buffer);
            slot = std::make_shared<TPackage>();
            slot->bytes = buffer.data();
            slot->mode = TUpgradeFile(buffer).mode();
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
                chosen[i] = fetch(path, [&] { return readWholeFile(path); });
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
                    events << fileName << ": " << downloadText::begin(total) << "\n";
                    events.flush();
                };
                http.OnWork = [&](THTTPClient &, TWorkMode, qint64 count) {
                    if (count == total) {
                        events << fileName << ": " << downloadText::progress(count, total) << "\n";
                        events.flush();
                    }
                };
                events << fileName << ": " << downloadText::announce() << "\n";
                events.flush();
                http.setContentType(QStringLiteral("application/x-www-form-urlencoded"));
                http.Get(upgradeFileUrl(fileName), buffer);
                http.OnWorkBegin = nullptr;
                http.OnWork = nullptr;
                return buffer.data();
            });
        } catch (const std::exception &error) {
            results[i].message = messageOf(error);
        }
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
            const std::shared_ptr<TPackage> package = chosen.at(i);
            result.versionBefore = sameText(package->mode, QStringLiteral("App")) ? probe.details.appVersion()
                                                                                   : probe.details.bootVersion();
            TProbeReport report(board, int(i), options.allowOlder);
            TUpgradeEngine engine(report, drives, Clock::instance());
            engine.setProbeIdentity(probe.drive.identity);
            engine.setRestartWait(TRestartWait::Follow);
            try {
                QBuffer buffer;
                buffer.setData(package->bytes);
                buffer.open(QIODevice::ReadOnly);
                engine.logTargetInfo(probe.details);
                const TUpgradeFile file(buffer);
                result.ok = engine.upgrade(file, probe.details);
                result.message = engine.outcome().message;
                result.versionAfter = engine.outcome().versionAfter;
            } catch (const std::exception &error) {
                result.ok = false;
                result.message = messageOf(error);
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
        err << "qv58link-flash: " << error.text << "\n" << flashUsage();
        return feUsage;
    }
    try {
        if (options.command == QLatin1String("list"))
            return runList(options, out, err);
        if (options.command == QLatin1String("versions"))
            return runVersions(options, out, err);
        return runInstall(options, out, err, terminal);
    } catch (const std::exception &error) {
        err << "qv58link-flash: " << messageOf(error) << "\n";
        return feFailed;
    }
}
