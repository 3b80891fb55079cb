#include "app/LocalSite.h"
#include "catalogue/DownloadLocation.h"
#include "catalogue/HTTPClient.h"
#include "common/Exceptions.h"
#include "common/FileIO.h"
#include "package/PackageBuilder.h"
#include "platform/FolderDriveList.h"
#include "probe/ProbeDrive.h"
#include "probe/QV58LinkConfigFile.h"
#include "support/HostileEntries.h"
#include "upgrade/CatalogueEntries.h"
#include "upgrade/Package.h"
#include "upgrade/ProbeScan.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <tuple>

namespace {

using TStepSeen = std::tuple<TUpgradeStep, qint64, qint64>;

// Lines and steps in the order they came.
class EventReport final : public IUpgradeReport
{
public:
    void addLog(const QString &text, bool replaceLast) override
    {
        if (replaceLast && !lines.isEmpty())
            lines.removeLast();
        lines.append(text);
        written.append((replaceLast ? QStringLiteral("~ ") : QStringLiteral("+ ")) + text);
        events.append(QStringLiteral("line"));
    }
    void step(TUpgradeStep step, qint64 done, qint64 total) override
    {
        steps.append({step, done, total});
        events.append(QStringLiteral("step"));
    }

    QStringList lines;
    // Every line as written: "+ " appended, "~ " over the last one.
    QStringList written;
    QList<TStepSeen> steps;
    QStringList events;
};

const QByteArray Image = ":020000040000FA\n:0400000001020304F2\n:00000001FF\n";

QByteArray packageOf(const QString &version, const QString &partName = QStringLiteral("QV58Link Mini"))
{
    return buildPackage(Image, QStringLiteral("App"), version, partName, QStringLiteral("2026-12-01 10:00"));
}

QString raisedText(const std::function<void()> &work)
{
    try {
        work();
    } catch (const Exception &e) {
        return e.message();
    }
    return QStringLiteral("<nothing raised>");
}

// Folder drives in a temporary folder, listed in the order they are added.
class Drives
{
public:
    QString add(const QString &name, const QByteArray &details = QByteArray())
    {
        QDir(FDir.path()).mkpath(name);
        if (!details.isNull())
            writeWholeFile(FDir.filePath(name + QStringLiteral("/DETAILS.txt")), details);
        FNames.append(FDir.filePath(name));
        return root(name);
    }
    QString root(const QString &name) const { return FDir.filePath(name) + u'/'; }
    QString path(const QString &name) const { return FDir.filePath(name); }
    TFolderDriveList list() const { return TFolderDriveList(FNames.join(u':')); }

private:
    QTemporaryDir FDir;
    QStringList FNames;
};

QStringList rootsOf(const QList<std::shared_ptr<TProbe>> &probes)
{
    QStringList roots;
    for (const auto &probe : probes)
        roots.append(probe->drive.root);
    return roots;
}

} // namespace

