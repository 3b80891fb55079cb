// Wall time of flashing simulated probes (each restart takes 500 ms): one
// probe through the window's timing (a step a second, 2000 ms settle sleeps),
// one through qv58link-flash install, and sixteen at once through --all.
// Prints the times and their ratios against the goals.
//
// Usage: bench_flash <bin folder>   (the folder with the companion commands)

#include "common/FileIO.h"
#include "package/PackageBuilder.h"
#include "package/UpgradeFile.h"
#include "platform/Clock.h"
#include "platform/FolderDriveList.h"
#include "probe/QV58LinkConfig.h"
#include "probe/ProbeDrive.h"
#include "upgrade/UpgradeEngine.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int RestartMs = 500;
// The window's timer: the first step a second after Upgrade, one a second after.
constexpr int WindowStepGapsMs = 4 * 1000;

class Silent final : public IUpgradeReport
{
public:
    void addLog(const QString &, bool) override {}
    bool confirmOlder(const QString &) override { return false; }
};

struct Probes
{
    std::vector<std::unique_ptr<QProcess>> processes;
    QStringList folders;

    ~Probes()
    {
        for (auto &process : processes) {
            process->terminate();
            if (!process->waitForFinished(5000))
                process->kill();
            process->waitForFinished(2000);
        }
    }
};

void startProbes(Probes &probes, const QString &bin, const QString &base, int count)
{
    for (int i = 0; i < count; ++i) {
        const QString folder = QStringLiteral("%1/P%2").arg(base).arg(i);
        auto process = std::make_unique<QProcess>();
        process->setProcessChannelMode(QProcess::MergedChannels);
        process->start(bin + QStringLiteral("/qv58link-probe-sim"),
                       {"--drive", folder, "--restart-ms", QString::number(RestartMs), "--app-version", "V1.9",
                        "--new-version", "V1.10"});
        QByteArray seen;
        while (!seen.contains("present ") && process->waitForReadyRead(10000))
            seen += process->readAll();
        probes.processes.push_back(std::move(process));
        probes.folders.append(folder);
    }
}

double flashCommand(const QString &bin, const QStringList &arguments)
{
    QProcess process;
    QElapsedTimer timer;
    timer.start();
    process.start(bin + QStringLiteral("/qv58link-flash"), arguments);
    process.waitForFinished(120000);
    const double seconds = timer.elapsed() / 1000.0;
    if (process.exitCode() != 0)
        std::fprintf(stderr, "qv58link-flash exited %d: %s\n", process.exitCode(),
                     process.readAll().constData());
    return seconds;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString bin = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QCoreApplication::applicationDirPath();
    QTemporaryDir dir;
    const QString image = dir.filePath("image.hex");
    QProcess::execute(bin + QStringLiteral("/qv58link-probe-sim"),
                      {"--write-image", image, "--image-bytes", "24576", "--image-seed", "bench"});
    const QString packagePath = dir.filePath("51563270_V1.10.dat");
    writeWholeFile(packagePath, buildPackage(readWholeFile(image), QStringLiteral("App"), QStringLiteral("V1.10"),
                                             QStringLiteral("QV58Link Mini"), QStringLiteral("2026-12-01 10:00")));

    // One probe as the window flashes it: the engine with settle sleeps, plus
    // the seconds the window's timer puts between the steps.
    double window = 0;
    {
        Probes probes;
        startProbes(probes, bin, dir.filePath("window"), 1);
        TFolderDriveList drives(probes.folders.join(u':'));
        Silent report;
        TUpgradeEngine engine(report, drives, Clock::instance());
        QBuffer buffer;
        buffer.setData(readWholeFile(packagePath));
        buffer.open(QIODevice::ReadOnly);
        TQV58LinkConfig probe;
        readProbeDetails(probes.folders.first() + QStringLiteral("/DETAILS.txt"), probe);
        QElapsedTimer timer;
        timer.start();
        const bool ok = engine.upgrade(TUpgradeFile(buffer), probe);
        window = (timer.elapsed() + WindowStepGapsMs) / 1000.0;
        if (!ok)
            std::fprintf(stderr, "the window's way failed: %s\n", qPrintable(engine.outcome().message));
    }

    double one = 0;
    {
        Probes probes;
        startProbes(probes, bin, dir.filePath("one"), 1);
        qputenv("QV58LINK_DRIVES", probes.folders.join(u':').toUtf8());
        one = flashCommand(bin, {"install", "--package", packagePath});
    }

    double sixteen = 0;
    {
        Probes probes;
        startProbes(probes, bin, dir.filePath("sixteen"), 16);
        qputenv("QV58LINK_DRIVES", probes.folders.join(u':').toUtf8());
        sixteen = flashCommand(bin, {"install", "--all", "--package", packagePath});
    }

    const double oneGoal = 1.5 + 2 * RestartMs / 1000.0;
    std::printf("restart of the simulated probe: %d ms\n", RestartMs);
    std::printf("one probe, the window's timing:      %6.2f s\n", window);
    std::printf("one probe, qv58link-flash install:   %6.2f s  (goal %.2f s; %.2fx faster than the window)\n", one,
                oneGoal, window / one);
    std::printf("16 probes, qv58link-flash --all:     %6.2f s  (ratio to one probe %.2f, goal 1.30)\n", sixteen,
                sixteen / one);
    return 0;
}
