#include "AppTestSupport.h"
#include "LocalSite.h"

#include "app/wMain.h"
#include "common/FileIO.h"
#include "package/PackageBuilder.h"
#include "platform/FolderDriveList.h"
#include "probe/QV58LinkConfig.h"
#include "support/ScriptedMessageBoxes.h"

#include <QAction>
#include <QBuffer>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>

namespace {

const QByteArray Catalogue = "51563270_V1.2.0;Faster flashing\\r\\nNew LED codes\r\n"
                             "51560059_V2.0;Max firmware\r\n"
                             "51563270_V1.1 ;Older; kept for rollbacks\r\n"
                             "51563270_V1.1 ;Same version text, other line\r\n";

} // namespace

// The window against a simulated probe (a folder drive) and a catalogue
// served over HTTPS on this machine, from its creation on.
class CatalogueWindowTest : public ::testing::Test
{
protected:
    CatalogueWindowTest()
        : drives(probeDir.path())
    {
        writeWholeFile(probeDir.filePath("DETAILS.txt"), "HIC ID: 51563270\r\nInterface Version: V1.1\r\n");
        site.put("filelist.txt", Catalogue);
        setDriveList(&drives);
        window = std::make_unique<TfrmMain>();
    }
    ~CatalogueWindowTest() override { setDriveList(nullptr); }

    template <typename T>
    T *child(const char *name) const
    {
        return window->findChild<T *>(QLatin1String(name));
    }
    QStringList versions() const
    {
        QStringList texts;
        for (int i = 0; i < child<QComboBox>("cmbVersions")->count(); ++i)
            texts.append(child<QComboBox>("cmbVersions")->itemText(i));
        return texts;
    }
    QString description() const { return child<QPlainTextEdit>("txtDescript")->toPlainText(); }
    void refresh()
    {
        child<QPushButton>("cxButton3")->click();
        runUntilIdle();
    }

    ScriptedMessageBoxes boxes;
    LocalSite site;
    QTemporaryDir probeDir;
    TFolderDriveList drives;
    std::unique_ptr<TfrmMain> window;
};

TEST_F(CatalogueWindowTest, StartSelectsTheFirstVersionOfTheProbe)
{
    runUntilIdle();
    EXPECT_TRUE(boxes.shown.isEmpty()) << boxes.texts().join('|').toStdString();
    EXPECT_EQ(window->qv58LinkConfig()->HICID(), QStringLiteral("51563270"));
    EXPECT_EQ(versions(), (QStringList{"V1.2.0", "V1.1", "V1.1"}));
    EXPECT_EQ(child<QComboBox>("cmbVersions")->currentIndex(), 0);
    EXPECT_EQ(description(), QStringLiteral("Faster flashing\nNew LED codes"));
    EXPECT_EQ(window->upgradeFileName(), QStringLiteral("51563270_V1.2.0.dat"));
    EXPECT_TRUE(child<QAction>("actUpgrade")->isEnabled());
}

TEST_F(CatalogueWindowTest, EqualVersionTextsLeadToTheirOwnLines)
{
    child<QComboBox>("cmbVersions")->setCurrentIndex(2);
    EXPECT_EQ(description(), QStringLiteral("Same version text, other line"));
    // The blank before ";" belongs to the file name.
    EXPECT_EQ(window->upgradeFileName(), QStringLiteral("51563270_V1.1 .dat"));
    child<QComboBox>("cmbVersions")->setCurrentIndex(1);
    EXPECT_EQ(description(), QStringLiteral("Older; kept for rollbacks"));
}

TEST_F(CatalogueWindowTest, ReloadWithoutAMatchKeepsTheEarlierChoice)
{
    site.put("filelist.txt", "51560059_V2.0;Max firmware\r\n");
    refresh();
    EXPECT_TRUE(boxes.shown.isEmpty());
    EXPECT_TRUE(versions().isEmpty());
    EXPECT_EQ(description(), QStringLiteral("Faster flashing\nNew LED codes"));
    EXPECT_EQ(window->upgradeFileName(), QStringLiteral("51563270_V1.2.0.dat"));
    EXPECT_TRUE(child<QAction>("actUpgrade")->isEnabled());
}

