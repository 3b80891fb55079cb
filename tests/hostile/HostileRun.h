#pragma once

#include "support/TestSystem.h"
#include "catalogue/TestPrinters.h"

#include "common/Exceptions.h"
#include "common/FileIO.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>

// An address-space limit cannot be used under AddressSanitizer, whose shadow
// memory alone reserves terabytes; the peak resident set is bounded instead.
#if defined(__SANITIZE_ADDRESS__)
#define QV58_HOSTILE_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QV58_HOSTILE_ASAN 1
#endif
#endif

namespace hostile {

#ifdef QV58_HOSTILE_ASAN
constexpr bool UnderAddressSanitizer = true;
#else
constexpr bool UnderAddressSanitizer = false;
#endif

// A normal run of qv58link-flash, downloads and one thread per probe
// included, fits in 100 MiB of address space; holding a whole 64 MiB package
// (and the copy a growing buffer makes) fits in this many times over, while a
// body taken in without end would not.
constexpr qint64 AddressSpaceBytes = qint64(1) << 30;
// The most memory a run may hold at once. Under AddressSanitizer freed blocks
// wait in its quarantine (256 MiB) and its shadow takes an eighth more.
constexpr qint64 PeakResidentKiB = UnderAddressSanitizer ? 1024 * 1024 : 256 * 1024;

// Far above what any run here needs (seconds); a run still going at this
// point has hung, and is killed.
constexpr int DeadlineMs = 60000;

// Details of a probe the tool takes at face value.
inline const QByteArray ProbeDetails = "HIC ID: 51563270\r\nQV58-LINK Mode: Interface\r\nInterface Version: V1.9\r\n"
                                       "Bootloader Version: B1.2\r\n";

} // namespace hostile

// How a companion command ended.
struct TFinished
{
    bool ended = false; // by itself, before its deadline
    int code = -1; // its exit code; -1 when a signal ended it
    QByteArray out;
    QByteArray err;
    qint64 peakKiB = -1; // its peak resident set, when it ran bounded

    std::string transcript() const
    {
        return "exit code " + std::to_string(code) + (ended ? "" : " (killed at its deadline)") + "\nstdout:\n"
            + out.toStdString() + "\nstderr:\n" + err.toStdString();
    }
};

// The built commands run as their own processes against folders that stand
// in for drives, in a scratch folder of the test's own: a working folder that
// must stay empty, the drives' parent that must hold nothing but them, and a
// private runtime folder for the probe locks.
class HostileRun : public ::testing::Test
{
protected:
    enum class TMemory { Free, Bounded };

    HostileRun()
    {
        QDir base(FDir.path());
        base.mkpath(QStringLiteral("drives"));
        base.mkpath(QStringLiteral("cwd"));
        base.mkpath(QStringLiteral("runtime"));
        ::chmod(QFile::encodeName(path(QStringLiteral("runtime"))).constData(), 0700);
    }

    QString path(const QString &relative) const { return FDir.filePath(relative); }

    // A folder the tool counts as a removable drive, with details as its
    // DETAILS.txt unless they are null. Returns its root, ending in "/".
    QString addDrive(const QString &name, const QByteArray &details = hostile::ProbeDetails)
    {
        const QString folder = path(QStringLiteral("drives/") + name);
        QDir().mkpath(folder);
        if (!details.isNull())
            writeWholeFile(folder + QStringLiteral("/DETAILS.txt"), details);
        FDriveNames.append(name);
        FDrives.append(folder);
        return folder + u'/';
    }

