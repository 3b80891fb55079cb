#include "app/LocalSite.h"
#include "e2e/ToolProcess.h"

#include "common/FileIO.h"
#include "package/PackageBuilder.h"
#include "platform/FolderDriveList.h"
#include "tools/flash/Commands.h"
#include "tools/flash/FlashCommand.h"
#include "tools/probe-sim/IntelHex.h"

#include <QCryptographicHash>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>

namespace {

struct TRun
{
    int code = -1;
    QString out;
    QString err;
};

const QByteArray MiniDetails = "HIC ID: 51563270\r\nQV58-LINK Mode: Interface\r\nInterface Version: V1.9\r\n"
                               "Bootloader Version: B1.2\r\n";
const QByteArray MaxDetails = "HIC ID: 51560059\r\nQV58-LINK Mode: Bootloader\r\nInterface Version: V2.0\r\n"
                              "Bootloader Version: B2.0\r\n";

// A drive list as one that cannot tell the USB port of some drives gives
// it: those drives are followed by their roots alone.
class TPortUnknownDrives final : public IDriveList
{
public:
    TPortUnknownDrives(IDriveList &drives, const QStringList &roots)
        : FDrives(drives)
        , FRoots(roots)
    {
    }

    QList<TDriveInfo> drives() override
    {
        QList<TDriveInfo> found = FDrives.drives();
        for (TDriveInfo &drive : found)
            drive.portUnknown = FRoots.contains(drive.root);
        return found;
    }

private:
    IDriveList &FDrives;
    QStringList FRoots;
};

// The commands in process: their drives are folders below a temporary one,
// their streams are texts.
class FlashCommands : public ::testing::Test
{
protected:
    QString drive(const QString &name) const { return FDir.filePath(QStringLiteral("drives/") + name); }
    QString root(const QString &name) const { return drive(name) + u'/'; }
    QString path(const QString &name) const { return FDir.filePath(name); }

    // A drive of the list; with details, a probe that answers nothing.
    void addDrive(const QString &name, const QByteArray &details = {})
    {
        QDir().mkpath(drive(name));
        if (!details.isEmpty())
            writeWholeFile(drive(name) + QStringLiteral("/DETAILS.txt"), details);
        FNames.append(name);
    }

    // A drive a child process looks after: it is in the list from now on.
    void listDrive(const QString &name) { FNames.append(name); }

    TRun run(const QStringList &arguments)
    {
        QStringList folders;
        for (const QString &name : FNames)
            folders.append(drive(name));
        TFolderDriveList folderDrives(folders.join(u':'));
        QStringList portUnknownRoots;
        for (const QString &name : FPortUnknown)
            portUnknownRoots.append(root(name));
        TPortUnknownDrives drives(folderDrives, portUnknownRoots);
        TRun done;
        QTextStream out(&done.out);
        QTextStream err(&done.err);
        TCommandContext context{out, err, false, drives};
        done.code = runFlashCommand(arguments, context);
        out.flush();
        err.flush();
        return done;
    }

    static QJsonArray arrayOf(const TRun &done)
    {
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(done.out.toUtf8(), &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << done.out.toStdString() << done.err.toStdString();
        EXPECT_TRUE(document.isArray()) << done.out.toStdString();
        return document.array();
    }

    QStringList filesOn(const QString &name) const { return QDir(drive(name)).entryList(QDir::Files); }

    QTemporaryDir FDir;
    QStringList FNames;
    // Drives whose USB port the list cannot tell.
    QStringList FPortUnknown;
};

QString md5Of(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex().toUpper());
}

} // namespace

