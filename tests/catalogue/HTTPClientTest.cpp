#include "support/RaisedText.h"
#include "ScriptedTlsServer.h"
#include "TestPrinters.h"

#include "catalogue/HTTPClient.h"
#include "catalogue/HTTPExceptions.h"

#include <QElapsedTimer>
#include <arpa/inet.h>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <typeinfo>
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

    TScriptedTlsServer &start(const TScriptedServerOptions &options = {})
    {
        server = std::make_unique<TScriptedTlsServer>(options);
        trusted.trust(server->certificatePem());
        return *server;
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
    TTrustedCertificate trusted;
};


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

TEST_F(HTTPClientTest, FollowsFourteenRedirectsAndRefusesTheFifteenth)
{
    const struct
    {
        int redirects;
        bool refused;
    } cases[] = {{14, false}, {15, true}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.redirects);
        start();
        events.clear();
        const QByteArray statuses[] = {"301 Moved Permanently", "302 Found", "303 See Other",
            "307 Temporary Redirect", "308 Permanent Redirect"};
        for (int i = 1; i <= c.redirects; ++i)
            server->answer(httpAnswer(statuses[i % 5], "moved", "Location: /hop" + QByteArray::number(i) + "\r\n"));
        server->answer(httpAnswer("200 OK", "final"));

        QByteArray data = "kept";
        QBuffer buffer(&data);
        buffer.open(QIODevice::ReadWrite);
        buffer.seek(4);
        if (c.refused) {
            EXPECT_EQ(raisedText<EIdRedirectLimit>([&] { http.Get(server->url("/start"), buffer); }),
                "Too many redirects.");
            EXPECT_EQ(data, "kept");
        } else {
            http.Get(server->url("/start"), buffer);
            EXPECT_EQ(data, "keptfinal");
            EXPECT_EQ(buffer.pos(), 9);
        }

        const QList<QByteArray> requests = server->requests();
        ASSERT_EQ(requests.size(), 15);
        for (int i = 1; i < requests.size(); ++i)
            EXPECT_EQ(requests[i], requestBlock("/hop" + QByteArray::number(i)));
        // Each redirect body is read and reported, then dropped.
        QStringList expected;
        for (int i = 0; i < c.redirects; ++i)
            expected << "begin 5" << "work 5";
        if (!c.refused)
            expected << "begin 5" << "work 5";
        EXPECT_EQ(events, expected);
    }
}

TEST_F(HTTPClientTest, ResolvesRelativeRedirectTargetsAgainstTheCurrentUrl)
{
    start();
    const QByteArray self = "https://localhost:" + QByteArray::number(server->port());
    server->answer(httpAnswer("302 Found", "", "Location: ../other/file.dat\r\n"));
    server->answer(httpAnswer("303 See Other", "", "Location: next.dat?x=1\r\n"));
    server->answer(httpAnswer("307 Temporary Redirect", "", "Location: " + self + "/abs/last.dat\r\n"));
    server->answer(httpAnswer("200 OK", "done"));

    EXPECT_EQ(get(server->url("/Download/qv58link/file.dat")), "done");

    const QList<QByteArray> expected{
        requestBlock("/Download/qv58link/file.dat"),
        requestBlock("/Download/other/file.dat"),
        requestBlock("/Download/other/next.dat?x=1"),
        requestBlock("/abs/last.dat"),
    };
    EXPECT_EQ(server->requests(), expected);
}