    // What every command started from now on gets: only the drives added,
    // downloads from downloadUrl trusting certificateFile, nothing from the
    // machine's proxies or system bus.
    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QV58LINK_DRIVES"), FDrives.join(u':'));
        env.insert(QStringLiteral("QV58LINK_DOWNLOAD_URL"), downloadUrl);
        if (!certificateFile.isEmpty())
            env.insert(QStringLiteral("SSL_CERT_FILE"), certificateFile);
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), path(QStringLiteral("runtime")));
        env.insert(QStringLiteral("NO_PROXY"), QStringLiteral("*"));
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
        env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        return env;
    }

    // Runs a command of the build until it ends, or kills it at the deadline.
    // Bounded, it runs under the address-space limit (where the build allows
    // one) and its peak resident set is taken.
    TFinished run(const QString &tool, const QStringList &arguments, TMemory memory = TMemory::Free,
                  int deadlineMs = hostile::DeadlineMs)
    {
        QString program = QStringLiteral(QV58_BIN_DIR "/") + tool;
        QStringList programArguments = arguments;
        const QString report = path(QStringLiteral("peak-%1").arg(++FRuns));
        if (memory == TMemory::Bounded) {
            const qint64 limit = hostile::UnderAddressSanitizer ? 0 : hostile::AddressSpaceBytes;
            programArguments = QStringList{QString::number(limit), report, program} + arguments;
            program = QStringLiteral(QV58_HOSTILE_BOUNDED_RUN);
        }
        QProcessEnvironment env = environment();
        if (memory == TMemory::Bounded && hostile::UnderAddressSanitizer) {
            // Should the bound not hold, the sanitizer stops the run before it
            // takes the machine's memory with it.
            const QString options = env.value(QStringLiteral("ASAN_OPTIONS"));
            env.insert(QStringLiteral("ASAN_OPTIONS"),
                       options + (options.isEmpty() ? "" : ":")
                           + QStringLiteral("hard_rss_limit_mb=%1").arg(2 * hostile::PeakResidentKiB / 1024));
        }
        QProcess process;
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(path(QStringLiteral("cwd")));
        endWithTheTest(process);
        process.start(program, programArguments);
        TFinished done;
        done.ended = process.waitForFinished(deadlineMs);
        if (!done.ended) {
            process.kill();
            process.waitForFinished(5000);
        } else if (process.exitStatus() == QProcess::NormalExit) {
            done.code = process.exitCode();
        }
        done.out = process.readAllStandardOutput();
        done.err = process.readAllStandardError();
        if (memory == TMemory::Bounded && done.ended) {
            try {
                done.peakKiB = readWholeFile(report).trimmed().toLongLong();
            } catch (const Exception &) {
            }
        }
        return done;
    }

    static void expectBoundedMemory(const TFinished &done)
    {
        ASSERT_GT(done.peakKiB, 0) << "no peak was taken\n" << done.transcript();
        EXPECT_LT(done.peakKiB, hostile::PeakResidentKiB);
    }

    // A package of the V1.10 interface firmware for the probe of ProbeDetails.
    QString goodPackage()
    {
        const QString image = path(QStringLiteral("image.hex"));
        const QString package = path(QStringLiteral("51563270_V1.10.dat"));
        const TFinished made = run(QStringLiteral("qv58link-probe-sim"),
                                   {"--write-image", image, "--image-bytes", "6000", "--image-seed", "hostile"});
        EXPECT_EQ(made.code, 0) << made.transcript();
        const TFinished packed =
            run(QStringLiteral("qv58link-pack"), {"build", "--image", image, "--mode", "App", "--version", "V1.10",
                                                  "--part", "QV58Link Mini", "--date", "2026-12-01 10:00", "-o", package});
        EXPECT_EQ(packed.code, 0) << packed.transcript();
        return package;
    }

    static QJsonArray jsonArray(const TFinished &done)
    {
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(done.out, &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << done.transcript();
        EXPECT_TRUE(document.isArray()) << done.transcript();
        return document.array();
    }

    // Nothing in the working folder, and nothing beside the drives.
    void expectNothingAstray() const
    {
        const auto entries = [](const QString &folder) {
            return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                                          QDir::Name);
        };
        EXPECT_EQ(entries(path(QStringLiteral("cwd"))), QStringList());
        QStringList drives = FDriveNames;
        drives.sort();
        EXPECT_EQ(entries(path(QStringLiteral("drives"))), drives);
    }

    QString downloadUrl = QStringLiteral("https://127.0.0.1:9/Download/qv58link/");
    QString certificateFile;

private:
    QTemporaryDir FDir;
    QStringList FDriveNames;
    QStringList FDrives;
    int FRuns = 0;
};