// A drive whose details file is a link, or too large to be read, is named
// with its reason; the probes before and after it are still found, each
// with its own details. Drives without the file are no concern.
TEST(ProbesPresent, ABadDriveIsRefusedBesideTheGoodOnes)
{
    Drives drives;
    const QString first = drives.add("First", "HIC ID: 51563270\r\nInterface Version: V1.9\r\n");
    const QString link = drives.add("Link");
    const TOutside outside;
    ASSERT_TRUE(outside.plant(THostile::LinkToVictim, drives.path("Link/DETAILS.txt")));
    const QString large = drives.add("Large", QByteArray(DetailsFileMaxBytes + 1, ' '));
    drives.add("Stick");
    const QString second = drives.add("Second", "HIC ID: 51560059\r\nBootloader Version: B2.0\r\n");

    TFolderDriveList list = drives.list();
    const TProbesPresent present = probesPresent(list);

    ASSERT_EQ(rootsOf(present.probes), (QStringList{first, second}));
    EXPECT_EQ(present.probes.at(0)->details.HICID(), QStringLiteral("51563270"));
    EXPECT_EQ(present.probes.at(0)->details.appVersion(), QStringLiteral("V1.9"));
    EXPECT_EQ(present.probes.at(1)->details.HICID(), QStringLiteral("51560059"));
    EXPECT_EQ(present.probes.at(1)->details.bootVersion(), QStringLiteral("B2.0"));
    EXPECT_EQ(present.probes.at(1)->drive.identity, second);

    ASSERT_EQ(present.refused.size(), 2);
    EXPECT_EQ(present.refused.at(0).drive.root, link);
    EXPECT_EQ(present.refused.at(0).reason, probeDetailsRefusal(link));
    EXPECT_FALSE(present.refused.at(0).reason.isEmpty());
    EXPECT_EQ(present.refused.at(1).drive.root, large);
    EXPECT_TRUE(present.refused.at(1).reason.startsWith(
        QStringLiteral("Cannot open file \"%1").arg(large)))
        << present.refused.at(1).reason.toStdString();
    EXPECT_TRUE(outside.untouched());
}

