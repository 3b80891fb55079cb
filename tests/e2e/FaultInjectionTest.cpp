#include "UpgradeRunFixture.h"

#include "support/TestSystem.h"

#include "probe/QV58LinkConfig.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QRegularExpression>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <iostream>
#include <optional>
#include <fcntl.h>
#include <sched.h>
#include <sys/fsuid.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QByteArray Catalogue = "51563270_V1.10;Mini firmware V1.10\r\n";
const QString AnnounceLine = QStringLiteral("Upgrade QV58-Link fireware ... ");

// Root can make a device read-only or full for real. The mounts live in a
// mount namespace of this process alone (inherited by the probe simulator it
// starts), so they go with the process even when a test dies.
bool canMount()
{
    static const bool ok = ::geteuid() == 0 && ::unshare(CLONE_NEWNS) == 0
        && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    return ok;
}

// The process ID of this process's child running the named program.
qint64 childProcessId(const QByteArray &program)
{
    const qint64 self = QCoreApplication::applicationPid();
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (name) state ppid …"; the name may hold blanks and parentheses.
        const QByteArray line = stat.readAll();
        const qsizetype open = line.indexOf('('), close = line.lastIndexOf(')');
        if (open < 0 || close < open)
            continue;
        const QList<QByteArray> rest = line.mid(close + 2).split(' ');
        if (line.mid(open + 1, close - open - 1) == program && rest.size() > 1 && rest.at(1).toLongLong() == self)
            return entry.toLongLong();
    }
    return 0;
}

// Processor time used so far by this process, all its threads together.
qint64 processCpuMicroseconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

} // namespace

// Faults of the device, the probe's files and the server during a real run:
// each ends in a clear message or log line, with the actions back and nothing
// written outside the probe's folders.
class FaultInjection : public UpgradeRunFixture
{
protected:
    void SetUp() override
    {
        // Before any child starts, so the simulator shares the mounts.
        canMount();
        image = publish("51563270_V1.10", "V1.10", "QV58Link Mini");
        writeCatalogue(Catalogue);
    }

    ~FaultInjection() override
    {
        // The simulator goes before its folders are unmounted or made writable again.
        window.reset();
        probe.reset();
        for (const QByteArray &point : FMounts)
            ::umount2(point.constData(), MNT_DETACH);
        for (const QString &folder : FLocked)
            QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        TFileWriter::setWriteLimiter(nullptr);
    }

    void openWithProbe()
    {
        startProbe({"--app-version", "V1.9"});
        openWindow();
        ASSERT_TRUE(boxes.shown.isEmpty()) << boxes.texts().join(u'|').toStdString();
        ASSERT_EQ(window->upgradeFileName(), QStringLiteral("51563270_V1.10.dat"));
    }

    void mountOn(const QString &folder, const char *type, unsigned long flags, const char *options)
    {
        const QByteArray point = QFile::encodeName(folder);
        ASSERT_EQ(::mount(type ? type : point.constData(), point.constData(), type, flags, options), 0)
            << std::strerror(errno);
        FMounts.prepend(point);
    }