TEST_F(FlashCommands, ListShowsEachProbeAndSaysWhenThereIsNone)
{
    const TRun none = run({"list"});
    EXPECT_EQ(none.code, feNoProbe);
    EXPECT_EQ(none.out, QString());
    EXPECT_EQ(none.err, "qv58link-flash: QV58-Link not detected, please check if it is connected\n");

    addDrive("A", MiniDetails);
    addDrive("Stick");
    addDrive("B", MaxDetails);

    const TRun plain = run({"list"});
    EXPECT_EQ(plain.code, feOk) << plain.err.toStdString();
    EXPECT_EQ(plain.out, root("A") + "  HIC ID 51563270  QV58Link Mini  mode Interface  interface V1.9  bootloader B1.2\n"
                             + root("B") + "  HIC ID 51560059  QV58Link Max  mode Bootloader  interface V2.0  bootloader B2.0\n");
    EXPECT_EQ(plain.err, QString());

    const TRun json = run({"list", "--json"});
    EXPECT_EQ(json.code, feOk);
    EXPECT_EQ(arrayOf(json),
              (QJsonArray{QJsonObject{{"drive", root("A")}, {"hicId", "51563270"}, {"partName", "QV58Link Mini"},
                                      {"mode", "Interface"}, {"appVersion", "V1.9"}, {"bootVersion", "B1.2"}},
                          QJsonObject{{"drive", root("B")}, {"hicId", "51560059"}, {"partName", "QV58Link Max"},
                                      {"mode", "Bootloader"}, {"appVersion", "V2.0"}, {"bootVersion", "B2.0"}}}));
}

TEST_F(FlashCommands, VersionsAreTheCataloguesForTheChosenProbe)
{
    LocalSite site;
    site.put("filelist.txt", "51563270_V1.10;Faster SWD\\r\\nFixes\r\n51560059_V2.1;Max release\r\n"
                             "51563270_V1.8;Older\r\n");
    addDrive("A", MiniDetails);
    addDrive("B", MaxDetails);

    const TRun first = run({"versions", "--json"});
    EXPECT_EQ(first.code, feOk) << first.err.toStdString();
    EXPECT_EQ(arrayOf(first),
              (QJsonArray{QJsonObject{{"hicId", "51563270"}, {"version", "V1.10"}, {"fileName", "51563270_V1.10"},
                                      {"descript", "Faster SWD\r\nFixes"}},
                          QJsonObject{{"hicId", "51563270"}, {"version", "V1.8"}, {"fileName", "51563270_V1.8"},
                                      {"descript", "Older"}}}));

    const TRun named = run({"versions", "--probe=" + drive("B")});
    EXPECT_EQ(named.code, feOk) << named.err.toStdString();
    EXPECT_EQ(named.out, "V2.1  51560059_V2.1.dat  Max release\n");

    const TRun elsewhere = run({"versions", "--probe", path("nowhere")});
    EXPECT_EQ(elsewhere.code, feNoProbe);
    EXPECT_EQ(elsewhere.out, QString());
}

// A package for another model is refused before anything is written; the
// refusal is the probe's result, not an error of the run.
TEST_F(FlashCommands, InstallRefusesAnotherModelsPackage)
{
    addDrive("A", MiniDetails);
    writeWholeFile(path("max.dat"), buildPackage(makeFirmwareImage(512, "max"), "App", "V2.1", "QV58Link Max",
                                                 "2026-12-01 10:00"));

    const TRun refused = run({"install", "--package", path("max.dat"), "--json"});
    EXPECT_EQ(refused.code, feFailed) << refused.err.toStdString();
    EXPECT_EQ(arrayOf(refused),
              (QJsonArray{QJsonObject{{"drive", root("A")},
                                      {"result", "fail"},
                                      {"message", "Target is \"QV58Link Mini\", Upgrade file is \"QV58Link Max\", not match"},
                                      {"versionBefore", "V1.9"},
                                      {"versionAfter", ""}}}));
    EXPECT_EQ(filesOn("A"), QStringList{"DETAILS.txt"});

    // Not a package at all: refused alike, and named so.
    writeWholeFile(path("junk.dat"), QByteArray(4096, 'x'));
    const TRun junk = run({"install", "--package", path("junk.dat")});
    EXPECT_EQ(junk.code, feFailed);
    EXPECT_TRUE(junk.out.contains(root("A") + ": fail: Invalid upgrade file!")) << junk.out.toStdString();
    EXPECT_EQ(filesOn("A"), QStringList{"DETAILS.txt"});
}

