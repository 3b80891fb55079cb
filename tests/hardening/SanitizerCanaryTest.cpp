#include "probe/QV58LinkConfig.h"

#include <QCoreApplication>
#include <QProcess>
#include <gtest/gtest.h>

#include <climits>

// Each canary commits one fault on purpose; it only runs in a child process
// started by the test below, never on its own.
namespace {

QObject *volatile leakSink = nullptr;

} // namespace

TEST(SanitizerCanary, DISABLED_LeaksAProbeRecord)
{
    leakSink = new TQV58LinkConfig;
    leakSink = nullptr;
}

TEST(SanitizerCanary, DISABLED_ReadsAFreedBlock)
{
    char *volatile block = new char[8];
    delete[] block;
    volatile char gone = block[0];
    (void)gone;
}

TEST(SanitizerCanary, DISABLED_OverflowsASignedInteger)
{
    volatile int big = INT_MAX;
    volatile int sum = big + 1;
    (void)sum;
}

namespace {

struct Canary
{
    const char *sanitizer;
    const char *test;
    const char *report; // the line the sanitizer must print
    const char *culprit; // must be named in the report, so a suppression cannot hide it
};

const Canary Canaries[] = {
    {"address", "DISABLED_LeaksAProbeRecord", "ERROR: LeakSanitizer: detected memory leaks",
     "DISABLED_LeaksAProbeRecord"},
    {"address", "DISABLED_ReadsAFreedBlock", "ERROR: AddressSanitizer: heap-use-after-free",
     "DISABLED_ReadsAFreedBlock"},
    {"undefined", "DISABLED_OverflowsASignedInteger", "runtime error: signed integer overflow",
     "SanitizerCanaryTest.cpp"},
};

} // namespace

// The instrumented build runs with the same sanitizer options as every other
// test: a leak of the tool's own objects, a memory fault or undefined
// behaviour must each end the process with a failure and a report.
TEST(SanitizerBuildTest, EveryFaultEndsTheProcessWithAReport)
{
    const QStringList sanitizers = QStringLiteral(QV58_SANITIZERS).split(u',', Qt::SkipEmptyParts);
    if (sanitizers.isEmpty())
        GTEST_SKIP() << "not an instrumented build";

    for (const Canary &canary : Canaries) {
        SCOPED_TRACE(canary.test);
        if (!sanitizers.contains(QLatin1String(canary.sanitizer)))
            continue;
        QProcess child;
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--gtest_also_run_disabled_tests"),
                     QStringLiteral("--gtest_filter=SanitizerCanary.") + QLatin1String(canary.test)});
        ASSERT_TRUE(child.waitForFinished(30000));
        const QByteArray output = child.readAll();
        EXPECT_FALSE(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0) << output.constData();
        EXPECT_TRUE(output.contains(canary.report)) << output.constData();
        EXPECT_TRUE(output.contains(canary.culprit)) << output.constData();
    }
}