TEST_F(CatalogueWindowTest, FailedReloadsKeepListSelectionAndProbe)
{
    const struct
    {
        const char *name;
        std::function<void()> breakIt;
        QString box;
    } cases[] = {
        {"catalogue missing", [this] { site.remove("filelist.txt"); },
         "Resource file not exit, please check you network    "},
        {"server gone", [this] { site.stop(); }, QString()},
        {"probe unplugged",
         [this] { QFile::remove(probeDir.filePath("DETAILS.txt")); },
         "QV58-Link not detected, please check if it is connected    "},
    };
    child<QComboBox>("cmbVersions")->setCurrentIndex(1);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        boxes.shown.clear();
        c.breakIt();
        refresh();
        ASSERT_EQ(boxes.shown.size(), 1);
        if (!c.box.isEmpty()) {
            EXPECT_EQ(boxes.shown.first().text, c.box);
        }
        else
            EXPECT_TRUE(boxes.shown.first().text.startsWith("Socket Error # ")) << boxes.texts().join('|').toStdString();
        EXPECT_EQ(versions(), (QStringList{"V1.2.0", "V1.1", "V1.1"}));
        EXPECT_EQ(child<QComboBox>("cmbVersions")->currentIndex(), 1);
        EXPECT_EQ(window->upgradeFileName(), QStringLiteral("51563270_V1.1 .dat"));
        EXPECT_EQ(window->qv58LinkConfig()->appVersion(), QStringLiteral("V1.1"));
        EXPECT_EQ(window->fileList().size(), 4);
    }
}

TEST_F(CatalogueWindowTest, OtherProbeWithAFailedDownloadLeavesTheListAlone)
{
    // The record now names another model while the list still shows the
    // first one's versions: choosing among them must not pick a wrong line.
    writeWholeFile(probeDir.filePath("DETAILS.txt"), "HIC ID: 51560059\r\n");
    site.remove("filelist.txt");
    refresh();
    child<QComboBox>("cmbVersions")->setCurrentIndex(2);
    EXPECT_EQ(window->upgradeFileName(), QStringLiteral("51563270_V1.2.0.dat"));
}

TEST_F(CatalogueWindowTest, PackageDownloadRewritesTheLastLineWithProgress)
{
    const QByteArray package = buildPackage(QByteArray(100000, 'x'), "App", "V1.2.0", "QV58Link Mini", "today");
    site.put("51563270_V1.2.0.dat", package);
    window->setRunning(true);
    EXPECT_TRUE(window->stepDownload());
    const QStringList lines = child<QPlainTextEdit>("logs")->toPlainText().split('\n');
    EXPECT_EQ(lines, QStringList{QStringLiteral("Download upgrade file from website ... %1/%1 Byte").arg(package.size())});
    EXPECT_EQ(window->fileSize(), package.size());
    EXPECT_EQ(window->memoryStream()->data(), package);
    EXPECT_EQ(window->memoryStream()->pos(), package.size());

    // A second run starts from an empty buffer; a missing package is the
    // status line, which the handler shows as its resource text.
    site.remove("51563270_V1.2.0.dat");
    child<QPlainTextEdit>("logs")->clear();
    try {
        window->stepDownload();
        FAIL() << "no error";
    } catch (const Exception &e) {
        EXPECT_TRUE(e.message().contains("404")) << e.message().toStdString();
        EXPECT_FALSE(window->memoryStream()->data().startsWith(package.left(64)));
    }
    window->setRunning(false);
}

TEST_F(CatalogueWindowTest, NoProgressLinesOutsideARun)
{
    site.put("51563270_V1.2.0.dat", "abc");
    window->stepDownload();
    EXPECT_EQ(child<QPlainTextEdit>("logs")->toPlainText(), QStringLiteral("Download upgrade file from websuit ... "));
    EXPECT_EQ(window->fileSize(), 0);
}
