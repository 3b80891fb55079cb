#include "UpgradeRunFixture.h"

#include "package/UpgradeFile.h"
#include "platform/Clock.h"
#include "platform/DriveList.h"
#include "platform/FolderDriveList.h"
#include "platform/ProbeLock.h"
#include "probe/ProbeDrive.h"
#include "probe/QV58LinkConfig.h"
#include "upgrade/UpgradeEngine.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Finished
{
    int code = -1;
    QByteArray out;
    QByteArray err;
};

} // namespace

// qv58link-flash against the same companions as the window: a catalogue and
// packages on qv58link-serve, probes played by qv58link-probe-sim.
class FlashCommand : public UpgradeRunFixture
{
protected:
    FlashCommand()
    {
        mini = publish(QStringLiteral("51563270_V1.10"), QStringLiteral("V1.10"), QStringLiteral("QV58Link Mini"));
        max = publish(QStringLiteral("51560059_V2.1"), QStringLiteral("V2.1"), QStringLiteral("QV58Link Max"));
        miniOld = publish(QStringLiteral("51563270_V1.8"), QStringLiteral("V1.8"), QStringLiteral("QV58Link Mini"));
        writeCatalogue("51563270_V1.10;Faster SWD\\r\\nFixes\r\n51560059_V2.1;Max release\r\n"
                       "51563270_V1.8;Older\r\n");
        startServer();
    }
    ~FlashCommand() override { probes.clear(); }

    // A simulated probe on drives/<name>; the tool sees every started one.
    void startProbe(const QString &name, const QStringList &options)
    {
        QStringList arguments{"--drive", drive(name), "--restart-ms", "300"};
        arguments += options;
        probes.push_back(std::make_unique<ToolProcess>(QStringLiteral("qv58link-probe-sim"), arguments));
        ASSERT_FALSE(probes.back()->waitFor(QStringLiteral("present ")).isEmpty())
            << probes.back()->transcript().toStdString();
        names.append(name);
        QStringList folders;
        for (const QString &n : names)
            folders.append(drive(n));
        qputenv("QV58LINK_DRIVES", folders.join(u':').toUtf8());
    }

    static Finished flash(const QStringList &arguments, int ms = 90000)
    {
        QProcess process;
        endWithTheTest(process);
        process.start(QStringLiteral(QV58_BIN_DIR "/qv58link-flash"), arguments);
        Finished done;
        if (!process.waitForFinished(ms)) {
            process.kill();
            process.waitForFinished();
        } else if (process.exitStatus() == QProcess::NormalExit) {
            done.code = process.exitCode();
        }
        done.out = process.readAllStandardOutput();
        done.err = process.readAllStandardError();
        return done;
    }

