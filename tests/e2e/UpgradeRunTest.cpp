#include "UpgradeRunFixture.h"

#include <QComboBox>
#include <QFileInfo>

namespace {

const QByteArray Catalogue = "51563270_V1.10;Mini firmware V1.10\\r\\nFaster flashing\r\n"
                             "51563270_V1.9;Mini firmware V1.9\r\n"
                             "51560059_V2.1;Max firmware\r\n"
                             "51563270_V1.11;Built for another model\r\n"
                             "51563270_V9.9;Announced but not on the server\r\n"
                             "51563270_V1.12;Damaged on the server\r\n";

enum Entry { V1_10, V1_9, OtherModel, NotOnServer, Damaged };

} // namespace

class UpgradeRun : public UpgradeRunFixture
{
protected:
    void SetUp() override
    {
        mini110 = publish("51563270_V1.10", "V1.10", "QV58Link Mini");
        mini19 = publish("51563270_V1.9", "V1.9", "QV58Link Mini");
        publish("51560059_V2.1", "V2.1", "QV58Link Max");
        publish("51563270_V1.11", "V1.11", "QV58Link Max");
        publish("51563270_V1.12", "V1.12", "QV58Link Mini");
        // A header digest that no longer matches the image.
        QByteArray damaged = readWholeFile(sitePath("51563270_V1.12.dat"));
        damaged[68] = damaged[68] == '0' ? '1' : '0';
        writeWholeFile(sitePath("51563270_V1.12.dat"), damaged);
        writeCatalogue(Catalogue);
        startServer();
    }

    void openWithProbe(const QStringList &options, Entry entry)
    {
        startProbe(options);
        openWindow();
        ASSERT_TRUE(boxes.shown.isEmpty()) << boxes.texts().join(u'|').toStdString();
        window->findChild<QComboBox *>(QStringLiteral("cmbVersions"))->setCurrentIndex(int(entry));
    }

    QStringList successLog(const QString &probeVersion, const QString &package, const QByteArray &image) const
    {
        const qint64 size = readWholeFile(sitePath(package + ".dat")).size();
        const QString version = package.mid(package.indexOf(u'_') + 1);
        return {QStringLiteral("Download upgrade file from website ... %1/%1 Byte").arg(size),
                "Target Info:",
                "    Part Name: QV58Link Mini",
                "    Boot Version: V1.0.0",
                "    Application Version: " + probeVersion,
                "Upgrade File Info:",
                "    Part Name: QV58Link Mini",
                "    Application Version: " + version,
                "    Publish Time: 2026-12-01 10:00",
                "    MD5: " + md5Of(image),
                "Upgrade QV58-Link fireware success!"};
    }

    void expectNothingWritten()
    {
        EXPECT_TRUE(probe->lines().filter(QStringLiteral("seen ")).isEmpty()) << probe->transcript().toStdString();
        EXPECT_EQ(QDir(drive("A")).entryList(QDir::Files), QStringList{"DETAILS.txt"});
        EXPECT_TRUE(strayFiles().isEmpty()) << strayFiles().join(u' ').toStdString();
    }

    void expectActionsBack()
    {
        EXPECT_TRUE(actionEnabled("actUpgrade"));
        EXPECT_TRUE(actionEnabled("actRefersh"));
        EXPECT_TRUE(actionEnabled("actClose"));
    }

    QByteArray mini110, mini19;
};

