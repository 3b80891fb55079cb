#include "tools/flash/InstallCommand.h"

#include "catalogue/HTTPClient.h"
#include "common/StrUtils.h"
#include "package/UpgradeFile.h"
#include "platform/Clock.h"
#include "platform/RuntimeFolder.h"
#include "tools/flash/CommandSupport.h"
#include "upgrade/CatalogueEntries.h"
#include "upgrade/Package.h"
#include "upgrade/UpgradeEngine.h"

#include <QJsonObject>

#include <optional>
#include <thread>
#include <vector>

namespace {

const QString Json = QStringLiteral("json");
const QString All = QStringLiteral("all");
const QString Version = QStringLiteral("version");
const QString Package = QStringLiteral("package");
const QString AllowOlder = QStringLiteral("allow-older");

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

// A package download's lines, each naming the file: the announce, each
// body's start and a body's last count.
class TDownloadLines final : public IUpgradeReport
{
public:
    TDownloadLines(QTextStream &out, const QString &fileName)
        : FOut(out)
        , FName(shown(fileName))
    {
    }

    void step(TUpgradeStep step, qint64 done, qint64 total) override
    {
        FShowNext = step != TUpgradeStep::Download || done == 0 || done == total;
    }
    void addLog(const QString &text, bool replaceLast) override
    {
        if (replaceLast && !FShowNext)
            return;
        FOut << FName << ": " << text << "\n";
        FOut.flush();
    }

private:
    QTextStream &FOut;
    QString FName;
    bool FShowNext = true;
};

} // namespace

QString TInstallCommand::description() const
{
    return QStringLiteral("Checks and flashes the probe, or every probe at once.");
}

QList<QCommandLineOption> TInstallCommand::options() const
{
    return {probeOption(),
            QCommandLineOption(All, QStringLiteral("Every probe found, flashed at once.")),
            QCommandLineOption(Version,
                               QStringLiteral("The catalogue's version V; else the first one published."),
                               QStringLiteral("V")),
            QCommandLineOption(Package, QStringLiteral("A local package file; nothing is downloaded."),
                               QStringLiteral("FILE.dat")),
            QCommandLineOption(AllowOlder,
                               QStringLiteral("Installs a version lower than the probe's, which is refused otherwise.")),
            QCommandLineOption(Json, QStringLiteral("Progress to standard error, the results as a JSON array."))};
}

QList<QPair<QString, QString>> TInstallCommand::exclusions() const
{
    return {{probeOption().names().first(), All}, {Version, Package}};
}

int TInstallCommand::run(const QCommandLineParser &parser, TCommandContext &context)
{
    QTextStream &out = context.out;
    QTextStream &err = context.err;
    const bool json = parser.isSet(Json);
    const bool allowOlder = parser.isSet(AllowOlder);
    const QString version = parser.value(Version);
    const QString packageFile = parser.value(Package);
    IDriveList &drives = context.drives;
    const bool all = parser.isSet(All);
    const QList<std::shared_ptr<TProbe>> probes = chosenProbes(parser.value(probeOption()), all, drives, err);
    if (probes.isEmpty())
        return reportNoProbe(err);
    // Several probes restart at once: one followed by its letter alone may
    // come back on another's letter, or not be found when it comes back on
    // a new one. The user hears which ones; they are flashed all the same.
    if (all) {
        for (const auto &probe : probes) {
            if (probe->drive.portUnknown)
                err << "qv58link-flash: " << shown(probe->drive.root)
                    << ": the USB port of this drive is unknown; the probe is followed by its drive letter\n";
        }
        err.flush();
    }
    QTextStream &events = json ? err : out;

    QList<TResult> results(probes.size());
    QList<TPackage> chosen(probes.size());
    THTTPClient http;
    TCatalogue catalogue(http);
    // Each package once, shared by every probe that takes it: the engines
    // only read it, from their own threads.
    TPackageShelf shelf(http);

    // Every package first, each once: the probes then only flash.
    for (qsizetype i = 0; i < probes.size(); ++i) {
        const TProbe &probe = *probes.at(i);
        results[i].drive = probe.drive.root;
        try {
            if (!packageFile.isEmpty()) {
                TDownloadLines report(events, packageFile);
                chosen[i] = shelf.fromFile(packageFile, report);
                continue;
            }
            const QList<TVersionInfo> entries = catalogue.entriesFor(probe.details.HICID());
            std::optional<TVersionInfo> entry;
            for (const TVersionInfo &candidate : entries) {
                if (version.isEmpty() || sameText(candidate.version, version)) {
                    entry = candidate;
                    break;
                }
            }
            if (!entry) {
                results[i].message = version.isEmpty()
                    ? QStringLiteral("No version is published for HIC ID %1").arg(probe.details.HICID())
                    : QStringLiteral("Version %1 is not published for HIC ID %2").arg(version, probe.details.HICID());
                continue;
            }
            const QString fileName = packageFileName(*entry);
            TDownloadLines report(events, fileName);
            chosen[i] = shelf.fromCatalogue(fileName, report);
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
    TProgressBoard board(events, context.terminal && !json, roots);

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
            const TUpgradeFile &package = chosen.at(i)->file();
            // Nothing may leave a probe's thread: it would end the whole run.
            try {
                result.versionBefore = packageVersionOf(probe.details, package);
                TProbeReport report(board, int(i), allowOlder);
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
    if (json)
        printJson(out, array);
    return allOk ? feOk : feFailed;
}
