#include "support/RaisedText.h"
#include "ConnectProxy.h"
#include "ScriptedTlsServer.h"
#include "TestPrinters.h"

#include "catalogue/Catalogue.h"
#include "catalogue/HTTPClient.h"
#include "catalogue/HTTPExceptions.h"

#include <arpa/inet.h>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <typeinfo>
#include <unistd.h>
#include <utility>

namespace {

const char *const ProxyVariables[] = {"https_proxy", "HTTPS_PROXY", "http_proxy", "HTTP_PROXY",
                                      "all_proxy",   "ALL_PROXY",   "no_proxy",   "NO_PROXY"};

// Starts with none of the proxy variables set, and puts back what the
// environment had when it goes.
class ProxyVariablesGuard
{
public:
    ProxyVariablesGuard()
    {
        for (const char *name : ProxyVariables) {
            if (qEnvironmentVariableIsSet(name))
                FSaved.append({name, qgetenv(name)});
        }
        clear();
    }
    ~ProxyVariablesGuard()
    {
        clear();
        for (const auto &[name, value] : FSaved)
            qputenv(name, value);
    }
    void clear()
    {
        for (const char *name : ProxyVariables)
            qunsetenv(name);
    }

private:
    QList<std::pair<const char *, QByteArray>> FSaved;
};

// A loopback port on which nothing listens, held for the object's lifetime
// so that no server started meanwhile can take it.
class ClosedPort
{
public:
    ClosedPort()
        : FSocket(socket(AF_INET, SOCK_STREAM, 0))
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        bind(FSocket, reinterpret_cast<sockaddr *>(&address), length);
        getsockname(FSocket, reinterpret_cast<sockaddr *>(&address), &length);
        FPort = ntohs(address.sin_port);
    }
    ~ClosedPort() { close(FSocket); }
    ClosedPort(const ClosedPort &) = delete;
    ClosedPort &operator=(const ClosedPort &) = delete;

    // A proxy variable naming it.
    QByteArray proxyUrl() const { return "http://127.0.0.1:" + QByteArray::number(FPort); }

private:
    int FSocket;
    quint16 FPort = 0;
};

const QString DeadProxyText = QStringLiteral("Proxy error: cannot connect to the proxy server 127.0.0.1.\r\n"
                                             "Connection refused.");


class HTTPProxyTest : public ::testing::Test
{
protected:
    HTTPProxyTest()
    {
        trusted.trust(server.certificatePem());
        watch(*http);
    }

    void watch(THTTPClient &client)
    {
        client.OnWorkBegin = [this](THTTPClient &, TWorkMode, qint64 max) { events << QStringLiteral("begin %1").arg(max); };
        client.OnWork = [this](THTTPClient &, TWorkMode, qint64 count) { events << QStringLiteral("work %1").arg(count); };
    }

    // A client of its own, so that no kept connection decides the way.
    void newClient()
    {
        http = std::make_unique<THTTPClient>();
        watch(*http);
    }

    QByteArray get(const QString &url)
    {
        QBuffer buffer;
        buffer.open(QIODevice::ReadWrite);
        http->Get(url, buffer);
        return buffer.data();
    }

    // How the client names the server in CONNECT.
    QString target() const { return QStringLiteral("localhost:%1").arg(server.port()); }

    ProxyVariablesGuard variables;
    ClosedPort closed;
    const QByteArray deadProxy = closed.proxyUrl();
    TScriptedTlsServer server;
    TTrustedCertificate trusted;
    TConnectProxy proxy;
    QStringList events;
    std::unique_ptr<THTTPClient> http = std::make_unique<THTTPClient>();
};

} // namespace

