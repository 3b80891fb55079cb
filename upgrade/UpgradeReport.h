#pragma once

#include <QString>

// The stages of one upgrade, in the order a successful run reaches them.
enum class TUpgradeStep {
    // The package's bytes arrive: done and total count the bytes of the body
    // being read. Each body the client reads (a redirect's or an error page's
    // too) starts again with 0 of its announced length (0 when none is
    // announced); a block always brings at least one byte.
    Download,
    // The package is checked and deciphered.
    Validate,
    // The marker is written and the probe restarts into its bootloader.
    Restart,
    // The image is written: 0 of its size, then all of it.
    WriteImage,
    // The probe restarts to install the image.
    RestartAgain,
    // The probe is back: its failure file and its version are checked.
    Verify,
};

// Where the engine's lines, its progress and its one question go: the
// window's log and boxes, or the headless command's output and its options.
class IUpgradeReport
{
public:
    virtual ~IUpgradeReport() = default;

    // Appends a line; with replaceLast, first removes the last one.
    virtual void addLog(const QString &text, bool replaceLast) = 0;

    // The question asked before a package older than the probe's firmware is
    // installed; true installs it anyway. A report that cannot ask declines.
    virtual bool confirmOlder(const QString &question)
    {
        Q_UNUSED(question);
        return false;
    }

    // The run has reached step, done of total (0 of 0 where there is nothing
    // to count). Comes before the log lines the same event writes, for fronts
    // that show progress their own way; a run that fails reports no step
    // after the one it failed in.
    virtual void step(TUpgradeStep step, qint64 done, qint64 total)
    {
        Q_UNUSED(step);
        Q_UNUSED(done);
        Q_UNUSED(total);
    }
};

// The lines of a package download, as the window and the headless command
// both show them.
namespace downloadText {
QString announce();
QString begin(qint64 total);
QString progress(qint64 count, qint64 total);
} // namespace downloadText