// The window's probe: the first drive with a details file. Whatever stops
// it leaves the record as the last load left it.
TEST(FirstProbe, LoadsTheFirstOrRaisesAndKeepsTheRecord)
{
    const QString notDetected = QStringLiteral("QV58-Link not detected, please check if it is connected");
    const struct
    {
        const char *name;
        std::function<void(Drives &)> arrange;
        QString hicId; // after the load
        QString error; // prefix of the text raised, empty for none
    } cases[] = {
        {"no drive", [](Drives &) {}, "earlier", notDetected},
        {"drives without the file", [](Drives &d) { d.add("Stick"); }, "earlier", notDetected},
        {"a link is passed over for the next drive",
         [](Drives &d) {
             d.add("Link");
             makeSymbolicLink(d.path("Probe/DETAILS.txt"), d.path("Link/DETAILS.txt"));
             d.add("Probe", "HIC ID: 51563270\r\n");
         },
         "51563270", {}},
        {"the first of two", [](Drives &d) {
             d.add("One", "HIC ID: 51563270\r\n");
             d.add("Two", "HIC ID: 51560059\r\n");
         },
         "51563270", {}},
        {"the first probe's file cannot be read",
         [](Drives &d) {
             d.add("Large", QByteArray(DetailsFileMaxBytes + 1, ' '));
             d.add("Probe", "HIC ID: 51563270\r\n");
         },
         "earlier", "Cannot open file \""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Drives drives;
        c.arrange(drives);
        TFolderDriveList list = drives.list();
        TQV58LinkConfig record;
        record.setHICID(QStringLiteral("earlier"));
        const QString raised = raisedText([&] { loadFirstProbe(list, record); });
        if (c.error.isEmpty()) {
            EXPECT_EQ(raised, QStringLiteral("<nothing raised>"));
        } else {
            EXPECT_TRUE(raised.startsWith(c.error)) << raised.toStdString();
        }
        EXPECT_EQ(record.HICID(), c.hicId);
    }
    EXPECT_EQ(probeNotDetectedText(), notDetected);
}

// Made once from the bytes, and refused unless whole: each way of being
// broken keeps its own text.
TEST(UpgradePackage, OnlyAValidPackageIsMade)
{
    const QByteArray good = packageOf(QStringLiteral("V1.10"));
    QByteArray damaged = good;
    damaged[300] = char(damaged.at(300) ^ 0x55);
    const struct
    {
        const char *name;
        QByteArray bytes;
        QString error;
    } cases[] = {
        {"no magic", QByteArray(300, 'x'), "Invalid upgrade file!"},
        {"image does not match its MD5", damaged, "Invalid upgrade file!"},
        {"cut short in the header", good.left(100), "Range check error"},
        {"payload under one block", good.left(260), "Invalid file format"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EventReport report;
        EXPECT_EQ(raisedText([&] { validatePackage(c.bytes, report); }), c.error);
        EXPECT_EQ(report.steps, (QList<TStepSeen>{{TUpgradeStep::Validate, 0, 0}}));
    }

    EventReport report;
    const TPackage package = validatePackage(good, report);
    EXPECT_EQ(package->bytes(), good);
    EXPECT_EQ(package->file().image(), Image);
    EXPECT_EQ(package->file().version(), QStringLiteral("V1.10"));
}

// A run asks for the same package file once per probe: it is read and
// deciphered the first time only, under any spelling of its path, while a
// refused one is tried afresh.
TEST(PackageShelf, AFileIsReadOnceARefusedOneAgain)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("51563270_V1.10.dat");
    writeWholeFile(path, packageOf(QStringLiteral("V1.10")));
    THTTPClient http;
    TPackageShelf shelf(http);
    EventReport report;

    const TPackage first = shelf.fromFile(path, report);
    QFile::remove(path);
    const QString oldCwd = QDir::currentPath();
    QDir::setCurrent(dir.path());
    const TPackage again = shelf.fromFile(QStringLiteral("./51563270_V1.10.dat"), report);
    QDir::setCurrent(oldCwd);
    EXPECT_EQ(again.get(), first.get());
    EXPECT_EQ(report.steps.size(), 1);

    const QString other = dir.filePath("other.dat");
    writeWholeFile(other, "not a package");
    EXPECT_EQ(raisedText([&] { shelf.fromFile(other, report); }), QStringLiteral("Invalid upgrade file!"));
    writeWholeFile(other, packageOf(QStringLiteral("V2.0")));
    EXPECT_EQ(shelf.fromFile(other, report)->file().version(), QStringLiteral("V2.0"));

    // Only regular files are read: a pipe would block the run.
    const QString fifo = dir.filePath("pipe.dat");
    ASSERT_TRUE(makeFifo(fifo));
    EXPECT_TRUE(raisedText([&] { shelf.fromFile(fifo, report); }).startsWith(QStringLiteral("Cannot open file \"")));
}

// The catalogue and the packages over HTTPS: each fetched once per run, the
// download's lines and steps going to the report beside the client's own
// progress handlers, which are its only ones again afterwards.
class FromTheSite : public ::testing::Test
{
protected:
    FromTheSite()
    {
        site.put("filelist.txt", "51563270_V1.10;Faster SWD\\r\\nFixes\r\n51560059_V2.1;Max release\r\n"
                                 "51563270_V1.8;Older\r\n");
        site.put("51563270_V1.10.dat", package);
        http.OnWorkBegin = [this](THTTPClient &, TWorkMode, qint64) { ++ownHandlerCalls; };
        http.OnWork = [this](THTTPClient &, TWorkMode, qint64) { ++ownHandlerCalls; };
    }

    LocalSite site;
    THTTPClient http;
    QByteArray package = packageOf(QStringLiteral("V1.10"));
    int ownHandlerCalls = 0;
};

TEST_F(FromTheSite, CatalogueEntriesComeFromOneDownload)
{
    TCatalogue catalogue(http);
    const QList<TVersionInfo> mini = catalogue.entriesFor(QStringLiteral("51563270"));
    site.remove("filelist.txt");
    const QList<TVersionInfo> max = catalogue.entriesFor(QStringLiteral("51560059"));

    ASSERT_EQ(mini.size(), 2);
    EXPECT_EQ(mini.at(0).version, QStringLiteral("V1.10"));
    EXPECT_EQ(mini.at(0).descript, QStringLiteral("Faster SWD\r\nFixes"));
    EXPECT_EQ(packageFileName(mini.at(0)), QStringLiteral("51563270_V1.10.dat"));
    EXPECT_EQ(mini.at(1).version, QStringLiteral("V1.8"));
    ASSERT_EQ(max.size(), 1);
    EXPECT_EQ(packageFileName(max.at(0)), QStringLiteral("51560059_V2.1.dat"));
    EXPECT_TRUE(catalogue.entriesFor(QStringLiteral("other")).isEmpty());

    // A catalogue that could not be had is asked for again.
    TCatalogue missing(http);
    EXPECT_TRUE(raisedText([&] { missing.lines(); }).contains(QStringLiteral("404")));
    site.put("filelist.txt", "51563270_V1.11;Later\r\n");
    EXPECT_EQ(missing.entriesFor(QStringLiteral("51563270")).value(0).version, QStringLiteral("V1.11"));
}

TEST_F(FromTheSite, PackageIsDownloadedAndDecipheredOnce)
{
    TPackageShelf shelf(http);
    EventReport report;
    const TPackage first = shelf.fromCatalogue(QStringLiteral("51563270_V1.10.dat"), report);
    site.remove("51563270_V1.10.dat");
    const TPackage again = shelf.fromCatalogue(QStringLiteral("51563270_V1.10.dat"), report);
    EXPECT_EQ(again.get(), first.get());
    EXPECT_EQ(first->bytes(), package);
    EXPECT_EQ(first->file().image(), Image);

    const qint64 size = package.size();
    EXPECT_EQ(report.lines, (QStringList{QStringLiteral("Download upgrade file from website ... %1/%1 Byte").arg(size)}));
    ASSERT_GE(report.steps.size(), 3);
    EXPECT_EQ(report.steps.first(), TStepSeen(TUpgradeStep::Download, 0, size));
    EXPECT_EQ(report.steps.at(report.steps.size() - 2), TStepSeen(TUpgradeStep::Download, size, size));
    EXPECT_EQ(report.steps.last(), TStepSeen(TUpgradeStep::Validate, 0, 0));
    // Each step comes before the line it goes with; the announce has none.
    QStringList expected{QStringLiteral("line")};
    for (int i = 0; i < report.steps.size() - 1; ++i)
        expected << QStringLiteral("step") << QStringLiteral("line");
    expected << QStringLiteral("step");
    EXPECT_EQ(report.events, expected);
    // The client's own handlers heard every event as well.
    EXPECT_EQ(ownHandlerCalls, report.steps.size() - 1);

    // After a download, failed or not, the report hears of no other request.
    EXPECT_TRUE(raisedText([&] { shelf.fromCatalogue(QStringLiteral("51563270_V1.9.dat"), report); })
                    .contains(QStringLiteral("404")));
    const qsizetype heard = report.events.size();
    const int own = ownHandlerCalls;
    TCatalogue(http).lines();
    EXPECT_GT(ownHandlerCalls, own);
    EXPECT_EQ(report.events.size(), heard);
}

// The window's step 0: the announce, then each body's start and its bytes,
// into the window's buffer emptied first.
TEST_F(FromTheSite, DownloadAnnouncesThenCountsEachBody)
{
    QBuffer buffer;
    buffer.open(QIODevice::ReadWrite);
    buffer.write("left from before");
    EventReport report;

    downloadPackage(http, upgradeFileUrl(QStringLiteral("51563270_V1.10.dat")), buffer, report);
    EXPECT_EQ(buffer.data(), package);
    EXPECT_EQ(buffer.pos(), package.size());
    const QStringList &written = report.written;
    ASSERT_GE(written.size(), 3);
    EXPECT_EQ(written.at(0), QStringLiteral("+ Download upgrade file from websuit ... "));
    EXPECT_EQ(written.at(1), QStringLiteral("~ Download upgrade file from website... 0/%1 Byte").arg(package.size()));
    EXPECT_EQ(written.last(), QStringLiteral("~ Download upgrade file from website ... %1/%1 Byte").arg(package.size()));
    EXPECT_EQ(http.contentType(), QStringLiteral("application/x-www-form-urlencoded"));
}