    // Without mount rights the folder loses its write bits instead. Root
    // passes over those, so the window's file access then has to run as
    // "nobody" (TFilesAsNobody), who must still find and read the probe.
    void makeReadOnly(const QString &folder)
    {
        if (canMount()) {
            mountOn(folder, nullptr, MS_BIND, nullptr);
            mountOn(folder, nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr);
            return;
        }
        ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0555), 0) << std::strerror(errno);
        FLocked.append(folder);
        const QString top = QFileInfo(path(QStringLiteral("drives"))).absolutePath();
        ASSERT_EQ(::chmod(QFile::encodeName(top).constData(), 0711), 0) << std::strerror(errno);
    }

    // Whether this thread, as it now accesses files, can create a file in folder.
    static bool canCreateIn(const QString &folder)
    {
        const QByteArray name = QFile::encodeName(QDir(folder).filePath(QStringLiteral(".write-check")));
        const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        if (fd < 0)
            return false;
        ::close(fd);
        ::unlink(name.constData());
        return true;
    }

    QString lastLogLine() const { return logLines().constLast(); }

    void expectOneBox(const QString &text)
    {
        ASSERT_EQ(boxes.shown.size(), 1) << boxes.texts().join(u'|').toStdString();
        EXPECT_EQ(boxes.shown[0].text, text + QStringLiteral("    "));
        EXPECT_EQ(boxes.shown[0].caption, QStringLiteral("Message"));
    }

    void expectActionsBack()
    {
        EXPECT_FALSE(window->running());
        EXPECT_TRUE(actionEnabled("actUpgrade"));
        EXPECT_TRUE(actionEnabled("actRefersh"));
        EXPECT_TRUE(actionEnabled("actClose"));
    }

    void expectNothingAstray()
    {
        EXPECT_TRUE(strayFiles().isEmpty()) << strayFiles().join(u' ').toStdString();
        // Beside the probe's own folders, nothing: a root joined to a name without
        // its separator ("drives/Aupgrade.Hex") would land here.
        EXPECT_EQ(QDir(path(QStringLiteral("drives")))
                      .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)
                      .filter(QRegularExpression(QStringLiteral("^(?!(A|B)$)"))),
                  QStringList());
    }

    QByteArray image;

private:
    QList<QByteArray> FMounts;
    QStringList FLocked;
};

TEST_F(FaultInjection, ReadOnlyDriveRefusesTheMarkerFile)
{
    startServer();
    openWithProbe();
    makeReadOnly(drive("A"));
    {
        std::optional<TFilesAsNobody> nobody;
        if (!canMount())
            nobody.emplace();
        ASSERT_FALSE(canCreateIn(drive("A")))
            << "cannot make the probe's drive read-only here: no read-only mount (needs root and a mount "
               "namespace) and no unprivileged file access (needs root to switch to it)";
        upgrade();
    }

    const QString reason = canMount() ? QStringLiteral("Read-only file system") : QStringLiteral("Permission denied");
    const QString marker = QDir(drive("A")).filePath(QStringLiteral("START_BL.ACT"));
    expectOneBox(QStringLiteral("Cannot create file \"%1\". %2").arg(marker, reason));
    // The step stopped at once: no outcome line after the announcement.
    EXPECT_EQ(lastLogLine(), AnnounceLine);
    EXPECT_EQ(QDir(drive("A")).entryList(QDir::Files), QStringList{"DETAILS.txt"});
    EXPECT_TRUE(probe->lines().filter(QStringLiteral("seen ")).isEmpty()) << probe->transcript().toStdString();
    expectActionsBack();
    expectNothingAstray();
}

TEST_F(FaultInjection, ImageWriteStopsShortOnAFullDevice)
{
    if (canMount()) {
        // Two pages: the details file takes one, the image needs more than the other.
        ASSERT_GT(image.size(), 2 * 4096);
        mountOn(path(QStringLiteral("drives")), "tmpfs", 0, "size=8k,mode=0755");
    } else {
        TFileWriter::setWriteLimiter([](const QString &fileName, qint64 size) {
            return fileName.endsWith(QStringLiteral("upgrade.Hex")) ? size / 2 : size;
        });
    }
    startServer();
    openWithProbe();
    upgrade();

    const QString target = QDir(drive("A")).filePath(QStringLiteral("upgrade.Hex"));
    const QString reason = canMount()
        ? QStringLiteral("No space left on device")
        : QStringLiteral("The device took only %1 of %2 bytes.").arg(image.size() / 2).arg(image.size());
    expectOneBox(QStringLiteral("Cannot write file \"%1\". %2").arg(target, reason));
    EXPECT_EQ(lastLogLine(), AnnounceLine);
    EXPECT_EQ(probe->waitFor("seen "), QStringLiteral("seen START_BL.ACT"));
    EXPECT_LT(QFileInfo(QDir(drive("A")).filePath("upgrade.Hex")).size(), image.size());
    expectActionsBack();
    expectNothingAstray();
}