TEST_F(UpgradeRun, SuccessThenUpgradeAgain)
{
    openWithProbe({"--app-version", "V1.9", "--new-version", "V1.10"}, V1_10);
    upgrade();

    EXPECT_TRUE(boxes.shown.isEmpty()) << boxes.texts().join(u'|').toStdString();
    EXPECT_EQ(logLines(), successLog("V1.9", "51563270_V1.10", mini110));
    // The marker first, then exactly the image of the package.
    EXPECT_EQ(probe->waitFor("seen "), QStringLiteral("seen START_BL.ACT"));
    EXPECT_EQ(probe->waitFor("seen "), QStringLiteral("seen upgrade.Hex"));
    EXPECT_EQ(probe->waitFor("image "), QStringLiteral("image bytes=%1 md5=%2").arg(mini110.size()).arg(md5Of(mini110)));
    EXPECT_EQ(probe->waitFor("installed "), QStringLiteral("installed version=V1.10"));
    EXPECT_TRUE(strayFiles().isEmpty());
    expectActionsBack();
    if (qEnvironmentVariableIsSet("QV58_SCREENSHOT_DIR")) {
        QDir().mkpath(qEnvironmentVariable("QV58_SCREENSHOT_DIR"));
        window->grab().save(qEnvironmentVariable("QV58_SCREENSHOT_DIR") + QStringLiteral("/upgrade-success.png"));
    }

    // A second press downloads again and runs every step once more; the
    // probe now holds V1.10 (read at Refresh), so no question is asked.
    button("cxButton3")->click();
    QCoreApplication::processEvents();
    upgrade();
    EXPECT_TRUE(boxes.shown.isEmpty()) << boxes.texts().join(u'|').toStdString();
    EXPECT_EQ(logLines(), successLog("V1.10", "51563270_V1.10", mini110));
    EXPECT_EQ(probe->waitFor("installed "), QStringLiteral("installed version=V1.10"));
    expectActionsBack();
}

TEST_F(UpgradeRun, FailFileLeftByTheProbe)
{
    openWithProbe({"--app-version", "V1.9", "--fail"}, V1_10);
    upgrade();
    EXPECT_EQ(probe->waitFor("image "), QStringLiteral("image bytes=%1 md5=%2").arg(mini110.size()).arg(md5Of(mini110)));
    EXPECT_EQ(logLines().last(), QStringLiteral("Upgrade QV58-Link fireware fail!"));
    EXPECT_TRUE(boxes.shown.isEmpty());
    expectActionsBack();
}

TEST_F(UpgradeRun, PartNamesDifferNothingWritten)
{
    openWithProbe({"--app-version", "V1.9"}, OtherModel);
    upgrade();
    const QStringList lines = logLines();
    EXPECT_EQ(lines.mid(lines.size() - 4),
              (QStringList{"Upgrade QV58-Link fireware ... ", "Result",
                           "    Error: Target is \"QV58Link Mini\", Upgrade file is \"QV58Link Max\", not match",
                           "Upgrade QV58-Link fireware fail!"}));
    expectNothingWritten();
    expectActionsBack();
}

TEST_F(UpgradeRun, LowerVersionAskedNoThenYes)
{
    openWithProbe({"--app-version", "V1.10", "--new-version", "V1.9"}, V1_9);
    boxes.answers = {QMessageBox::No};
    upgrade();
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_EQ(boxes.shown[0].text,
              QStringLiteral("The current hardware version is higher than the upgrade file version!\r\nContinue?    "));
    EXPECT_FALSE(boxes.shown[0].hadOwner);
    const QStringList lines = logLines();
    EXPECT_EQ(lines.mid(lines.size() - 3),
              (QStringList{"Result", "    Error: The current hardware version is higher than the upgrade file version",
                           "Upgrade QV58-Link fireware fail!"}));
    expectNothingWritten();

    boxes.answers = {QMessageBox::Yes};
    upgrade();
    EXPECT_EQ(boxes.shown.size(), 2);
    EXPECT_EQ(logLines().last(), QStringLiteral("Upgrade QV58-Link fireware success!"));
    EXPECT_EQ(probe->waitFor("image "), QStringLiteral("image bytes=%1 md5=%2").arg(mini19.size()).arg(md5Of(mini19)));
}

TEST_F(UpgradeRun, ProbeComesBackUnderAnotherFolder)
{
    openWithProbe({"--app-version", "V1.9", "--new-version", "V1.10", "--return-to", drive("B")}, V1_10);
    upgrade();
    EXPECT_EQ(logLines(), successLog("V1.9", "51563270_V1.10", mini110));
    EXPECT_FALSE(probe->lines().filter(QStringLiteral("present ") + drive("B")).isEmpty())
        << probe->transcript().toStdString();
    EXPECT_EQ(probe->waitFor("image "), QStringLiteral("image bytes=%1 md5=%2").arg(mini110.size()).arg(md5Of(mini110)));
    EXPECT_FALSE(QDir(drive("A")).exists());
}

