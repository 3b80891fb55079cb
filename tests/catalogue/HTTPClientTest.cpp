#include "ScriptedTlsServer.h"
#include "TestPrinters.h"

#include "catalogue/HTTPClient.h"
#include "catalogue/HTTPExceptions.h"
#include "common/FileIO.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const QByteArray FixedHeaderLines = "Accept: text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8\r\n"
                                    "Accept-Encoding: identity\r\n"
                                    "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n";

class HTTPClientTest : public ::testing::Test
{
protected:
    HTTPClientTest()
    {
        http.OnWorkBegin = [this](THTTPClient &sender, TWorkMode mode, qint64 max) {
            EXPECT_EQ(&sender, &http);
            EXPECT_EQ(mode, wmRead);
            events << QStringLiteral("begin %1").arg(max);
        };
        http.OnWork = [this](THTTPClient &sender, TWorkMode mode, qint64 count) {
            EXPECT_EQ(&sender, &http);
            EXPECT_EQ(mode, wmRead);
            events << QStringLiteral("work %1").arg(count);
        };
    }

    void TearDown() override
    {
        if (FOldTrust.isNull())
            qunsetenv("SSL_CERT_FILE");
        else
            qputenv("SSL_CERT_FILE", FOldTrust);
    }

    TScriptedTlsServer &start(const TScriptedServerOptions &options = {})
    {
        server = std::make_unique<TScriptedTlsServer>(options);
        trust(server->certificatePem());
        return *server;
    }

    // Lets the client trust exactly this certificate besides the system's.
    void trust(const QByteArray &pem)
    {
        const QString path = FDir.filePath(QStringLiteral("trusted%1.pem").arg(++FTrustFiles));
        writeWholeFile(path, pem);
        qputenv("SSL_CERT_FILE", path.toLocal8Bit());
    }

    QByteArray get(const QString &url)
    {
        QBuffer buffer;
        buffer.open(QIODevice::ReadWrite);
        http.Get(url, buffer);
        EXPECT_EQ(buffer.pos(), buffer.size());
        return buffer.data();
    }

    // The header block every request of the client carries.
    QByteArray requestBlock(const QByteArray &path, const QByteArray &cookie = {}, bool formContentType = false) const
    {
        return "GET " + path + " HTTP/1.1\r\nHost: localhost:" + QByteArray::number(server->port()) + "\r\n"
            + (cookie.isEmpty() ? QByteArray() : "Cookie: " + cookie + "\r\n")
            + (formContentType ? "Content-Type: application/x-www-form-urlencoded\r\n" : "") + FixedHeaderLines
            + "\r\n";
    }

    THTTPClient http;
    QStringList events;
    std::unique_ptr<TScriptedTlsServer> server;

private:
    QTemporaryDir FDir;
    QByteArray FOldTrust = qgetenv("SSL_CERT_FILE");
    int FTrustFiles = 0;
};

template <class E>
QString raisedText(const std::function<void()> &action)
{
    try {
        action();
    } catch (const E &e) {
        return e.message();
    } catch (const Exception &e) {
        ADD_FAILURE() << "unexpected " << typeid(e).name() << ": " << e.what();
        return {};
    }
    ADD_FAILURE() << "no error raised";
    return {};
}

quint16 closedPort()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(fd, reinterpret_cast<sockaddr *>(&address), length);
    getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

} // namespace

TEST_F(HTTPClientTest, SendsTheFixedHeaderLinesAndContentTypeOnceSet)
{
    start();
    server->answer(httpAnswer("200 OK", "catalogue"));
    server->answer(httpAnswer("200 OK", "package"));
    server->answer(httpAnswer("200 OK", "catalogue again"));

    EXPECT_EQ(get(server->url("/Download/qv58link/filelist.txt")), "catalogue");
    http.setContentType("application/x-www-form-urlencoded");
    EXPECT_EQ(get(server->url("/Download/qv58link/51563270_V1.2.0.dat")), "package");
    EXPECT_EQ(get(server->url("/Download/qv58link/filelist.txt")), "catalogue again");

    const QList<QByteArray> expected{
        requestBlock("/Download/qv58link/filelist.txt"),
        requestBlock("/Download/qv58link/51563270_V1.2.0.dat", {}, true),
        requestBlock("/Download/qv58link/filelist.txt", {}, true),
    };
    EXPECT_EQ(server->requests(), expected);
    // All three went over the connection the server kept open.
    EXPECT_EQ(server->requestConnections(), (QList<int>{0, 0, 0}));
    EXPECT_EQ(http.contentType(), "application/x-www-form-urlencoded");
}

TEST_F(HTTPClientTest, SendsBackCookiesOfEarlierAnswers)
{
    start();
    server->answer(httpAnswer("200 OK", "a", "Set-Cookie: session=s1; Path=/\r\n"));
    server->answer(httpAnswer("302 Found", "", "Location: /b\r\nSet-Cookie: step=2; Path=/\r\n"));
    server->answer(httpAnswer("200 OK", "b"));
    server->answer(httpAnswer("200 OK", "c"), TScriptedAnswer::Close);
    server->answer(httpAnswer("200 OK", "d"));

    get(server->url("/a"));
    get(server->url("/a2"));
    get(server->url("/c"));
    get(server->url("/d")); // on a new connection after the server closed the last one

    const QList<QByteArray> requests = server->requests();
    ASSERT_EQ(requests.size(), 5);
    EXPECT_EQ(requests[0], requestBlock("/a"));
    EXPECT_EQ(requests[1], requestBlock("/a2", "session=s1"));
    EXPECT_EQ(requests[2], requestBlock("/b", "session=s1; step=2"));
    EXPECT_EQ(requests[4], requestBlock("/d", "session=s1; step=2"));
    EXPECT_EQ(server->requestConnections(), (QList<int>{0, 0, 0, 0, 1}));
}

TEST_F(HTTPClientTest, NetworkFailuresCarryTheSocketErrorTexts)
{
    const QString unresolvable = QStringLiteral("https://%1.invalid/filelist.txt").arg(QString(70, u'x'));
    EXPECT_EQ(raisedText<EIdSocketError>([&] { get(unresolvable); }), "Socket Error # 11001\r\nHost not found.");

    const QString refused = QStringLiteral("https://127.0.0.1:%1/filelist.txt").arg(closedPort());
    EXPECT_EQ(raisedText<EIdSocketError>([&] { get(refused); }), "Socket Error # 111\r\nConnection refused.");
    EXPECT_TRUE(events.isEmpty());
}
