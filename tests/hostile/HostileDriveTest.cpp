#include "HostileRun.h"

#include "support/DesktopSession.h"
#include "support/HostileEntries.h"

#include "platform/FileSystem.h"
#include "probe/QV58LinkConfigFile.h"

#include <QFileInfo>
#include <QJsonObject>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <tuple>

namespace {

// The tool's names for the files it writes: the marker that restarts the
// probe, then the image once it is back in its bootloader.
const QString MarkerName = QStringLiteral("START_BL.ACT");
const QString ImageName = QStringLiteral("upgrade.Hex");

// The same name as a case-blind volume sees it, every letter turned.
QString otherCase(const QString &name)
{
    QString turned = name;
    for (QChar &c : turned)
        c = c.isUpper() ? c.toLower() : c.toUpper();
    return turned;
}

const char *idOf(THostile kind)
{
    switch (kind) {
    case THostile::LinkToVictim:
        return "LinkToVictim";
    case THostile::DanglingLink:
        return "DanglingLink";
    case THostile::Fifo:
        return "Fifo";
    case THostile::Folder:
        return "Folder";
    case THostile::LinkToDevice:
        return "LinkToDevNull";
    case THostile::HardLink:
        return "HardLinkToVictim";
    }
    return "Unknown";
}

QString writeRefusal(THostile kind)
{
    switch (kind) {
    case THostile::Fifo:
        return fileReason::special();
    case THostile::Folder:
        return fileReason::folder();
    case THostile::HardLink:
        return fileReason::otherNames();
    case THostile::LinkToVictim:
    case THostile::DanglingLink:
    case THostile::LinkToDevice:
        break;
    }
    return refusalReason(TEntryKind::Link, TFileUse::Write);
}

// What the entry at path is, judged without following it, and where a link
// leads; for comparing before and after.
QString describe(const QString &path)
{
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return QStringLiteral("missing");
    if (S_ISLNK(info.st_mode))
        return QStringLiteral("link to ") + QFile::symLinkTarget(path);
    if (S_ISFIFO(info.st_mode))
        return QStringLiteral("fifo");
    if (S_ISDIR(info.st_mode)) {
        return QStringLiteral("folder holding [%1]")
            .arg(QDir(path).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System).join(u','));
    }
    return QStringLiteral("file of %1 bytes, %2 names").arg(info.st_size).arg(info.st_nlink);
}

const QString WindowPath = QStringLiteral(QV58_BIN_DIR "/qv58link-upgrade");

} // namespace

static void PrintTo(THostile kind, std::ostream *os)
{
    *os << nameOf(kind);
}

// One of the tool's names on the probe's drive, spelled as the tool spells it
// or in the other letter case, taken by an entry that is no file of its own.
using TEntryCase = std::tuple<QString, bool, THostile>;

class HostileEntryOnTheDrive : public HostileRun, public ::testing::WithParamInterface<TEntryCase>
{
};

// The install stops at the entry, names it and why, and writes nothing
// through it: the files outside stay as they were, byte for byte, and nothing
// appears beside them. For the image the marker goes first, so the install
// has got as far as the probe's restart.
TEST_P(HostileEntryOnTheDrive, InstallFailsNamingTheEntryAndWritesNothingOutside)
{
    const auto &[name, inOtherCase, kind] = GetParam();
    const QString package = goodPackage();
    const TOutside outside;
    const QString root = addDrive(QStringLiteral("A"));
    const QString entryName = inOtherCase ? otherCase(name) : name;
    ASSERT_TRUE(outside.plant(kind, root + entryName));
    const QString before = describe(root + entryName);

    const TFinished done =
        run(QStringLiteral("qv58link-flash"), {"install", "--package", package, "--probe", root, "--json"});
    ASSERT_TRUE(done.ended) << done.transcript();
    EXPECT_EQ(done.code, 1) << done.transcript();
    const QJsonArray results = jsonArray(done);
    ASSERT_EQ(results.size(), 1) << done.transcript();
    const QJsonObject result = results.at(0).toObject();
    EXPECT_EQ(result.value("drive").toString(), root);
    EXPECT_EQ(result.value("result").toString(), "fail");
    EXPECT_EQ(result.value("message").toString(),
              QStringLiteral("Cannot create file \"%1\". %2").arg(root + entryName, writeRefusal(kind)));

    EXPECT_TRUE(outside.untouched()) << "the file outside was written or something was made beside it";
    EXPECT_EQ(describe(root + entryName), before);
    QStringList expected{QStringLiteral("DETAILS.txt"), entryName};
    if (name == ImageName) {
        EXPECT_EQ(describe(root + MarkerName), QStringLiteral("file of 0 bytes, 1 names"));
        expected.append(MarkerName);
    }
    expected.sort();
    EXPECT_EQ(QDir(root).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::Name),
              expected);
    expectNothingAstray();
}