    static QJsonArray arrayOf(const Finished &done)
    {
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(done.out, &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << done.out.toStdString() << done.err.toStdString();
        EXPECT_TRUE(document.isArray());
        return document.array();
    }

    QString root(const QString &name) const { return drive(name) + u'/'; }

    // A drive of the tool's list that holds just the given details file; no
    // probe answers on it.
    void addDrive(const QString &name, const QByteArray &details)
    {
        QDir().mkpath(drive(name));
        writeWholeFile(drive(name) + QStringLiteral("/DETAILS.txt"), details);
        names.append(name);
        QStringList folders;
        for (const QString &n : names)
            folders.append(drive(n));
        qputenv("QV58LINK_DRIVES", folders.join(u':').toUtf8());
    }

    // Nothing beside the probes' own folders, and nothing in the working folder.
    void expectNothingAstray() const
    {
        EXPECT_TRUE(strayFiles().isEmpty()) << strayFiles().join(u' ').toStdString();
        const QStringList inDrives = QDir(path("drives")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
        for (const QString &entry : inDrives)
            EXPECT_TRUE(names.contains(entry)) << entry.toStdString();
    }

    QByteArray mini, max, miniOld;
    std::vector<std::unique_ptr<ToolProcess>> probes;
    QStringList names;
};

TEST_F(FlashCommand, ListAndVersionsFieldByField)
{
    startProbe("A", {"--app-version", "V1.9", "--boot-version", "B1.2", "--mode", "Interface"});
    startProbe("B", {"--hic-id", "51560059", "--app-version", "V2.0", "--boot-version", "B2.0"});

    const Finished list = flash({"list", "--json"});
    EXPECT_EQ(list.code, 0) << list.err.toStdString();
    const QJsonArray probesFound = arrayOf(list);
    ASSERT_EQ(probesFound.size(), 2);
    EXPECT_EQ(probesFound.at(0).toObject(),
              (QJsonObject{{"drive", root("A")}, {"hicId", "51563270"}, {"partName", "QV58Link Mini"},
                           {"mode", "Interface"}, {"appVersion", "V1.9"}, {"bootVersion", "B1.2"}}));
    EXPECT_EQ(probesFound.at(1).toObject(),
              (QJsonObject{{"drive", root("B")}, {"hicId", "51560059"}, {"partName", "QV58Link Max"},
                           {"mode", "Interface"}, {"appVersion", "V2.0"}, {"bootVersion", "B2.0"}}));

    const Finished versions = flash({"versions", "--json"});
    EXPECT_EQ(versions.code, 0) << versions.err.toStdString();
    EXPECT_EQ(arrayOf(versions),
              (QJsonArray{QJsonObject{{"hicId", "51563270"}, {"version", "V1.10"}, {"fileName", "51563270_V1.10"},
                                      {"descript", "Faster SWD\r\nFixes"}},
                          QJsonObject{{"hicId", "51563270"}, {"version", "V1.8"}, {"fileName", "51563270_V1.8"},
                                      {"descript", "Older"}}}));
    const Finished forMax = flash({"versions", "--probe", drive("B"), "--json"});
    EXPECT_EQ(arrayOf(forMax),
              (QJsonArray{QJsonObject{{"hicId", "51560059"}, {"version", "V2.1"}, {"fileName", "51560059_V2.1"},
                                      {"descript", "Max release"}}}));
    expectNothingAstray();
}

// Eight probes at once: each succeeds, fails or is lost on its own, and each
// gets exactly its own model's image on its own drive.
TEST_F(FlashCommand, EightProbesAtOnce)
{
    const QStringList good = {"A", "B", "C", "D", "E"};
    for (const QString &name : good)
        startProbe(name, {"--app-version", "V1.9", "--new-version", "V1.10"});
    startProbe("F", {"--hic-id", "51560059", "--app-version", "V2.0", "--new-version", "V2.1"});
    startProbe("G", {"--app-version", "V1.9", "--new-version", "V1.10", "--fail"});
    startProbe("H", {"--app-version", "V1.9", "--new-version", "V1.10", "--never-return"});

    const Finished done = flash({"install", "--all", "--json"});
    EXPECT_EQ(done.code, 1) << done.err.toStdString();
    const QJsonArray results = arrayOf(done);
    ASSERT_EQ(results.size(), 8) << done.out.toStdString();
    for (qsizetype i = 0; i < results.size(); ++i) {
        const QJsonObject result = results.at(i).toObject();
        const QString name = names.at(i);
        SCOPED_TRACE(name.toStdString());
        EXPECT_EQ(result.value("drive").toString(), root(name));
        const bool shouldSucceed = name != "G" && name != "H";
        EXPECT_EQ(result.value("result").toString(), shouldSucceed ? "success" : "fail");
        EXPECT_EQ(result.value("versionBefore").toString(), name == "F" ? "V2.0" : "V1.9");
        if (shouldSucceed) {
            EXPECT_EQ(result.value("versionAfter").toString(), name == "F" ? "V2.1" : "V1.10");
            EXPECT_EQ(result.value("message").toString(), "Upgrade QV58-Link fireware success!");
        }
        if (name == "H") {
            EXPECT_EQ(result.value("message").toString(), "QV58-Link not found, please check if it is connected");
        }
        // The image the probe received is its own model's, byte for byte.
        if (name != "H") {
            const QByteArray &image = name == "F" ? max : mini;
            EXPECT_EQ(probes.at(i)->waitFor("image "),
                      QStringLiteral("image bytes=%1 md5=%2").arg(image.size()).arg(md5Of(image)))
                << probes.at(i)->transcript().toStdString();
            EXPECT_EQ(probes.at(i)->lines().filter(QStringLiteral("seen upgrade.Hex")).size(), 1);
        } else {
            EXPECT_TRUE(probes.at(i)->lines().filter(QStringLiteral("seen upgrade")).isEmpty());
        }
    }
    // The catalogue once, each package once however many probes took it.
    const QStringList served = server->lines().filter(QStringLiteral("GET "));
    EXPECT_EQ(served.filter(QStringLiteral("filelist.txt")).size(), 1) << served.join(u'\n').toStdString();
    EXPECT_EQ(served.filter(QStringLiteral("51563270_V1.10.dat")).size(), 1);
    EXPECT_EQ(served.filter(QStringLiteral("51560059_V2.1.dat")).size(), 1);
    expectNothingAstray();
}

TEST_F(FlashCommand, LocalPackageNeedsNoServer)
{
    startProbe("A", {"--app-version", "V1.9", "--new-version", "V1.10"});
    server.reset();
    const Finished done = flash({"install", "--package", sitePath("51563270_V1.10.dat"), "--json"});
    EXPECT_EQ(done.code, 0) << done.out.toStdString() << done.err.toStdString();
    const QJsonArray results = arrayOf(done);
    ASSERT_EQ(results.size(), 1);
    EXPECT_EQ(results.at(0).toObject().value("result").toString(), "success");
    EXPECT_EQ(probes.front()->waitFor("image "), QStringLiteral("image bytes=%1 md5=%2").arg(mini.size()).arg(md5Of(mini)));
    expectNothingAstray();
}

TEST_F(FlashCommand, DowngradeOnlyWhenAllowed)
{
    startProbe("A", {"--app-version", "V1.9", "--new-version", "V1.8"});
    const Finished refused = flash({"install", "--version", "V1.8", "--json"});
    EXPECT_EQ(refused.code, 1);
    const QJsonObject result = arrayOf(refused).at(0).toObject();
    EXPECT_EQ(result.value("result").toString(), "fail");
    EXPECT_EQ(result.value("message").toString(), "The current hardware version is higher than the upgrade file version");
    EXPECT_TRUE(probes.front()->lines().filter(QStringLiteral("seen ")).isEmpty());
    EXPECT_EQ(QDir(drive("A")).entryList(QDir::Files), QStringList{"DETAILS.txt"});

    const Finished allowed = flash({"install", "--version", "V1.8", "--allow-older"});
    EXPECT_EQ(allowed.code, 0) << allowed.out.toStdString();
    EXPECT_EQ(probes.front()->waitFor("image "),
              QStringLiteral("image bytes=%1 md5=%2").arg(miniOld.size()).arg(md5Of(miniOld)));
    // Without --json: plain lines, one per event, each naming its drive.
    EXPECT_TRUE(QString::fromUtf8(allowed.out).contains(root("A") + ": Upgrade QV58-Link fireware success!"))
        << allowed.out.toStdString();
    expectNothingAstray();
}

TEST_F(FlashCommand, ExitCodesForBadCommandLinesAndNoProbe)
{
    const struct
    {
        QStringList arguments;
        int code;
    } cases[] = {
        {{}, 2},
        {{"flash"}, 2},
        {{"list", "--all"}, 2},
        {{"install", "--probe"}, 2},
        {{"install", "--all", "--probe", "x"}, 2},
        {{"install", "--version", "V1", "--package", "p.dat"}, 2},
        {{"list"}, 3},
        {{"versions"}, 3},
        {{"install", "--all"}, 3},
        {{"--version"}, 0},
        {{"--help"}, 0},
    };
    qputenv("QV58LINK_DRIVES", "");
    for (const auto &c : cases) {
        SCOPED_TRACE(c.arguments.join(u' ').toStdString());
        EXPECT_EQ(flash(c.arguments).code, c.code);
    }
}

namespace {

// Terminal controls that must never reach a terminal raw: ESC, BEL and the
// C1 control CSI (U+009B) in UTF-8.
bool holdsControls(const QByteArray &text)
{
    return text.contains('\x1b') || text.contains('\x07') || text.contains("\xc2\x9b");
}

} // namespace

// Texts from a drive, the catalogue and the download on their way to a
// terminal: shown with their controls escaped, in the drive list, the
// versions, the progress lines and the errors alike. JSON keeps them as they are.
TEST_F(FlashCommand, ControlCharactersNeverReachTheTerminalRaw)
{
    addDrive("A", "HIC ID: 51563270\r\nQV58-LINK Mode: Inter\x1b]0;evil\x07" "face\r\nInterface Version: V1.9\r\n"
                  "Bootloader Version: B1.2\r\n");
    addDrive("B\x1b[31m", "HIC ID: 51560059\r\nQV58-LINK Mode: Interface\r\n");
    writeCatalogue("51563270_V1.11\x1b[2J;Clears\xc2\x9bthe\\r\\nscreen\r\n51563270_V1.10;Faster SWD\r\n");

    const Finished list = flash({"list"});
    EXPECT_EQ(list.code, 0) << list.err.toStdString();
    EXPECT_FALSE(holdsControls(list.out)) << list.out.toStdString();
    const QString listed = QString::fromUtf8(list.out);
    EXPECT_TRUE(listed.contains(root("A") + "  HIC ID 51563270  QV58Link Mini  mode Inter\\x1b]0;evil\\x07face  "
                                            "interface V1.9  bootloader B1.2\n"))
        << list.out.toStdString();
    EXPECT_TRUE(listed.contains(drive("B") + "\\x1b[31m/  HIC ID 51560059")) << list.out.toStdString();

    const Finished json = flash({"list", "--json"});
    EXPECT_EQ(arrayOf(json).at(0).toObject().value("mode").toString(), "Inter\x1b]0;evil\x07" "face");

    const Finished versions = flash({"versions"});
    EXPECT_EQ(versions.code, 0) << versions.err.toStdString();
    EXPECT_FALSE(holdsControls(versions.out)) << versions.out.toStdString();
    EXPECT_EQ(versions.out.toStdString(),
              "V1.11\\x1b[2J  51563270_V1.11\\x1b[2J.dat  Clears\\x9bthe screen\n"
              "V1.10  51563270_V1.10.dat  Faster SWD\n");

    // The entry names a package the site does not have: the download lines
    // and the failure carry the name.
    const Finished install = flash({"install", "--version", "V1.11\x1b[2J"});
    EXPECT_EQ(install.code, 1) << install.out.toStdString() << install.err.toStdString();
    EXPECT_FALSE(holdsControls(install.out)) << install.out.toStdString();
    EXPECT_FALSE(holdsControls(install.err)) << install.err.toStdString();
    EXPECT_TRUE(install.out.contains("51563270_V1.11\\x1b[2J.dat: ")) << install.out.toStdString();
    EXPECT_TRUE(install.out.contains(root("A").toUtf8() + ": fail: ")) << install.out.toStdString();
}

// A drive whose details cannot be read (reading it fails with an I/O error)
// is named with its reason; the probes beside it are still served.
TEST_F(FlashCommand, ABadDriveDoesNotHideTheOthers)
{
    QDir().mkpath(drive("Bad"));
    ASSERT_EQ(::symlink("/proc/self/mem", QFile::encodeName(drive("Bad") + "/DETAILS.txt").constData()), 0);
    names.append("Bad");
    addDrive("Good", "HIC ID: 51563270\r\nQV58-LINK Mode: Interface\r\nInterface Version: V1.9\r\n");

    const QByteArray named = (QStringLiteral("qv58link-flash: ") + root("Bad") + ": not a probe: ").toUtf8();
    const Finished list = flash({"list"});
    EXPECT_EQ(list.code, 0) << list.err.toStdString();
    EXPECT_TRUE(list.out.startsWith(root("Good").toUtf8() + "  HIC ID 51563270")) << list.out.toStdString();
    EXPECT_EQ(list.out.count('\n'), 1) << list.out.toStdString();
    EXPECT_TRUE(list.err.contains(named + "Cannot open file \"")) << list.err.toStdString();

    const Finished versions = flash({"versions", "--json"});
    EXPECT_EQ(versions.code, 0) << versions.err.toStdString();
    EXPECT_EQ(arrayOf(versions).size(), 2);
    EXPECT_TRUE(versions.err.contains(named)) << versions.err.toStdString();

    const Finished json = flash({"list", "--json"});
    ASSERT_EQ(arrayOf(json).size(), 1);
    EXPECT_EQ(arrayOf(json).at(0).toObject().value("drive").toString(), root("Good"));
}

namespace {

// The user's private runtime folder for this test and the tools it starts.
class ScopedRuntimeFolder
{
public:
    ScopedRuntimeFolder()
        : FWasSet(qEnvironmentVariableIsSet("XDG_RUNTIME_DIR"))
        , FOld(qgetenv("XDG_RUNTIME_DIR"))
    {
        ::chmod(QFile::encodeName(FDir.path()).constData(), 0700);
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(FDir.path()));
    }
    ~ScopedRuntimeFolder()
    {
        if (FWasSet)
            qputenv("XDG_RUNTIME_DIR", FOld);
        else
            qunsetenv("XDG_RUNTIME_DIR");
    }
    QStringList files() const { return QDir(FDir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot); }

private:
    QTemporaryDir FDir;
    bool FWasSet;
    QByteArray FOld;
};

class CollectedLog final : public IUpgradeReport
{
public:
    void addLog(const QString &text, bool replaceLast) override
    {
        if (replaceLast && !lines.isEmpty())
            lines.removeLast();
        lines.append(text);
    }
    bool confirmOlder(const QString &) override { return false; }

    QStringList lines;
};

} // namespace

// Whoever holds a probe, the command and the window's engine (which follows
// no identity of its own) are both refused before they write anything.
TEST_F(FlashCommand, OneWriterPerProbe)
{
    ScopedRuntimeFolder runtime;
    startProbe("A", {"--app-version", "V1.9", "--new-version", "V1.10"});
    const QString busy = QStringLiteral(
        "QV58-Link on %1 is being upgraded by another program; try again when it has finished").arg(root("A"));

    TProbeLock holder(root("A"));
    ASSERT_EQ(holder.tryLock(), TProbeLock::Held);

    const Finished refused = flash({"install", "--json"});
    EXPECT_EQ(refused.code, 1) << refused.err.toStdString();
    const QJsonObject result = arrayOf(refused).at(0).toObject();
    EXPECT_EQ(result.value("result").toString(), "fail");
    EXPECT_EQ(result.value("message").toString(), busy);
    EXPECT_TRUE(refused.err.contains(("Error: " + busy).toUtf8())) << refused.err.toStdString();

    CollectedLog log;
    TFolderDriveList drives(drive("A"));
    TUpgradeEngine window(log, drives, Clock::instance());
    TQV58LinkConfig details;
    ASSERT_TRUE(readProbeDetails(root("A") + DetailsLoadName, details));
    EXPECT_FALSE(window.upgrade(TUpgradeFile(sitePath("51563270_V1.10.dat")), details));
    EXPECT_EQ(window.outcome().message, busy);
    EXPECT_EQ(log.lines.mid(log.lines.size() - 3),
              (QStringList{"Result", "    Error: " + busy, "Upgrade QV58-Link fireware fail!"}));

    EXPECT_EQ(QDir(drive("A")).entryList(QDir::Files), QStringList{"DETAILS.txt"});
    EXPECT_TRUE(probes.front()->lines().filter(QStringLiteral("seen ")).isEmpty());

    // Once the holder lets go the probe is flashed, and no lock is left behind.
    holder.unlock();
    const Finished done = flash({"install", "--json"});
    EXPECT_EQ(done.code, 0) << done.out.toStdString() << done.err.toStdString();
    EXPECT_EQ(probes.front()->waitFor("image "),
              QStringLiteral("image bytes=%1 md5=%2").arg(mini.size()).arg(md5Of(mini)));
    EXPECT_TRUE(runtime.files().isEmpty()) << runtime.files().join(u' ').toStdString();
    expectNothingAstray();
}