TEST_F(HTTPProxyTest, CatalogueAndPackageGoThroughTheTunnel)
{
    qputenv("https_proxy", proxy.url());
    const QByteArray catalogue = "51563270_V1.2.0.dat;first\r\n";
    QByteArray package(100000, Qt::Uninitialized);
    for (qsizetype i = 0; i < package.size(); ++i)
        package[i] = char(i * 13);
    server.answer(httpAnswer("200 OK", catalogue));
    server.answer(httpAnswer("200 OK", package));

    QStringList lines;
    ASSERT_TRUE(downloadLines(*http, server.url("/Download/qv58link/filelist.txt"), lines));
    EXPECT_EQ(lines, QStringList{"51563270_V1.2.0.dat;first"});
    http->setContentType("application/x-www-form-urlencoded");
    EXPECT_EQ(get(server.url("/Download/qv58link/51563270_V1.2.0.dat")), package);

    // One tunnel, kept open for both requests, which reach the server as
    // they would directly.
    EXPECT_EQ(proxy.tunnels(), QStringList{target()});
    const QList<QByteArray> requests = server.requests();
    ASSERT_EQ(requests.size(), 2);
    const QByteArray host = "Host: " + target().toLatin1() + "\r\n";
    EXPECT_TRUE(requests[0].startsWith("GET /Download/qv58link/filelist.txt HTTP/1.1\r\n" + host));
    EXPECT_TRUE(requests[1].startsWith("GET /Download/qv58link/51563270_V1.2.0.dat HTTP/1.1\r\n" + host));
    EXPECT_TRUE(requests[1].contains("Content-Type: application/x-www-form-urlencoded\r\n"));
    // The proxy's own answer is no body: progress starts only with the server's.
    EXPECT_EQ(events.filter("begin"), (QStringList{QStringLiteral("begin %1").arg(catalogue.size()), "begin 100000"}));
    EXPECT_EQ(events.last(), "work 100000");
    // The request's own header lines are the server's alone.
    ASSERT_EQ(proxy.requests().size(), 1);
    EXPECT_TRUE(proxy.requests()[0].startsWith("CONNECT " + target().toLatin1() + " HTTP/1.1\r\n"));
    EXPECT_FALSE(proxy.requests()[0].contains("Content-Type"));
}

TEST_F(HTTPProxyTest, VariablesAreReadAsTheCurlCommandReadsThem)
{
    const QByteArray live = proxy.url();
    const struct
    {
        const char *name;
        QList<std::pair<const char *, QByteArray>> set;
        bool tunnelled;
    } cases[] = {
        {"https_proxy", {{"https_proxy", live}}, true},
        {"HTTPS_PROXY", {{"HTTPS_PROXY", live}}, true},
        {"all_proxy", {{"all_proxy", live}}, true},
        {"ALL_PROXY", {{"ALL_PROXY", live}}, true},
        {"no scheme", {{"https_proxy", live.mid(7)}}, true},
        {"https_proxy before all_proxy", {{"https_proxy", live}, {"all_proxy", deadProxy}}, true},
        {"lower case before upper case", {{"https_proxy", live}, {"HTTPS_PROXY", deadProxy}}, true},
        {"empty counts as unset", {{"https_proxy", ""}, {"all_proxy", live}}, true},
        {"http_proxy is for plain http only", {{"http_proxy", deadProxy}}, false},
        {"HTTP_PROXY is never read", {{"HTTP_PROXY", deadProxy}}, false},
        {"none", {}, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        variables.clear();
        for (const auto &[name, value] : c.set)
            qputenv(name, value);
        newClient();
        const qsizetype before = proxy.tunnels().size();
        server.answer(httpAnswer("200 OK", "catalogue"));

        EXPECT_EQ(get(server.url("/Download/qv58link/filelist.txt")), "catalogue");
        EXPECT_EQ(proxy.tunnels().size(), before + (c.tunnelled ? 1 : 0));
    }
}

TEST_F(HTTPProxyTest, NoProxyGoesDirect)
{
    const struct
    {
        const char *variable;
        QByteArray value;
        bool direct;
    } cases[] = {
        {"no_proxy", "localhost", true},
        {"NO_PROXY", "localhost", true},
        {"no_proxy", "example.com, LOCALHOST", true},
        {"no_proxy", ".localhost", true},
        {"no_proxy", "*", true},
        {"no_proxy", "example.com", false},
        // A name matches whole or as a domain above the host, not as any tail.
        {"no_proxy", "calhost", false},
    };
    qputenv("https_proxy", deadProxy);
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.variable) + "=" + c.value.toStdString());
        qunsetenv("no_proxy");
        qunsetenv("NO_PROXY");
        qputenv(c.variable, c.value);
        newClient();
        if (c.direct) {
            server.answer(httpAnswer("200 OK", "direct"));
            EXPECT_EQ(get(server.url("/f")), "direct");
        } else {
            EXPECT_EQ(raisedText<EIdProxyError>([&] { get(server.url("/f")); }), DeadProxyText);
        }
    }
}

