#include "WindowFixture.h"

#include "common/Exceptions.h"
#include "common/FileIO.h"
#include "package/PackageBuilder.h"
#include "package/UpgradeFile.h"
#include "platform/FolderDriveList.h"
#include "probe/QV58LinkConfig.h"
#include "support/FakeClock.h"
#include "support/TestSystem.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QTemporaryDir>

#include <unistd.h>

namespace {

// What the simulated probe does after each of the tool's two settle sleeps.
enum class Comeback { Same, Other, Never };

} // namespace

// The window's last two steps against folder drives and a fake clock: the
// probe "restarts" while the tool sleeps, so nothing here waits for real.
class FlashingTest : public WindowFixture
{
protected:
    FlashingTest()
        : drives(dir.filePath("A") + QDir::listSeparator() + dir.filePath("B"))
    {
        QDir(dir.path()).mkpath(QStringLiteral("A"));
        QDir(dir.path()).mkpath(QStringLiteral("cwd"));
        writeWholeFile(dir.filePath("A/DETAILS.txt"), "HIC ID: 51563270\r\n");
        oldCwd = QDir::currentPath();
        QDir::setCurrent(dir.filePath("cwd"));
        setDriveList(&drives);

        TQV58LinkConfig *probe = window->qv58LinkConfig();
        probe->setHICID(QStringLiteral("51563270"));
        probe->setAppVersion(QStringLiteral("V1.9"));
        probe->setBootVersion(QStringLiteral("V1.0"));
        usePackage(QStringLiteral("App"), QStringLiteral("V1.10"), QStringLiteral("QV58Link Mini"));

        clock.onSleep = [this](quint32) { onSleep(); };
    }

    ~FlashingTest() override
    {
        setDriveList(nullptr);
        QDir::setCurrent(oldCwd);
    }

    void usePackage(const QString &mode, const QString &version, const QString &partName)
    {
        QBuffer *buffer = window->memoryStream();
        buffer->buffer() = buildPackage(image, mode, version, partName, QStringLiteral("2026-12-01 10:00"));
        packageVersion = version;
        buffer->seek(buffer->size());
    }

    // Called on every sleep; the long ones are the tool's settle sleeps after
    // it wrote a file, when a real probe restarts.
    void onSleep()
    {
        if (clock.now() - lastSettle < 2000)
            return;
        lastSettle = clock.now();
        ++restarts;
        const Comeback how = restarts == 1 ? afterMarker : afterImage;
        QDir current(dir.filePath(restartedIn));
        if (restarts == 2 && leaveFailFile)
            writeWholeFile(current.filePath("Fail.txt"), QByteArray());
        if (restarts == 2)
            writeWholeFile(current.filePath("DETAILS.txt"), QStringLiteral("HIC ID: 51563270\r\nInterface Version: %1\r\n"
                                                                          "Bootloader Version: %1\r\n")
                                                               .arg(packageVersion)
                                                               .toUtf8());
        if (how == Comeback::Never) {
            current.removeRecursively();
        } else if (how == Comeback::Other) {
            const QString next = restartedIn == "A" ? "B" : "A";
            QDir(dir.path()).rename(restartedIn, next);
            restartedIn = next;
        }
    }