// A whole install of a local package onto a probe played by qv58link-probe-sim.
TEST_F(FlashCommands, InstallFlashesALocalPackage)
{
    const QByteArray image = makeFirmwareImage(6000, "mini");
    writeWholeFile(path("mini.dat"), buildPackage(image, "App", "V1.10", "QV58Link Mini", "2026-12-01 10:00"));
    ToolProcess probe(QStringLiteral("qv58link-probe-sim"),
                      {"--drive", drive("A"), "--restart-ms", "300", "--app-version", "V1.9", "--new-version", "V1.10"});
    ASSERT_FALSE(probe.waitFor(QStringLiteral("present ")).isEmpty()) << probe.transcript().toStdString();
    listDrive("A");

    const TRun done = run({"install", "--package", path("mini.dat"), "--json"});
    EXPECT_EQ(done.code, feOk) << done.out.toStdString() << done.err.toStdString();
    EXPECT_EQ(arrayOf(done),
              (QJsonArray{QJsonObject{{"drive", root("A")},
                                      {"result", "success"},
                                      {"message", "Upgrade QV58-Link fireware success!"},
                                      {"versionBefore", "V1.9"},
                                      {"versionAfter", "V1.10"}}}));
    // With --json the progress lines go to err, each naming the drive.
    EXPECT_TRUE(done.err.contains(root("A") + ": Upgrade QV58-Link fireware success!")) << done.err.toStdString();
    EXPECT_EQ(probe.waitFor("image "), QStringLiteral("image bytes=%1 md5=%2").arg(image.size()).arg(md5Of(image)));
}

// Two probes flashed at once, one of them on a drive whose USB port is
// unknown: that one is named once, and both are flashed.
TEST_F(FlashCommands, InstallAllNamesEachProbeFollowedByItsLetterAlone)
{
    const QByteArray image = makeFirmwareImage(6000, "mini");
    writeWholeFile(path("mini.dat"), buildPackage(image, "App", "V1.10", "QV58Link Mini", "2026-12-01 10:00"));
    std::vector<std::unique_ptr<ToolProcess>> probes;
    for (const char *name : {"A", "B"}) {
        probes.push_back(std::make_unique<ToolProcess>(
            QStringLiteral("qv58link-probe-sim"), QStringList{"--drive", drive(name), "--restart-ms", "300",
                                                              "--app-version", "V1.9", "--new-version", "V1.10"}));
        ASSERT_FALSE(probes.back()->waitFor(QStringLiteral("present ")).isEmpty())
            << probes.back()->transcript().toStdString();
        listDrive(name);
    }
    FPortUnknown = {"B"};
    const QString notice = "qv58link-flash: " + root("B")
        + ": the USB port of this drive is unknown; the probe is followed by its drive letter\n";

    const TRun done = run({"install", "--all", "--package", path("mini.dat"), "--json"});
    EXPECT_EQ(done.code, feOk) << done.out.toStdString() << done.err.toStdString();
    EXPECT_EQ(done.err.count(notice), 1) << done.err.toStdString();
    EXPECT_FALSE(done.err.contains(root("A") + ": the USB port")) << done.err.toStdString();
    const QJsonArray results = arrayOf(done);
    ASSERT_EQ(results.size(), 2);
    for (const QJsonValue &result : results) {
        const QJsonObject object = result.toObject();
        EXPECT_EQ(object.value("result").toString().toStdString(), "success")
            << object.value("message").toString().toStdString();
        EXPECT_EQ(object.value("versionAfter").toString().toStdString(), "V1.10");
    }
    const QString flashed = QStringLiteral("image bytes=%1 md5=%2").arg(image.size()).arg(md5Of(image));
    for (const auto &probe : probes) {
        EXPECT_EQ(probe->waitFor("image "), flashed);
    }

    // A single probe has no other one restarting beside it that could come
    // back on its letter: nothing is said.
    writeWholeFile(path("max.dat"), buildPackage(makeFirmwareImage(512, "max"), "App", "V2.1", "QV58Link Max",
                                                 "2026-12-01 10:00"));
    const TRun one = run({"install", "--probe", drive("B"), "--package", path("max.dat")});
    EXPECT_EQ(one.code, feFailed) << one.out.toStdString() << one.err.toStdString();
    EXPECT_FALSE(one.err.contains("the USB port")) << one.err.toStdString();
}