TEST_F(HTTPProxyTest, RefusingProxyGivesAnErrorNamingTheProxy)
{
    const struct
    {
        const char *name;
        QByteArray answer;
        QByteArray credentials;
        QString text;
    } cases[] = {
        {"forbidden", "HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n", "",
         "Proxy error: the proxy server 127.0.0.1 refused the connection to the download server (it answered 403)."},
        {"credentials wanted", "HTTP/1.1 407 Proxy Authentication Required\r\n"
                               "Proxy-Authenticate: Basic realm=\"corporate\"\r\nContent-Length: 0\r\n\r\n", "",
         "Proxy error: the proxy server 127.0.0.1 asks for a user name and password (it answered 407)."},
        {"credentials refused", "HTTP/1.1 407 Proxy Authentication Required\r\n"
                                "Proxy-Authenticate: Basic realm=\"corporate\"\r\nContent-Length: 0\r\n\r\n",
         "engineer:secret@",
         "Proxy error: the proxy server 127.0.0.1 asks for a user name and password (it answered 407)."},
        {"error page", "HTTP/1.1 502 Bad Gateway\r\nContent-Length: 26\r\n\r\n<html>no way through</html>", "",
         "Proxy error: the proxy server 127.0.0.1 refused the connection to the download server (it answered 502)."},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        TConnectProxy refusing(c.answer);
        qputenv("https_proxy", "http://" + c.credentials + "127.0.0.1:" + QByteArray::number(refusing.port()));
        newClient();
        events.clear();

        const QString text = raisedText<EIdProxyError>([&] { get(server.url("/Download/qv58link/filelist.txt")); });
        EXPECT_EQ(text, c.text);
        // The window would turn these into texts about the server.
        EXPECT_FALSE(text.contains("404") || text.contains("Host not found."));
        EXPECT_EQ(refusing.tunnels(), QStringList{target()});
        EXPECT_TRUE(server.requests().isEmpty());
        EXPECT_TRUE(events.isEmpty());
    }

    qputenv("https_proxy", deadProxy);
    newClient();
    EXPECT_EQ(raisedText<EIdProxyError>([&] { get(server.url("/f")); }), DeadProxyText);
}

TEST_F(HTTPProxyTest, ServerIsStillVerifiedAtTheFarEndOfTheTunnel)
{
    TCertificateRequest otherHost;
    otherHost.dnsNames = {"download.example"};
    otherHost.ipAddresses = {};
    const struct
    {
        const char *name;
        TScriptedServerOptions options;
        bool trustIt;
    } cases[] = {
        {"self-signed, not trusted", {}, false},
        {"issued for another name", {otherHost, false, false}, true},
    };
    qputenv("https_proxy", proxy.url());
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        TScriptedTlsServer impostor(c.options);
        if (c.trustIt)
            trusted.trust(impostor.certificatePem());
        impostor.answer(httpAnswer("200 OK", "firmware"));
        newClient();

        const QString text = raisedText<EIdOSSLConnectError>([&] { get(impostor.url("/f.dat")); });
        EXPECT_TRUE(text.startsWith("Error connecting with SSL.\r\n")) << text.toStdString();
        EXPECT_TRUE(proxy.tunnels().contains(QStringLiteral("localhost:%1").arg(impostor.port())));
        EXPECT_TRUE(impostor.requests().isEmpty());
    }
}