namespace {

std::string entryCaseName(const ::testing::TestParamInfo<TEntryCase> &info)
{
    const auto &[name, inOtherCase, kind] = info.param;
    return std::string(name == MarkerName ? "Marker" : "Image") + (inOtherCase ? "OtherCase" : "") + idOf(kind);
}

} // namespace

INSTANTIATE_TEST_SUITE_P(, HostileEntryOnTheDrive,
                         ::testing::Combine(::testing::Values(MarkerName, ImageName), ::testing::Bool(),
                                            ::testing::ValuesIn(allHostile())),
                         entryCaseName);

namespace {

// What a drive that claims to be a probe may hold under the details file's
// name instead of a small file of its own.
enum class TDetails {
    LinkToZero, // endless bytes
    LinkToFifo, // a pipe nobody writes to, elsewhere
    Fifo,
    Sparse, // 512 MiB that take no room on the disk
    Folder,
    LinkToGoodFile, // good details, but elsewhere
};

struct TDetailsCase
{
    const char *id;
    TDetails kind;
};

void PrintTo(const TDetailsCase &c, std::ostream *os)
{
    *os << c.id;
}

const TDetailsCase DetailsCases[] = {
    {"LinkToDevZero", TDetails::LinkToZero}, {"LinkToFifo", TDetails::LinkToFifo},
    {"Fifo", TDetails::Fifo},                {"SparseFileOf512MiB", TDetails::Sparse},
    {"Folder", TDetails::Folder},            {"LinkToGoodDetailsOutside", TDetails::LinkToGoodFile},
};

bool plantDetails(TDetails kind, const QString &path, const QString &outside)
{
    const QByteArray name = QFile::encodeName(path);
    switch (kind) {
    case TDetails::LinkToZero:
        return makeSymbolicLink(QStringLiteral("/dev/zero"), path);
    case TDetails::LinkToFifo:
        return makeFifo(outside + QStringLiteral("/pipe")) && makeSymbolicLink(outside + QStringLiteral("/pipe"), path);
    case TDetails::Fifo:
        return makeFifo(path);
    case TDetails::Sparse: {
        const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        const bool ok = fd >= 0 && ::ftruncate(fd, off_t(512) * 1024 * 1024) == 0;
        if (fd >= 0)
            ::close(fd);
        return ok;
    }
    case TDetails::Folder:
        return QDir().mkdir(path);
    case TDetails::LinkToGoodFile:
        writeWholeFile(outside + QStringLiteral("/DETAILS.txt"), hostile::ProbeDetails);
        return makeSymbolicLink(outside + QStringLiteral("/DETAILS.txt"), path);
    }
    return false;
}

QString readRefusal(TDetails kind)
{
    switch (kind) {
    case TDetails::Fifo:
        return fileReason::special();
    case TDetails::Folder:
        return fileReason::folder();
    case TDetails::Sparse:
        return fileReason::tooLarge(DetailsFileMaxBytes);
    case TDetails::LinkToZero:
    case TDetails::LinkToFifo:
    case TDetails::LinkToGoodFile:
        break;
    }
    return refusalReason(TEntryKind::Link, TFileUse::Read);
}

} // namespace

class HostileDetailsFile : public HostileRun, public ::testing::WithParamInterface<TDetailsCase>
{
protected:
    // The window, started with only that drive, gets to its event loop: a
    // second start reaches it there and it says so. Its single-instance
    // socket opens before it looks at any drive, so the second start finds
    // it; a window stuck reading the drive would never answer, whatever box
    // it is about to show.
    void expectWindowComesUp(const QString &root)
    {
        DesktopSession session;
        session.env = environment();
        session.env.insert(QStringLiteral("XDG_RUNTIME_DIR"), session.runtimePath());
        session.env.insert(QStringLiteral("QV58LINK_DRIVES"), root);
        session.env.insert(QStringLiteral("QV58LINK_TRACE_ACTIVATION"), QStringLiteral("1"));
        QProcess &window = session.start(WindowPath);
        ASSERT_TRUE(waitUntil(
            [&] {
                return window.state() != QProcess::Running
                    || !QDir(session.runtimePath())
                            .entryList({QStringLiteral("*_All")}, QDir::System | QDir::Files)
                            .isEmpty();
            },
            hostile::DeadlineMs));
        ASSERT_EQ(window.state(), QProcess::Running) << window.readAllStandardError().toStdString();

        QProcess &second = session.start(WindowPath);
        ASSERT_TRUE(second.waitForFinished(hostile::DeadlineMs));
        EXPECT_EQ(second.exitCode(), 0);
        QByteArray said;
        EXPECT_TRUE(waitUntil(
            [&] {
                window.waitForReadyRead(50);
                said += window.readAllStandardError();
                return said.contains("asked to come forward") || window.state() != QProcess::Running;
            },
            hostile::DeadlineMs));
        EXPECT_TRUE(said.contains("asked to come forward")) << said.toStdString();
        EXPECT_EQ(window.state(), QProcess::Running);
    }
};

