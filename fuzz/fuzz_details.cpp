// The probe's details file, through the same path as a load: the file is read
// from disk, decoded, split into lines, parsed, and copied into the record.

#include "FuzzCheck.h"

#include "common/Exceptions.h"
#include "common/FileIO.h"
#include "probe/CopyProperties.h"
#include "probe/PartName.h"
#include "probe/QV58LinkConfig.h"
#include "probe/QV58LinkConfigFile.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <memory>

namespace {

const QString &detailsPath()
{
    // Memory-backed when the machine has it: one file rewritten per input.
    static QTemporaryDir dir(QFileInfo(QStringLiteral("/dev/shm")).isWritable()
                                 ? QStringLiteral("/dev/shm/qv58-fuzz-XXXXXX")
                                 : QDir::tempPath() + QStringLiteral("/qv58-fuzz-XXXXXX"));
    static const QString path = dir.filePath(QStringLiteral("DETAILS.txt"));
    return path;
}

// A value came through Trim and from one line: no line break, no NUL, no blank
// at either end.
bool isCleanValue(const QString &value)
{
    if (value.isEmpty())
        return true;
    if (value.front().unicode() <= 32 || value.back().unicode() <= 32)
        return false;
    return !value.contains(QChar(u'\r')) && !value.contains(QChar(u'\n')) && !value.contains(QChar(u'\0'));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    writeWholeFile(detailsPath(), fuzzBytes(data, size));

    // Past the bound a load is refused rather than parsed.
    if (size > size_t(DetailsFileMaxBytes)) {
        bool refused = false;
        try {
            const TQV58LinkConfigFile parser(detailsPath());
        } catch (const EFOpenError &) {
            refused = true;
        }
        FUZZ_CHECK(refused);
        return 0;
    }

    // Only a file that cannot be opened may raise, and this one always can:
    // any exception here escapes and counts as a crash.
    const auto parser = std::make_unique<TQV58LinkConfigFile>(detailsPath());

    for (const QString &value : {parser->HICID(), parser->mode(), parser->appVersion(), parser->bootVersion()})
        FUZZ_CHECK(isCleanValue(value));
    FUZZ_CHECK(parser->voltageOutput() == voNone || parser->voltageOutput() == vo33V
               || parser->voltageOutput() == vo5V);

    // A record that held another probe must end up equal to this load.
    TQV58LinkConfig record;
    record.setBeep(!parser->beep());
    record.setVoltageOutput(parser->voltageOutput() == vo5V ? voNone : vo5V);
    record.setHICID(parser->HICID() + QStringLiteral("old"));
    record.setMode(QStringLiteral("old mode"));
    record.setAppVersion(QStringLiteral("old app"));
    record.setBootVersion(QStringLiteral("old boot"));
    copyProperties(*parser, record);
    FUZZ_CHECK(record.beep() == parser->beep());
    FUZZ_CHECK(record.voltageOutput() == parser->voltageOutput());
    FUZZ_CHECK(record.HICID() == parser->HICID());
    FUZZ_CHECK(record.mode() == parser->mode());
    FUZZ_CHECK(record.appVersion() == parser->appVersion());
    FUZZ_CHECK(record.bootVersion() == parser->bootVersion());

    const QString model = partNameOf(record.HICID());
    FUZZ_CHECK(model == QStringLiteral("QV58Link Mini") || model == QStringLiteral("QV58Link Max")
               || model == QStringLiteral("unknow"));
    return 0;
}