// A probe that comes back on its old version without leaving Fail.txt has
// not been upgraded, whatever it says about the image.
TEST_F(UpgradeRun, ProbeThatInstallsNothingIsAFailure)
{
    openWithProbe({"--app-version", "V1.9"}, V1_10);
    upgrade();
    const QStringList lines = logLines();
    EXPECT_EQ(lines.mid(lines.size() - 3),
              (QStringList{"Result",
                           "    Error: QV58-Link reports version \"V1.9\" after the upgrade, the upgrade file is "
                           "version \"V1.10\"",
                           "Upgrade QV58-Link fireware fail!"}));
    EXPECT_EQ(probe->waitFor("installed "), QStringLiteral("installed version=V1.9"));
    // Each of the probe's files was written once.
    EXPECT_EQ(probe->lines().filter(QStringLiteral("seen START_BL.ACT")).size(), 1);
    EXPECT_EQ(probe->lines().filter(QStringLiteral("seen upgrade.Hex")).size(), 1);
    EXPECT_TRUE(strayFiles().isEmpty()) << strayFiles().join(u' ').toStdString();
    EXPECT_TRUE(boxes.shown.isEmpty());
    expectActionsBack();
}

// After the image the probe comes back under the other folder and leaves
// Fail.txt there: the result is looked for where the probe is now.
TEST_F(UpgradeRun, FailFileUnderTheFolderTheProbeCameBackTo)
{
    openWithProbe({"--app-version", "V1.9", "--new-version", "V1.10", "--fail", "--misbehave-from", "2",
                   "--return-to", drive("B")},
                  V1_10);
    upgrade();
    EXPECT_EQ(probe->waitFor("image "), QStringLiteral("image bytes=%1 md5=%2").arg(mini110.size()).arg(md5Of(mini110)));
    EXPECT_EQ(logLines().last(), QStringLiteral("Upgrade QV58-Link fireware fail!"));
    EXPECT_TRUE(QFileInfo(drive("B") + QStringLiteral("/Fail.txt")).isFile());
    EXPECT_FALSE(QDir(drive("A")).exists());
    EXPECT_TRUE(strayFiles().isEmpty()) << strayFiles().join(u' ').toStdString();
    expectActionsBack();
}

TEST_F(UpgradeRun, ProbeNeverComesBack)
{
    openWithProbe({"--app-version", "V1.9", "--never-return"}, V1_10);
    upgrade();
    const QStringList lines = logLines();
    EXPECT_EQ(lines.mid(lines.size() - 3),
              (QStringList{"Result", "    Error: QV58-Link not found, please check if it is connected",
                           "Upgrade QV58-Link fireware fail!"}));
    EXPECT_TRUE(probe->lines().filter(QStringLiteral("seen upgrade")).isEmpty());
    EXPECT_TRUE(strayFiles().isEmpty()) << strayFiles().join(u' ').toStdString();
    EXPECT_FALSE(QDir(drive("A")).exists());
    EXPECT_FALSE(QDir(drive("B")).exists());
    expectActionsBack();
}

TEST_F(UpgradeRun, FailedDownloadOrValidationStopsTheRun)
{
    const struct
    {
        const char *name;
        Entry entry;
        QString box;
    } cases[] = {
        {"package missing on the server", NotOnServer, "Resource file not exit, please check you network    "},
        {"package fails validation", Damaged, "Invalid upgrade file!    "},
    };
    startProbe({"--app-version", "V1.9"});
    openWindow();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        boxes.shown.clear();
        window->findChild<QComboBox *>(QStringLiteral("cmbVersions"))->setCurrentIndex(int(c.entry));
        upgrade();
        ASSERT_EQ(boxes.shown.size(), 1);
        EXPECT_EQ(boxes.shown[0].text, c.box);
        EXPECT_EQ(boxes.shown[0].caption, QStringLiteral("Message"));
        // Steps 2 and 3 never ran.
        EXPECT_FALSE(logLines().contains(QStringLiteral("Target Info:"))) << logLines().join(u'\n').toStdString();
        EXPECT_FALSE(logLines().contains(QStringLiteral("Upgrade File Info:")));
        expectNothingWritten();
        expectActionsBack();
    }
}
