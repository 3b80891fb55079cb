#include "catalogue/HTTPClient.h"
#include "catalogue/HTTPExceptions.h"
#include "common/FileIO.h"
#include "support/TestSystem.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <csignal>
#include <curl/curl.h>
#include <gtest/gtest.h>

namespace {

const QString ServeBinary = QStringLiteral(QV58_BIN_DIR "/qv58link-serve");

// Starts the server and returns the base URL it prints first, or an empty text.
QString startServe(QProcess &process, const QStringList &arguments)
{
    process.setProgram(ServeBinary);
    process.setArguments(arguments);
    endWithTheTest(process);
    process.start();
    if (!process.waitForStarted(10000))
        return {};
    while (!process.canReadLine()) {
        if (!process.waitForReadyRead(10000))
            return {};
    }
    return QString::fromUtf8(process.readLine()).chopped(1);
}

size_t discard(char *, size_t size, size_t count, void *)
{
    return size * count;
}

class ServeProcess : public ::testing::Test
{
protected:
    void SetUp() override
    {
        root = dir.filePath("root");
        certificate = dir.filePath("cert.pem");
        QDir().mkpath(root + "/Download/qv58link");
        base = startServe(process, {"--root", root, "--port", "0", "--cert-out", certificate});
        ASSERT_TRUE(QRegularExpression("^https://localhost:[0-9]+/$").match(base).hasMatch()) << base.toStdString();
        port = base.section(u':', 2).chopped(1).toUShort();
        qputenv("SSL_CERT_FILE", certificate.toLocal8Bit());
    }

    void TearDown() override
    {
        qunsetenv("SSL_CERT_FILE");
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            process.waitForFinished(10000);
        }
    }

    QByteArray get(const QString &url)
    {
        QBuffer buffer;
        http.Get(url, buffer);
        return buffer.data();
    }

    QTemporaryDir dir;
    QString root, certificate, base;
    quint16 port = 0;
    QProcess process;
    THTTPClient http;
};

} // namespace

TEST_F(ServeProcess, ServesFilesAtTheirPathsBelowTheRoot)
{
    QByteArray package(3 * 1024 * 1024 + 17, Qt::Uninitialized);
    for (qsizetype i = 0; i < package.size(); ++i)
        package[i] = char(i * 31 + i / 7);
    writeWholeFile(root + "/Download/qv58link/filelist.txt", "51563270_V1.2.0;notes\r\n");
    writeWholeFile(root + "/Download/qv58link/51563270_V1.2.0.dat", package);

    EXPECT_EQ(get(base + "Download/qv58link/filelist.txt"), "51563270_V1.2.0;notes\r\n");
    EXPECT_EQ(get(base + "Download/qv58link/51563270_V1.2.0.dat"), package);
    // The certificate names 127.0.0.1 too.
    EXPECT_EQ(get(QStringLiteral("https://127.0.0.1:%1/Download/qv58link/filelist.txt").arg(port)),
        "51563270_V1.2.0;notes\r\n");
}

TEST_F(ServeProcess, AnswersNotFoundForAnythingButAFileInsideTheRoot)
{
    writeWholeFile(dir.filePath("secret.txt"), "secret");
    makeSymbolicLink(dir.filePath("secret.txt"), root + "/escape.txt");
    for (const char *path : {"Download/qv58link/missing.dat", "Download/qv58link", "escape.txt",
             "Download/../../secret.txt", "%2e%2e/secret.txt", "Download/%2E%2E/%2e%2e/secret.txt"}) {
        SCOPED_TRACE(path);
        try {
            get(base + path);
            ADD_FAILURE() << "served";
        } catch (const EIdHTTPProtocolException &e) {
            EXPECT_EQ(e.errorCode(), 404);
            EXPECT_EQ(e.message(), "HTTP/1.1 404 Not Found");
        }
    }
}

TEST_F(ServeProcess, KeepsTheConnectionOpenBetweenRequests)
{
    writeWholeFile(root + "/a.txt", "a");
    CURL *curl = curl_easy_init();
    ASSERT_NE(curl, nullptr);
    const QByteArray url = (base + "a.txt").toUtf8();
    const QByteArray trust = certificate.toLocal8Bit();
    curl_easy_setopt(curl, CURLOPT_URL, url.constData());
    curl_easy_setopt(curl, CURLOPT_CAINFO, trust.constData());
    curl_easy_setopt(curl, CURLOPT_PROXY, "");
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &discard);
    long connects[2] = {-1, -1};
    for (long &count : connects) {
        EXPECT_EQ(curl_easy_perform(curl), CURLE_OK);
        curl_easy_getinfo(curl, CURLINFO_NUM_CONNECTS, &count);
    }
    curl_easy_cleanup(curl);
    EXPECT_EQ(connects[0], 1);
    EXPECT_EQ(connects[1], 0);
}

TEST_F(ServeProcess, ListensOnLoopbackOnly)
{
    QFile table("/proc/net/tcp");
    ASSERT_TRUE(table.open(QIODevice::ReadOnly));
    const QString local = QStringLiteral(":%1").arg(port, 4, 16, QChar(u'0')).toUpper();
    QStringList listening;
    for (const QByteArray &line : table.readAll().split('\n')) {
        const QStringList fields = QString::fromLatin1(line).simplified().split(u' ');
        if (fields.size() > 3 && fields[1].endsWith(local) && fields[3] == "0A")
            listening << fields[1];
    }
    EXPECT_EQ(listening, QStringList{"0100007F" + local});
}

TEST(ServeCommand, StopsCleanlyOnInterruptAndTerminate)
{
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        QTemporaryDir dir;
        QProcess process;
        ASSERT_FALSE(startServe(process, {"--root", dir.path(), "--cert-out", dir.filePath("c.pem")}).isEmpty());
        ::kill(pid_t(process.processId()), signal);
        ASSERT_TRUE(process.waitForFinished(10000));
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), 0);
    }
}

TEST(ServeCommand, RejectsIncompleteOrWrongArguments)
{
    QTemporaryDir dir;
    const QString cert = dir.filePath("c.pem");
    const QStringList cases[] = {
        {},
        {"--root", dir.path()},
        {"--cert-out", cert},
        {"--root", dir.filePath("missing"), "--cert-out", cert},
        {"--root", dir.path(), "--cert-out", cert, "--port", "x"},
        {"--root", dir.path(), "--cert-out", cert, "--port", "70000"},
    };
    for (const QStringList &arguments : cases) {
        SCOPED_TRACE(arguments.join(u' ').toStdString());
        QProcess process;
        process.start(ServeBinary, arguments);
        ASSERT_TRUE(process.waitForFinished(10000));
        EXPECT_EQ(process.exitCode(), 2);
        EXPECT_TRUE(process.readAllStandardOutput().isEmpty());
        EXPECT_FALSE(QFile::exists(cert));
    }

    QProcess help;
    help.start(ServeBinary, {"--help"});
    ASSERT_TRUE(help.waitForFinished(10000));
    EXPECT_EQ(help.exitCode(), 0);
    EXPECT_TRUE(help.readAllStandardOutput().contains("--cert-out"));
}