// The command names the drive and why it is no probe, without blocking on a
// pipe, reading a device without end or taking in a huge file, and still
// lists the probe beside it; the window starts up past that drive.
TEST_P(HostileDetailsFile, TheDriveIsNamedAndPassedOverAndTheWindowStillComesUp)
{
    const TDetailsCase &c = GetParam();
    const QTemporaryDir outside;
    const QString bad = addDrive(QStringLiteral("Bad"), QByteArray());
    ASSERT_TRUE(plantDetails(c.kind, bad + QStringLiteral("DETAILS.txt"), outside.path()));
    const QString good = addDrive(QStringLiteral("Good"));

    const TFinished list = run(QStringLiteral("qv58link-flash"), {"list"}, TMemory::Bounded);
    ASSERT_TRUE(list.ended) << list.transcript();
    EXPECT_EQ(list.code, 0) << list.transcript();
    EXPECT_EQ(QString::fromUtf8(list.out),
              good + QStringLiteral("  HIC ID 51563270  QV58Link Mini  mode Interface  interface V1.9  bootloader B1.2\n"));
    EXPECT_EQ(QString::fromUtf8(list.err), QStringLiteral("qv58link-flash: %1: not a probe: Cannot open file \"%1%2\". %3\n")
                                               .arg(bad, QStringLiteral("DETAILS.txt"), readRefusal(c.kind)));
    expectBoundedMemory(list);

    expectWindowComesUp(bad);
    expectNothingAstray();
}

INSTANTIATE_TEST_SUITE_P(, HostileDetailsFile, ::testing::ValuesIn(DetailsCases),
                         [](const ::testing::TestParamInfo<TDetailsCase> &info) { return std::string(info.param.id); });

class HostileText : public HostileRun
{
};

// Terminal commands in a probe's details (a window title set with OSC, the
// bell, the C1 introducer in UTF-8 and as a bare byte) reach neither output
// of the plain listing raw.
TEST_F(HostileText, ControlsInTheDetailsAreEscapedInThePlainListing)
{
    const QString root = addDrive(QStringLiteral("A"), "HIC ID: 51563270\r\nQV58-LINK Mode: Inter\x1b]0;evil\x07" "face\r\n"
                                                       "Interface Version: V1.9\xc2\x9b\r\nBootloader Version: B1.2\x9b\r\n");
    // A drive of its own name is named on the errors' side.
    const QString other = addDrive(QStringLiteral("B\x1b]2;evil\x07"), QByteArray());
    ASSERT_TRUE(makeSymbolicLink(QStringLiteral("/dev/zero"), other + QStringLiteral("DETAILS.txt")));

    const TFinished list = run(QStringLiteral("qv58link-flash"), {"list"});
    ASSERT_TRUE(list.ended) << list.transcript();
    EXPECT_EQ(list.code, 0) << list.transcript();
    EXPECT_TRUE(QString::fromUtf8(list.out)
                    .startsWith(root + QStringLiteral("  HIC ID 51563270  QV58Link Mini  mode Inter\\x1b]0;evil\\x07face  "
                                                      "interface V1.9\\x9b  bootloader B1.2")))
        << list.transcript();
    EXPECT_TRUE(QString::fromUtf8(list.err)
                    .startsWith(QStringLiteral("qv58link-flash: ") + path(QStringLiteral("drives/B\\x1b]2;evil\\x07/"))
                                + QStringLiteral(": not a probe: ")))
        << list.transcript();
    for (const QByteArray &output : {list.out, list.err}) {
        SCOPED_TRACE(output.toStdString());
        EXPECT_FALSE(output.contains('\x1b'));
        EXPECT_FALSE(output.contains('\x07'));
        const QString text = QString::fromUtf8(output);
        for (const QChar c : text) {
            const char16_t code = c.unicode();
            EXPECT_FALSE(code < 0x20 && code != u'\n') << "C0 control " << int(code);
            EXPECT_FALSE(code >= 0x7f && code <= 0x9f) << "DEL or C1 control " << int(code);
        }
    }
}
