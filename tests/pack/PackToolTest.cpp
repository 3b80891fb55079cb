#include "common/FileIO.h"
#include "package/PackageBuilder.h"
#include "support/TestSystem.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

struct TRun
{
    int code = -1;
    QByteArray out;
    QByteArray err;
};

class PackToolTest : public ::testing::Test
{
protected:
    TRun run(const QStringList &arguments)
    {
        QProcess process;
        process.setWorkingDirectory(FDir.path());
        endWithTheTest(process);
        process.start(QStringLiteral(QV58_BIN_DIR "/qv58link-pack"), arguments);
        EXPECT_TRUE(process.waitForFinished(30000)) << "qv58link-pack did not finish";
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                process.readAllStandardOutput(), process.readAllStandardError()};
    }

    QString path(const QString &name) const { return FDir.filePath(name); }

    static QJsonObject json(const QByteArray &out)
    {
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(out, &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << out.constData();
        return document.object();
    }

    // A failure says one line on stderr and exits with 2.
    static void expectFailure(const TRun &r, const char *needle)
    {
        EXPECT_EQ(r.code, 2);
        EXPECT_EQ(r.err.count('\n'), 1) << r.err.constData();
        EXPECT_TRUE(r.err.contains(needle)) << r.err.constData();
    }

    QTemporaryDir FDir;
};

QByteArray image()
{
    QByteArray data;
    for (int i = 0; i < 3001; ++i)
        data.append(char(i * 37 + 3));
    return data;
}

} // namespace

TEST_F(PackToolTest, BuildInspectExtractGivesBackTheImage)
{
    writeWholeFile(path("fw.hex"), image());
    const TRun built = run({"build", "--image", "fw.hex", "--mode", "App", "--version", "V2.0.1", "--part",
                            "QV58-LINK-A", "--date", "2024-06-01 09:30:00", "-o", "fw.dat"});
    ASSERT_EQ(built.code, 0) << built.err.constData();

    const TRun inspected = run({"inspect", "--json", "fw.dat"});
    ASSERT_EQ(inspected.code, 0) << inspected.err.constData();
    const QJsonObject info = json(inspected.out);
    const QString md5 = QString::fromLatin1(QCryptographicHash::hash(image(), QCryptographicHash::Md5).toHex().toUpper());
    EXPECT_TRUE(info["valid"].toBool());
    EXPECT_EQ(info["mode"].toString(), QString("App"));
    EXPECT_EQ(info["version"].toString(), QString("V2.0.1"));
    EXPECT_EQ(info["partName"].toString(), QString("QV58-LINK-A"));
    EXPECT_EQ(info["crDate"].toString(), QString("2024-06-01 09:30:00"));
    EXPECT_EQ(info["md5"].toString(), md5);
    EXPECT_EQ(info["imageMd5"].toString(), md5);
    EXPECT_EQ(info["imageSize"].toInteger(), image().size());

    const TRun plain = run({"inspect", "fw.dat"});
    EXPECT_EQ(plain.code, 0);
    EXPECT_TRUE(plain.out.contains("QV58-LINK-A"));

    const TRun extracted = run({"extract", "fw.dat", "-o", "back.hex"});
    ASSERT_EQ(extracted.code, 0) << extracted.err.constData();
    EXPECT_EQ(readWholeFile(path("back.hex")), image());
}

TEST_F(PackToolTest, AnInvalidPackageIsReportedAndNotExtracted)
{
    QByteArray package = buildPackage(image(), "Boot", "V1", "QV58-LINK-B", "today");
    package[68] = package[68] == '0' ? '1' : '0';
    writeWholeFile(path("bad.dat"), package);

    const TRun inspected = run({"inspect", "--json", "bad.dat"});
    EXPECT_EQ(inspected.code, 1);
    const QJsonObject info = json(inspected.out);
    EXPECT_FALSE(info["valid"].toBool(true));
    EXPECT_EQ(info["mode"].toString(), QString("Boot"));
    EXPECT_FALSE(info.contains("imageMd5"));
    EXPECT_FALSE(info.contains("imageSize"));

    const TRun extracted = run({"extract", "bad.dat", "-o", "image.hex"});
    EXPECT_EQ(extracted.code, 1);
    EXPECT_FALSE(QFile::exists(path("image.hex")));
}

TEST_F(PackToolTest, FailuresSayOneLineAndWriteNothing)
{
    writeWholeFile(path("fw.hex"), image());
    writeWholeFile(path("short.dat"), QByteArray("ID:Quorvantix") + QByteArray(100, '\0'));
    const QStringList buildBase = {"build", "--image", "fw.hex", "--mode", "App", "--version", "V1", "--part", "P", "--date", "D"};
    struct Case
    {
        const char *name;
        QStringList arguments;
        const char *needle;
    };
    const Case cases[] = {
        {"no command", {}, "missing command"},
        {"unknown command", {"pack"}, "unknown command"},
        {"build without output", buildBase, "missing option -o"},
        {"build without mode", {"build", "--image", "fw.hex", "--version", "V1", "--part", "P", "--date", "D", "-o", "out.dat"}, "missing option --mode"},
        {"build from a missing image", {"build", "--image", "none.hex", "--mode", "App", "--version", "V1", "--part", "P", "--date", "D", "-o", "out.dat"}, "Cannot open file \"none.hex\""},
        {"build with a mode too long", {"build", "--image", "fw.hex", "--mode", "ApplicationImage1", "--version", "V1", "--part", "P", "--date", "D", "-o", "out.dat"}, "longer than 16 bytes"},
        {"build into a missing folder", buildBase + QStringList{"-o", "no/dir/out.dat"}, "Cannot create file"},
        {"unknown option", buildBase + QStringList{"-o", "out.dat", "--force"}, "unknown option --force"},
        {"option without its value", {"extract", "fw.dat", "-o"}, "needs a value"},
        {"inspect a missing file", {"inspect", "none.dat"}, "Cannot open file \"none.dat\""},
        {"inspect without a file", {"inspect"}, "missing package file"},
        {"inspect a cut package", {"inspect", "short.dat"}, "Range check error"},
        {"extract a missing file", {"extract", "none.dat", "-o", "out.dat"}, "Cannot open file"},
        {"extract without output", {"extract", "short.dat"}, "missing option -o"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        expectFailure(run(c.arguments), c.needle);
        EXPECT_FALSE(QFile::exists(path("out.dat")));
    }

    const TRun asJson = run({"inspect", "--json", "none.dat"});
    expectFailure(asJson, "Cannot open file");
    EXPECT_TRUE(json(asJson.out)["error"].toString().startsWith("Cannot open file \"none.dat\"."));
}

TEST_F(PackToolTest, AFailedBuildLeavesAnEarlierOutputAlone)
{
    writeWholeFile(path("fw.hex"), image());
    writeWholeFile(path("out.dat"), "earlier package");
    const TRun r = run({"build", "--image", "fw.hex", "--mode", "App", "--version", "V1", "--part",
                        "QV58-LINK-A-TOO-LONG", "--date", "D", "-o", "out.dat"});
    expectFailure(r, "part name");
    EXPECT_EQ(readWholeFile(path("out.dat")), QByteArray("earlier package"));
}