TEST_F(HTTPClientTest, ErrorAnswerReportsItsBodyThenRaisesItsStatusLine)
{
    const struct
    {
        QByteArray answer;
        int code;
        QString text;
        QStringList events;
    } cases[] = {
        {httpAnswer("404 Not Found", "<html>missing</html>"), 404, "HTTP/1.1 404 Not Found",
            {"begin 20", "work 20"}},
        {"HTTP/1.1 500 Internal Error 404\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n", 500,
            "HTTP/1.1 500 Internal Error 404", {"begin 0", "work 3"}},
        {httpAnswer("304 Not Modified", ""), 304, "HTTP/1.1 304 Not Modified", {}},
        {httpAnswer("302 Found", "no target"), 302, "HTTP/1.1 302 Found", {"begin 9", "work 9"}},
        {httpAnswer("401 Unauthorized", "", "WWW-Authenticate: Basic realm=\"x\"\r\n"), 401,
            "HTTP/1.1 401 Unauthorized", {}},
        {"HTTP/1.0 403 Forbidden\r\n\r\nbye", 403, "HTTP/1.0 403 Forbidden", {"begin 0", "work 3"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        start();
        events.clear();
        server->answer(c.answer, TScriptedAnswer::Close);

        QByteArray data;
        QBuffer buffer(&data);
        buffer.open(QIODevice::ReadWrite);
        try {
            http.Get(server->url("/Download/qv58link/x.dat"), buffer);
            ADD_FAILURE() << "no error raised";
        } catch (const EIdHTTPProtocolException &e) {
            EXPECT_EQ(e.message(), c.text);
            EXPECT_EQ(e.errorCode(), c.code);
        }
        EXPECT_EQ(events, c.events);
        EXPECT_TRUE(data.isEmpty());
    }
}

TEST_F(HTTPClientTest, ReportsProgressPerBodyWithTheAnnouncedLength)
{
    const QByteArray big(100000, 'p');
    const struct
    {
        const char *name;
        QByteArray answer;
        TScriptedAnswer::TAfter after;
        QByteArray body;
        QStringList events;
    } cases[] = {
        {"empty", httpAnswer("200 OK", ""), TScriptedAnswer::KeepOpen, "", {}},
        {"no content", "HTTP/1.1 204 No Content\r\n\r\n", TScriptedAnswer::KeepOpen, "", {}},
        {"interim answer skipped", "HTTP/1.1 100 Continue\r\n\r\n" + httpAnswer("200 OK", "ok"),
            TScriptedAnswer::KeepOpen, "ok", {"begin 2", "work 2"}},
        {"chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n",
            TScriptedAnswer::KeepOpen, "hello", {"begin 0", "work 5"}},
        {"chunked empty", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n",
            TScriptedAnswer::KeepOpen, "", {"begin 0"}},
        {"close-delimited", "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\nuntil close", TScriptedAnswer::Close,
            "until close", {"begin 0", "work 11"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        start();
        events.clear();
        server->answer(c.answer, c.after);
        EXPECT_EQ(get(server->url("/f")), c.body);
        EXPECT_EQ(events, c.events);
    }
}

TEST_F(HTTPClientTest, LargeBodyArrivesInBlocksOfAtMostTheReceiveBufferAfterTheCallersBytes)
{
    start();
    QByteArray body(300000, Qt::Uninitialized);
    for (qsizetype i = 0; i < body.size(); ++i)
        body[i] = char(i * 7);
    server->answer(httpAnswer("200 OK", body));

    QByteArray data = "head|tail";
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadWrite);
    buffer.seek(5);
    http.Get(server->url("/big.dat"), buffer);

    EXPECT_EQ(data, "head|" + body);
    EXPECT_EQ(buffer.pos(), 5 + body.size());
    ASSERT_GE(events.size(), 2 + body.size() / 32768);
    EXPECT_EQ(events.first(), "begin 300000");
    qint64 previous = 0;
    for (const QString &event : events.mid(1)) {
        const qint64 count = event.mid(5).toLongLong();
        EXPECT_TRUE(event.startsWith("work ")) << event.toStdString();
        EXPECT_GT(count, previous);
        EXPECT_LE(count - previous, 32768);
        previous = count;
    }
    EXPECT_EQ(previous, body.size());
}

TEST_F(HTTPClientTest, BodyCutShortIsAnError)
{
    const struct
    {
        const char *name;
        QByteArray answer;
        TScriptedAnswer::TAfter after;
        QByteArray kept;
    } cases[] = {
        {"closed before the announced length", "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n0123456789",
            TScriptedAnswer::Close, "0123456789"},
        {"dropped before the announced length", "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n0123456789",
            TScriptedAnswer::Drop, "0123456789"},
        {"closed inside a chunk", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n10\r\nabc",
            TScriptedAnswer::Close, "helloabc"},
        {"closed before the last chunk", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n",
            TScriptedAnswer::Close, "hello"},
        {"broken chunk size", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\nzz\r\nabc\r\n",
            TScriptedAnswer::Close, "hello"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        start();
        server->answer(c.answer, c.after);
        QByteArray data;
        QBuffer buffer(&data);
        buffer.open(QIODevice::ReadWrite);
        const QString text = raisedText<EIdIncompleteBody>([&] { http.Get(server->url("/f.dat"), buffer); });
        EXPECT_TRUE(text.startsWith("Download incomplete: the server's answer was cut short.\r\n"))
            << text.toStdString();
        EXPECT_EQ(data, c.kept);
    }
}

TEST_F(HTTPClientTest, ServerClosingBeforeAnyAnswerClosesGracefully)
{
    start();
    // A refused connection first, so that no earlier system error number
    // can leak into the texts that follow.
    const QString refused = QStringLiteral("https://127.0.0.1:%1/").arg(closedPort());
    raisedText<EIdSocketError>([&] { get(refused); });

    for (const auto after : {TScriptedAnswer::Close, TScriptedAnswer::Drop}) {
        SCOPED_TRACE(after);
        server->answer("", after);
        EXPECT_EQ(raisedText<EIdConnClosedGracefully>([&] { get(server->url("/f")); }),
            "Connection Closed Gracefully.");
    }

    // The next request opens a new connection.
    server->answer(httpAnswer("200 OK", "back"));
    EXPECT_EQ(get(server->url("/f")), "back");
    EXPECT_EQ(server->connections(), 3);
}

TEST_F(HTTPClientTest, RefusesServersItCannotVerify)
{
    TCertificateRequest otherHost;
    otherHost.dnsNames = {"download.example"};
    otherHost.ipAddresses = {};
    TCertificateRequest expired;
    expired.validFromSecs = -3 * 86400;
    expired.validToSecs = -86400;

    const struct
    {
        const char *name;
        TScriptedServerOptions options;
        bool serverTrusted;
    } cases[] = {
        {"self-signed, not trusted", {}, false},
        {"issued for another name", {otherHost, false, false}, true},
        {"expired", {expired, false, false}, true},
        {"TLS 1.0 only", {{}, true, false}, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        start(c.options);
        if (!c.serverTrusted)
            trusted.trust(TSelfSignedCertificate().certificatePem());
        server->answer(httpAnswer("200 OK", "firmware"));
        const QString text = raisedText<EIdOSSLConnectError>([&] { get(server->url("/f.dat")); });
        EXPECT_TRUE(text.startsWith("Error connecting with SSL.\r\n")) << text.toStdString();
        EXPECT_GT(text.size(), 28) << "the TLS library's own text is missing";
        EXPECT_TRUE(server->requests().isEmpty());
    }
}

TEST_F(HTTPClientTest, SilentServerTimesOut)
{
    const struct
    {
        const char *name;
        bool silentHandshake;
        QByteArray answer;
    } cases[] = {
        {"no handshake", true, ""},
        {"no answer", false, ""},
        {"answer stops mid-body", false, "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n01234"},
    };
    http.setReadTimeout(300);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        start({{}, false, c.silentHandshake});
        server->answer(c.answer, TScriptedAnswer::Stall);
        QElapsedTimer timer;
        timer.start();
        EXPECT_EQ(raisedText<EIdReadTimeout>([&] { get(server->url("/f.dat")); }), "Read timed out.");
        EXPECT_GE(timer.elapsed(), 300);
        EXPECT_LT(timer.elapsed(), 5000);
    }
}

TEST_F(HTTPClientTest, HandlerErrorStopsTheRequestAndPassesUnchanged)
{
    start();
    for (const bool inBegin : {true, false}) {
        SCOPED_TRACE(inBegin ? "OnWorkBegin" : "OnWork");
        server->answer(httpAnswer("200 OK", QByteArray(100000, 'x')));
        server->answer(httpAnswer("200 OK", "next"));
        const auto fail = [](THTTPClient &, TWorkMode, qint64) { throw ERangeError(); };
        (inBegin ? http.OnWorkBegin : http.OnWork) = fail;
        EXPECT_EQ(raisedText<ERangeError>([&] { get(server->url("/big")); }), "Range check error");

        http.OnWorkBegin = nullptr;
        http.OnWork = nullptr;
        EXPECT_EQ(get(server->url("/next")), "next");
    }
}

TEST_F(HTTPClientTest, SendsThePathAsGivenExceptForWhatARequestLineCannotCarry)
{
    start();
    const struct
    {
        QString path;
        QByteArray sent;
    } cases[] = {
        {"/Download/qv58link/51563270_V1.2.0.dat", "/Download/qv58link/51563270_V1.2.0.dat"},
        {"/Download/../qv58link/./%41b.dat?x=%20", "/Download/../qv58link/./%41b.dat?x=%20"},
        // A space before ";" in the catalogue ends up in the package name.
        {"/Download/qv58link/51563270_V1.2.0 .dat", "/Download/qv58link/51563270_V1.2.0%20.dat"},
        {QString::fromUtf8("/Download/\xC3\xA9.dat"), "/Download/%c3%a9.dat"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        server->answer(httpAnswer("200 OK", "x"));
        get(server->url(c.path));
        EXPECT_EQ(server->requests().last(), requestBlock(c.sent));
    }
}

TEST_F(HTTPClientTest, NeverLeavesTls)
{
    start();
    const QByteArray plain = "http://localhost:" + QByteArray::number(server->port()) + "/f.dat";
    server->answer(httpAnswer("302 Found", "", "Location: " + plain + "\r\n"));

    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadWrite);
    for (const QString &url : {server->url("/start"), QString::fromLatin1(plain)}) {
        SCOPED_TRACE(url.toStdString());
        const QString text = raisedText<EIdTransferError>([&] { http.Get(url, buffer); });
        EXPECT_TRUE(text.startsWith("Only HTTPS downloads are allowed.\r\n")) << text.toStdString();
    }
    EXPECT_EQ(server->requests().size(), 1);
    EXPECT_TRUE(data.isEmpty());
}

namespace {

constexpr qint64 TestLimit = 100000;

QByteArray chunk(const QByteArray &data)
{
    return QByteArray::number(data.size(), 16) + "\r\n" + data + "\r\n";
}

} // namespace

// Under a limit the client holds back from the server's first byte: the test
// watches the buffer as it grows and the bytes the client was handed.
class HTTPClientLimitTest : public HTTPClientTest
{
protected:
    HTTPClientLimitTest()
    {
        start();
        http.setMaxBodySize(TestLimit);
        http.OnWork = [this](THTTPClient &, TWorkMode, qint64 count) {
            ++works;
            largestCount = qMax(largestCount, count);
            largestBuffer = qMax(largestBuffer, qint64(data.size()));
        };
    }

    // The text of the EIdBodyTooLarge that fetching path raises.
    QString refused(const QString &path)
    {
        QBuffer buffer(&data);
        buffer.open(QIODevice::ReadWrite);
        return raisedText<EIdBodyTooLarge>([&] { http.Get(server->url(path), buffer); });
    }

    // The server is free again, and an answer that fits still comes through
    // whole on the connection that follows.
    void expectNextRequestServed()
    {
        server->answer(httpAnswer("200 OK", "next"));
        EXPECT_EQ(get(server->url("/next")), "next");
    }

    QByteArray data;
    int works = 0;
    qint64 largestCount = 0;
    qint64 largestBuffer = 0;
};

TEST_F(HTTPClientLimitTest, ABodyOfExactlyTheLimitPassesOneByteMoreDoesNot)
{
    const QString announced = QStringLiteral(
        "Download too large: the server announced more than the 100000 bytes allowed for \"filelist.txt\".");
    const QString sent =
        QStringLiteral("Download too large: the server sent more than the 100000 bytes allowed for \"filelist.txt\".");
    const auto framed = [](const char *framing, const QByteArray &body) -> QByteArray {
        if (qstrcmp(framing, "length") == 0)
            return httpAnswer("200 OK", body);
        if (qstrcmp(framing, "chunked") == 0)
            return "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + chunk(body.left(TestLimit / 2))
                + chunk(body.mid(TestLimit / 2)) + "0\r\n\r\n";
        return "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + body;
    };
    const struct
    {
        const char *framing;
        qint64 size;
        QString error; // empty: accepted
    } cases[] = {
        {"length", TestLimit, {}},
        {"length", TestLimit + 1, announced},
        {"chunked", TestLimit, {}},
        {"chunked", TestLimit + 1, sent},
        {"until close", TestLimit, {}},
        {"until close", TestLimit + 1, sent},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.framing) + " " + std::to_string(c.size));
        data.clear();
        works = 0;
        largestBuffer = 0;
        const QByteArray body(c.size, 'b');
        server->answer(framed(c.framing, body), TScriptedAnswer::Close);
        if (c.error.isEmpty()) {
            EXPECT_EQ(get(server->url("/Download/qv58link/filelist.txt")).size(), c.size);
            continue;
        }
        EXPECT_EQ(refused("/Download/qv58link/filelist.txt"), c.error);
        EXPECT_LE(largestBuffer, TestLimit);
        EXPECT_LE(data.size(), TestLimit);
        if (c.error == announced) {
            EXPECT_EQ(works, 0) << "the body was read although its length was known to be too much";
            EXPECT_TRUE(data.isEmpty());
        }
    }
}

TEST_F(HTTPClientLimitTest, AnnouncedTwoGigabytesIsRefusedUnread)
{
    TScriptedAnswer answer;
    answer.bytes = "HTTP/1.1 200 OK\r\nContent-Length: 2147483648\r\n\r\n";
    answer.endless = QByteArray(32768, 'x');
    server->answer(answer);
    EXPECT_EQ(refused("/Download/qv58link/51563270_V1.2.0.dat"),
        "Download too large: the server announced more than the 100000 bytes allowed for "
        "\"51563270_V1.2.0.dat\".");
    EXPECT_EQ(works, 0);
    EXPECT_TRUE(data.isEmpty());
    expectNextRequestServed();
    // Only what the connection could hold before the client hung up.
    EXPECT_LT(server->bytesSent(), qint64(64) * 1024 * 1024);
}

TEST_F(HTTPClientLimitTest, EndlessBodyStopsAtTheLimitWithNothingBeyondItKept)
{
    const QByteArray block(32768, 'e');
    const struct
    {
        const char *name;
        QByteArray head;
        QByteArray endless;
    } cases[] = {
        {"chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", chunk(block)},
        {"until close", "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n", block},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        data = "kept|";
        largestCount = 0;
        largestBuffer = 0;
        TScriptedAnswer answer;
        answer.bytes = c.head;
        answer.endless = c.endless;
        server->answer(answer);

        QBuffer buffer(&data);
        buffer.open(QIODevice::ReadWrite);
        buffer.seek(5);
        EXPECT_EQ(raisedText<EIdBodyTooLarge>([&] { http.Get(server->url("/f.dat"), buffer); }),
            "Download too large: the server sent more than the 100000 bytes allowed for \"f.dat\".");
        EXPECT_LE(largestCount, TestLimit);
        EXPECT_GT(largestCount, TestLimit - block.size()) << "stopped long before the limit";
        EXPECT_LE(largestBuffer, 5 + TestLimit);
        EXPECT_TRUE(data.startsWith("kept|eeee"));
        expectNextRequestServed();
    }
}

TEST_F(HTTPClientLimitTest, RedirectAndErrorBodiesAreReadNoFurtherThanTheLimit)
{
    const QByteArray endlessChunks = chunk(QByteArray(32768, 'r'));
    const struct
    {
        const char *name;
        QByteArray head;
        QByteArray endless;
        QString error;
    } cases[] = {
        {"redirect", "HTTP/1.1 302 Found\r\nLocation: /final\r\nTransfer-Encoding: chunked\r\n\r\n", endlessChunks,
            "Download too large: the server sent more than the 100000 bytes allowed for \"start\"."},
        {"error page", "HTTP/1.1 404 Not Found\r\nTransfer-Encoding: chunked\r\n\r\n", endlessChunks,
            "HTTP/1.1 404 Not Found"},
        {"error announcing 2 GiB", "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 2147483648\r\n\r\n",
            QByteArray(32768, 'r'), "HTTP/1.1 500 Internal Server Error"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        data.clear();
        largestCount = 0;
        TScriptedAnswer answer;
        answer.bytes = c.head;
        answer.endless = c.endless;
        server->answer(answer);

        QBuffer buffer(&data);
        buffer.open(QIODevice::ReadWrite);
        try {
            http.Get(server->url("/start"), buffer);
            ADD_FAILURE() << "no error raised";
        } catch (const Exception &e) {
            EXPECT_EQ(e.message(), c.error);
        }
        EXPECT_TRUE(data.isEmpty());
        EXPECT_LE(largestCount, TestLimit);
        expectNextRequestServed();
    }
}

TEST_F(HTTPClientLimitTest, ALimitHoldsForItsOwnRequestOnly)
{
    const QByteArray body(TestLimit * 3, 'w');
    for (int i = 0; i < 4; ++i)
        server->answer(httpAnswer("200 OK", body));

    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadWrite);
    http.Get(server->url("/wide"), buffer, 0);
    EXPECT_EQ(data.size(), body.size());
    EXPECT_EQ(http.maxBodySize(), TestLimit);

    EXPECT_FALSE(refused("/narrow").isEmpty());

    http.setMaxBodySize(0);
    EXPECT_EQ(get(server->url("/unlimited")).size(), body.size());
    http.setMaxBodySize(TestLimit);
    EXPECT_FALSE(raisedText<EIdBodyTooLarge>([&] { http.Get(server->url("/narrow"), buffer, 10); }).isEmpty());
    EXPECT_EQ(http.maxBodySize(), TestLimit) << "not restored after a failed request";
}

TEST_F(HTTPClientTest, TrickleBelowTheFloorFailsSilenceIsTheReadTimeout)
{
    const QByteArray body(40000, 't');
    const QByteArray whole = httpAnswer("200 OK", body);
    const struct
    {
        const char *name;
        int pieceSize;
        int pauseMs;
        int readTimeoutMs;
        const char *error; // empty: the body arrives
    } cases[] = {
        {"a byte every 20 ms", 1, 20, 10000,
            "Download too slow: the server sent less than 100 bytes a second for 1 seconds."},
        {"a kilobyte every 100 ms", 1000, 100, 10000, ""},
        // A floor's window shorter than the read timeout does not take over silence.
        {"nothing at all", 0, 0, 1500, "Read timed out."},
    };
    http.setLowSpeed(100, 1);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        start();
        http.setReadTimeout(c.readTimeoutMs);
        TScriptedAnswer answer;
        answer.after = TScriptedAnswer::Stall;
        if (c.pieceSize > 0) {
            answer.bytes = whole;
            answer.pieceSize = c.pieceSize;
            answer.pauseMs = c.pauseMs;
        }
        server->answer(answer);
        if (!*c.error) {
            EXPECT_EQ(get(server->url("/f.dat")), body);
            continue;
        }
        QBuffer buffer;
        buffer.open(QIODevice::ReadWrite);
        try {
            http.Get(server->url("/f.dat"), buffer);
            ADD_FAILURE() << "no error raised";
        } catch (const Exception &e) {
            EXPECT_EQ(e.message(), QString::fromUtf8(c.error));
            EXPECT_EQ(dynamic_cast<const EIdTooSlow *>(&e) != nullptr, c.pieceSize > 0) << typeid(e).name();
        }
        // The client gave up long before the trickle would have ended.
        EXPECT_LT(server->bytesSent(), whole.size() / 2);
    }
}

TEST(DownloadErrorTexts, NameTheFileAndTheLimitAndNeverLookLikeANetworkError)
{
    const QString base = QStringLiteral("https://download.example/Download/qv58link/");
    const struct
    {
        QString text;
        QString expected;
    } cases[] = {
        {EIdBodyTooLarge::announced(base + "filelist.txt", downloadLimits::CatalogueBytes).message(),
            "Download too large: the server announced more than the 33554432 bytes allowed for \"filelist.txt\"."},
        {EIdBodyTooLarge::sent(base + "51563270_V1.2.0.dat", downloadLimits::PackageBytes).message(),
            "Download too large: the server sent more than the 67108864 bytes allowed for \"51563270_V1.2.0.dat\"."},
        {EIdBodyTooLarge::sent(base + "51563270_V1.2.0 .dat?x=1", downloadLimits::PackageBytes).message(),
            "Download too large: the server sent more than the 67108864 bytes allowed for \"51563270_V1.2.0 .dat\"."},
        {EIdBodyTooLarge::announced(base + "40400001_V1.0.dat", downloadLimits::PackageBytes).message(),
            "Download too large: the server announced more than the 67108864 bytes allowed for this download."},
        {EIdBodyTooLarge::sent(base + "Host%20not%20found..dat", downloadLimits::PackageBytes).message(),
            "Download too large: the server sent more than the 67108864 bytes allowed for this download."},
        {EIdBodyTooLarge::sent(base, downloadLimits::CatalogueBytes).message(),
            "Download too large: the server sent more than the 33554432 bytes allowed for this download."},
        {EIdTooSlow(downloadLimits::LowSpeedBytesPerSecond, downloadLimits::LowSpeedSeconds).message(),
            "Download too slow: the server sent less than 100 bytes a second for 60 seconds."},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        EXPECT_EQ(c.text, c.expected);
        EXPECT_FALSE(c.text.contains("404"));
        EXPECT_FALSE(c.text.contains("Host not found."));
    }
}