TEST_F(FaultInjection, ProbeVanishesBetweenTheImageAndTheResultCheck)
{
    // Between the marker and the image is UpgradeRun.ProbeNeverComesBack.
    startServer();
    startProbe({"--app-version", "V1.9", "--never-return", "--misbehave-from", "2"});
    openWindow();
    upgrade();

    EXPECT_TRUE(boxes.shown.isEmpty()) << boxes.texts().join(u'|').toStdString();
    const QStringList lines = logLines();
    EXPECT_EQ(lines.mid(lines.size() - 3),
              (QStringList{"Result", "    Error: QV58-Link not found, please check if it is connected",
                           "Upgrade QV58-Link fireware fail!"}));
    EXPECT_EQ(probe->waitFor("image "), QStringLiteral("image bytes=%1 md5=%2").arg(image.size()).arg(md5Of(image)));
    EXPECT_FALSE(QDir(drive("A")).exists());
    EXPECT_FALSE(QDir(drive("B")).exists());
    expectActionsBack();
    expectNothingAstray();
}

TEST_F(FaultInjection, UnreadableDetailsFileKeepsThePreviousProbe)
{
    startServer();
    openWithProbe();
    const TQV58LinkConfig &record = *window->qv58LinkConfig();
    ASSERT_EQ(record.HICID(), QStringLiteral("51563270"));
    const QString details = QDir(drive("A")).filePath(QStringLiteral("DETAILS.txt"));
    // Every folder on the way stays searchable, so the probe is still found.
    const QString top = QFileInfo(path(QStringLiteral("drives"))).absolutePath();
    ASSERT_EQ(::chmod(QFile::encodeName(top).constData(), 0711), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(details).constData(), 0), 0);
    {
        TFilesAsNobody nobody;
        button("cxButton3")->click();
        QCoreApplication::processEvents();
    }

    expectOneBox(QStringLiteral("Cannot open file \"%1\". Permission denied").arg(details));
    EXPECT_EQ(record.HICID(), QStringLiteral("51563270"));
    EXPECT_EQ(record.appVersion(), QStringLiteral("V1.9"));
    EXPECT_EQ(record.bootVersion(), QStringLiteral("V1.0.0"));
    EXPECT_EQ(window->findChild<QComboBox *>(QStringLiteral("cmbVersions"))->count(), 1);
    QCoreApplication::processEvents();
    expectActionsBack();
    expectNothingAstray();
}

TEST_F(FaultInjection, ServerDiesInTheMiddleOfThePackageBody)
{
    // Far more than the sockets buffer, so the server is still sending when it dies.
    writeWholeFile(sitePath(QStringLiteral("51563270_V1.10.dat")), QByteArray(64 << 20, 'x'));
    startServer();
    openWithProbe();
    const qint64 server = childProcessId("qv58link-serve");
    ASSERT_NE(server, 0);

    bool killed = false;
    const QRegularExpression progress(
        QStringLiteral("^Download upgrade file from website \\.\\.\\. (\\d+)/(\\d+) Byte$"));
    QObject::connect(window->findChild<QPlainTextEdit *>(QStringLiteral("logs")), &QPlainTextEdit::textChanged,
                     [&] {
                         const QRegularExpressionMatch m = progress.match(lastLogLine());
                         if (!killed && m.hasMatch() && m.captured(1).toLongLong() > 0
                             && m.captured(1).toLongLong() < m.captured(2).toLongLong()) {
                             ::kill(pid_t(server), SIGKILL);
                             killed = true;
                         }
                     });
    upgrade();

    ASSERT_TRUE(killed);
    ASSERT_EQ(boxes.shown.size(), 1) << boxes.texts().join(u'|').toStdString();
    // A cut body is the download's own error, with the transport's reason on
    // its second line; never a short package that only fails its check later.
    const QString cut = QStringLiteral("Download incomplete: the server's answer was cut short.\r\n");
    const QString text = boxes.shown[0].text;
    EXPECT_TRUE(text.startsWith(cut) && text.endsWith(QStringLiteral("    "))
                && !text.mid(cut.size()).trimmed().isEmpty())
        << text.toStdString();
    EXPECT_EQ(boxes.shown[0].caption, QStringLiteral("Message"));
    EXPECT_FALSE(logLines().contains(QStringLiteral("Target Info:"))) << logLines().join(u'\n').toStdString();
    EXPECT_TRUE(probe->lines().filter(QStringLiteral("seen ")).isEmpty()) << probe->transcript().toStdString();
    EXPECT_EQ(QDir(drive("A")).entryList(QDir::Files), QStringList{"DETAILS.txt"});
    expectActionsBack();
    expectNothingAstray();
}