TEST_F(FlashCommands, BadCommandLinesAreNamedWithTheUsage)
{
    const struct
    {
        QStringList arguments;
        QString error;
        QString usage; // the first line of the usage that follows
    } cases[] = {
        {{}, "a command is needed: list, versions or install", "Usage: qv58link-flash <command> [options]"},
        {{"flash"}, "unknown command \"flash\"", "Usage: qv58link-flash <command> [options]"},
        {{"help", "flash"}, "unknown command \"flash\"", "Usage: qv58link-flash <command> [options]"},
        {{"--json", "list"}, "unknown option \"--json\"", "Usage: qv58link-flash <command> [options]"},
        {{"list", "--all"}, "list does not take \"--all\"", "Usage: qv58link-flash list [--json]"},
        {{"list", "--probe=A"}, "list does not take \"--probe=A\"", "Usage: qv58link-flash list [--json]"},
        {{"list", "drive"}, "list does not take \"drive\"", "Usage: qv58link-flash list [--json]"},
        {{"versions", "--probe"}, "--probe needs a value", "Usage: qv58link-flash versions [--probe DRIVE] [--json]"},
        {{"versions", "--probe", ""}, "--probe needs a value", "Usage: qv58link-flash versions [--probe DRIVE] [--json]"},
        {{"install", "--package="}, "--package needs a value", "Usage: qv58link-flash install [--probe DRIVE | --all]"},
        {{"install", "--json", "--version"}, "--version needs a value", "Usage: qv58link-flash install"},
        {{"install", "--all=no"}, "--all takes no value", "Usage: qv58link-flash install"},
        {{"install", "--all", "--probe", "A"}, "--probe and --all exclude each other", "Usage: qv58link-flash install"},
        {{"install", "--package", "p.dat", "--version", "V1"}, "--version and --package exclude each other",
         "Usage: qv58link-flash install"},
    };
    addDrive("A", MiniDetails);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.arguments.join(u' ').toStdString());
        const TRun done = run(c.arguments);
        EXPECT_EQ(done.code, feUsage);
        EXPECT_EQ(done.out, QString());
        const QStringList lines = done.err.split(u'\n');
        ASSERT_GE(lines.size(), 2) << done.err.toStdString();
        EXPECT_EQ(lines.at(0), "qv58link-flash: " + c.error);
        EXPECT_TRUE(lines.at(1).startsWith(c.usage)) << lines.at(1).toStdString();
    }
    EXPECT_EQ(filesOn("A"), QStringList{"DETAILS.txt"});
}

// The help is made from the registry: every command with its synopsis, and
// each command's own help with every option and what it does.
TEST_F(FlashCommands, HelpNamesEveryCommandAndOption)
{
    for (const QStringList &arguments : {QStringList{"--help"}, QStringList{"-h"}, QStringList{"help"}}) {
        SCOPED_TRACE(arguments.join(u' ').toStdString());
        const TRun done = run(arguments);
        EXPECT_EQ(done.code, feOk);
        EXPECT_EQ(done.err, QString());
        EXPECT_TRUE(done.out.startsWith("Usage: qv58link-flash <command> [options]\n")) << done.out.toStdString();
        EXPECT_TRUE(done.out.contains("  install [--probe DRIVE | --all] [--version V | --package FILE.dat] "
                                      "[--allow-older] [--json]\n"))
            << done.out.toStdString();
        for (const auto &command : makeFlashCommands()) {
            EXPECT_TRUE(done.out.contains("  " + command->name() + " ")) << command->name().toStdString();
            EXPECT_TRUE(done.out.contains(command->description())) << command->name().toStdString();
        }
    }
    for (const auto &command : makeFlashCommands()) {
        SCOPED_TRACE(command->name().toStdString());
        const TRun own = run({command->name(), "--help"});
        EXPECT_EQ(own.code, feOk);
        EXPECT_EQ(run({"help", command->name()}).out, own.out);
        for (const QCommandLineOption &option : command->options()) {
            const QRegularExpression row("\n  --" + QRegularExpression::escape(option.names().first()) + "[ A-Z.a-z]* "
                                         + QRegularExpression::escape(option.description()) + "\n");
            EXPECT_TRUE(own.out.contains(row)) << own.out.toStdString();
        }
    }

    const TRun version = run({"-v"});
    EXPECT_EQ(version.code, feOk);
    EXPECT_TRUE(version.out.startsWith("qv58link-flash ")) << version.out.toStdString();
    EXPECT_EQ(run({"--version", "list"}).out, version.out);
}