    QStringList logLines() const { return child<QPlainTextEdit>("logs")->toPlainText().split('\n'); }
    QByteArray fileIn(const QString &drive, const QString &name) const
    {
        QFile file(dir.filePath(drive + '/' + name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
    QStringList filesIn(const QString &drive) const
    {
        return QDir(dir.filePath(drive)).entryList(QDir::Files, QDir::Name);
    }

    QTemporaryDir dir;
    TFolderDriveList drives;
    FakeClock clock{1000};
    QString oldCwd;
    const QByteArray image = ":020000040000FA\n:0400000001020304F2\n:00000001FF\n";
    Comeback afterMarker = Comeback::Same;
    Comeback afterImage = Comeback::Same;
    bool leaveFailFile = false;
    QString restartedIn = QStringLiteral("A");
    quint32 lastSettle = 0;
    int restarts = 0;
    QString packageVersion;
};

// The engine's version question is the window's box, with its caption and buttons.
TEST_F(FlashingTest, VersionQuestionIsAskedInTheWindowsBox)
{
    const struct
    {
        const char *probe, *package;
        bool asks;
        QMessageBox::StandardButton answer;
        bool result;
    } cases[] = {
        {"V1.9", "V1.10", false, QMessageBox::NoButton, true},
        {"V1.9", "V1.9", false, QMessageBox::NoButton, true},
        {"", "V0.1", false, QMessageBox::NoButton, true},
        {"V1.10", "V1.9", true, QMessageBox::No, false},
        {"V1.10", "V1.9", true, QMessageBox::Yes, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.probe) + " <- " + c.package);
        boxes.shown.clear();
        boxes.answers.clear();
        if (c.asks)
            boxes.answers = {c.answer};
        usePackage(QStringLiteral("App"), QString::fromLatin1(c.package), QStringLiteral("QV58Link Mini"));
        const TUpgradeFile package(*window->memoryStream());
        EXPECT_EQ(window->checkPackage(package, QStringLiteral("QV58Link Mini"), QString::fromLatin1(c.probe)), c.result);
        ASSERT_EQ(boxes.shown.size(), c.asks ? 1 : 0);
        if (c.asks) {
            const auto &box = boxes.shown.first();
            EXPECT_FALSE(box.hadOwner);
            EXPECT_EQ(box.caption, QStringLiteral("Message"));
            EXPECT_EQ(box.text,
                      QStringLiteral("The current hardware version is higher than the upgrade file version!\r\nContinue?    "));
            EXPECT_EQ(box.buttons, (QList<QMessageBox::StandardButton>{QMessageBox::Yes, QMessageBox::No}));
            EXPECT_EQ(box.icon, QMessageBox::Question);
        }
    }
}

TEST_F(FlashingTest, SuccessWritesMarkerThenImageAndLogsEveryLine)
{
    EXPECT_TRUE(window->stepTargetInfo());
    EXPECT_TRUE(window->stepUpgrade());

    const QString md5 = QString::fromLatin1(QCryptographicHash::hash(image, QCryptographicHash::Md5).toHex().toUpper());
    EXPECT_EQ(logLines(), (QStringList{"Target Info:", "    Part Name: QV58Link Mini", "    Boot Version: V1.0",
                                       "    Application Version: V1.9", "Upgrade File Info:",
                                       "    Part Name: QV58Link Mini", "    Application Version: V1.10",
                                       "    Publish Time: 2026-12-01 10:00", "    MD5: " + md5,
                                       "Upgrade QV58-Link fireware success!"}));
    EXPECT_EQ(fileIn("A", "START_BL.ACT"), QByteArray());
    EXPECT_EQ(fileIn("A", "upgrade.Hex"), image);
    EXPECT_EQ(restarts, 2);
    EXPECT_TRUE(QDir(dir.filePath("cwd")).isEmpty());
}

// Step 3 flashes the very package step 1 deciphered: the buffer is not read
// again. A package that fails step 1 leaves none behind for step 3.
TEST_F(FlashingTest, UpgradeFlashesThePackageTheValidationAccepted)
{
    EXPECT_TRUE(window->stepValidate());
    window->memoryStream()->buffer() = QByteArray(300, 'x');
    EXPECT_TRUE(window->stepTargetInfo());
    EXPECT_TRUE(window->stepUpgrade());
    EXPECT_EQ(fileIn("A", "upgrade.Hex"), image);

    QFile::remove(dir.filePath("A/upgrade.Hex"));
    QFile::remove(dir.filePath("A/START_BL.ACT"));
    EXPECT_THROW(window->stepValidate(), Exception);
    EXPECT_THROW(window->stepUpgrade(), Exception);
    EXPECT_EQ(filesIn("A"), QStringList{"DETAILS.txt"});
}

TEST_F(FlashingTest, RefusedChecksWriteNothingOnTheProbe)
{
    const struct
    {
        const char *name;
        const char *hicId, *appVersion, *mode, *version, *partName;
        QList<QMessageBox::StandardButton> answers;
        bool ok;
        QStringList tail;
    } cases[] = {
        {"part names differ", "51563270", "V1.9", "App", "V1.10", "QV58Link Max", {}, false,
         {"Result", "    Error: Target is \"QV58Link Mini\", Upgrade file is \"QV58Link Max\", not match",
          "Upgrade QV58-Link fireware fail!"}},
        {"lower version declined", "51563270", "V1.10", "App", "V1.9", "QV58Link Mini", {QMessageBox::No}, false,
         {"Result", "    Error: The current hardware version is higher than the upgrade file version",
          "Upgrade QV58-Link fireware fail!"}},
        {"lower version accepted", "51563270", "V1.10", "App", "V1.9", "QV58Link Mini", {QMessageBox::Yes}, true,
         {"    MD5: ", "Upgrade QV58-Link fireware success!"}},
        {"unknown model takes any part, boot package logged as boot", "12345678", "", "boot", "B2", "Other",
         {}, true, {"    MD5: ", "Upgrade QV58-Link fireware success!"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        for (const QString &name : filesIn("A"))
            if (name != "DETAILS.txt")
                QFile::remove(dir.filePath("A/" + name));
        restarts = 0;
        lastSettle = 0;
        child<QPlainTextEdit>("logs")->clear();
        window->qv58LinkConfig()->setHICID(QString::fromLatin1(c.hicId));
        window->qv58LinkConfig()->setAppVersion(QString::fromLatin1(c.appVersion));
        usePackage(QString::fromLatin1(c.mode), QString::fromLatin1(c.version), QString::fromLatin1(c.partName));
        boxes.answers = c.answers;

        EXPECT_EQ(window->stepUpgrade(), c.ok);
        const QStringList lines = logLines();
        QStringList tail = lines.mid(lines.size() - c.tail.size());
        if (c.ok)
            tail[0] = tail[0].left(9);
        EXPECT_EQ(tail, c.tail);
        EXPECT_EQ(filesIn("A").size(), c.ok ? 3 : 1);
        if (QString::fromLatin1(c.mode) != "App") {
            EXPECT_TRUE(lines.contains(QStringLiteral("    Boot Version: ") + c.version));
        }
    }
}

TEST_F(FlashingTest, ReadOnlyDriveRaisesTheCreateError)
{
    if (!TFilesAsNobody::possible())
        GTEST_SKIP() << "no Unix modes here to take the drive away from the test's user";
    // Everyone may find the probe and read its details; nobody may write there.
    const auto readable = QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup
        | QFile::ReadOther | QFile::ExeOther;
    QFile::setPermissions(dir.path(), readable | QFile::WriteOwner);
    QFile::setPermissions(dir.filePath("A"), readable);
    bool raised = false;
    {
        const TFilesAsNobody nobody;
        try {
            window->stepUpgrade();
        } catch (const EFCreateError &e) {
            raised = true;
            EXPECT_TRUE(e.message().startsWith(
                QStringLiteral("Cannot create file \"%1\". ").arg(dir.filePath("A/START_BL.ACT"))))
                << e.message().toStdString();
        }
    }
    QFile::setPermissions(dir.filePath("A"), readable | QFile::WriteOwner);
    EXPECT_TRUE(raised) << "the write into the read-only drive was not refused";
    EXPECT_EQ(filesIn("A"), QStringList{"DETAILS.txt"});
}