TEST_F(FaultInjection, LargeCataloguesFillTheListInLinearTime)
{
    startServer();
    openWithProbe();
    const struct
    {
        const char *name;
        int lines;
        int lineBytes;
    } cases[] = {
        {"10 000 lines", 10000, 40},
        {"100 000 lines", 100000, 40},
        {"30 MiB, just under the ceiling", 100000, (30 << 20) / 100000 + 1},
    };
    qint64 cpuUs[3] = {};
    for (int c = 0; c < 3; ++c) {
        SCOPED_TRACE(cases[c].name);
        QByteArray text;
        text.reserve(qsizetype(cases[c].lines) * cases[c].lineBytes);
        for (int i = 0; i < cases[c].lines; ++i) {
            QByteArray line = "51563270_V2." + QByteArray::number(i) + ";Release " + QByteArray::number(i) + ' ';
            line += QByteArray(qMax<qsizetype>(0, cases[c].lineBytes - line.size() - 2), 'd');
            text += line + "\r\n";
        }
        writeCatalogue(text);

        QElapsedTimer clock;
        clock.start();
        const qint64 cpuBefore = processCpuMicroseconds();
        button("cxButton3")->click();
        cpuUs[c] = processCpuMicroseconds() - cpuBefore;
        std::cout << cases[c].name << ": " << text.size() << " bytes, refreshed in " << clock.elapsed()
                  << " ms, " << cpuUs[c] / 1000 << " ms of processor time" << std::endl;

        EXPECT_TRUE(boxes.shown.isEmpty()) << boxes.texts().join(u'|').toStdString();
        auto *versions = window->findChild<QComboBox *>(QStringLiteral("cmbVersions"));
        ASSERT_EQ(versions->count(), cases[c].lines);
        const QString last = QString::number(cases[c].lines - 1);
        EXPECT_EQ(versions->itemText(cases[c].lines - 1), QStringLiteral("V2.") + last);
        versions->setCurrentIndex(cases[c].lines - 1);
        EXPECT_EQ(window->upgradeFileName(), QStringLiteral("51563270_V2.%1.dat").arg(last));
        EXPECT_TRUE(window->findChild<QPlainTextEdit *>(QStringLiteral("txtDescript"))
                        ->toPlainText()
                        .startsWith(QStringLiteral("Release ") + last));
    }
    // Ten times the lines may take ten times as long, with room for noise; a
    // list filled in quadratic time would take a hundred times. Counted in
    // processor time of this process, which downloads and fills the list:
    // other processes on a busy machine stretch the wall clock of one case and
    // not the other, but hardly this. The floor keeps a very fast small case
    // from making the bound tighter than timing noise.
    EXPECT_LT(cpuUs[1], 30 * qMax<qint64>(cpuUs[0], 20000)) << cpuUs[0] << " us, then " << cpuUs[1] << " us";
    QCoreApplication::processEvents();
    expectActionsBack();
    expectNothingAstray();
}
