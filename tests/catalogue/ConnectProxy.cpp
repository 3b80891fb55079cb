#include "ConnectProxy.h"

#include "LoopbackListener.h"

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int PollMs = 50;
constexpr qsizetype HeadLimit = 16384;

bool sendAll(int fd, const char *data, qsizetype size)
{
    while (size > 0) {
        const ssize_t sent = ::send(fd, data, size_t(size), MSG_NOSIGNAL);
        if (sent <= 0)
            return false;
        data += sent;
        size -= sent;
    }
    return true;
}

int connectToLoopback(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

TConnectProxy::TConnectProxy(const QByteArray &refusal)
    : FRefusal(refusal)
{
    std::signal(SIGPIPE, SIG_IGN);
    FListener = listenOnLoopback(FPort);
    FThread = std::thread([this] { run(); });
}

TConnectProxy::~TConnectProxy()
{
    FStopping = true;
    FThread.join();
    for (std::thread &connection : FConnections)
        connection.join();
    ::close(FListener);
}

QByteArray TConnectProxy::url() const
{
    return "http://127.0.0.1:" + QByteArray::number(FPort);
}

QStringList TConnectProxy::tunnels() const
{
    std::lock_guard lock(FLock);
    return FTunnels;
}

QList<QByteArray> TConnectProxy::requests() const
{
    std::lock_guard lock(FLock);
    return FRequests;
}

void TConnectProxy::run()
{
    while (!FStopping) {
        pollfd listener{FListener, POLLIN, 0};
        if (::poll(&listener, 1, PollMs) <= 0)
            continue;
        const int client = ::accept(FListener, nullptr, nullptr);
        if (client < 0)
            continue;
        // Only this thread touches the list; the destructor joins them after it.
        FConnections.emplace_back([this, client] {
            serve(client);
            ::close(client);
        });
    }
}

void TConnectProxy::serve(int client)
{
    QByteArray head;
    char block[4096];
    while (!head.contains("\r\n\r\n")) {
        pollfd readable{client, POLLIN, 0};
        if (FStopping || head.size() > HeadLimit)
            return;
        if (::poll(&readable, 1, PollMs) <= 0)
            continue;
        const ssize_t got = ::recv(client, block, sizeof block, 0);
        if (got <= 0)
            return;
        head.append(block, got);
    }
    const qsizetype end = head.indexOf("\r\n\r\n") + 4;
    const QByteArray early = head.mid(end);
    head.truncate(end);

    // "CONNECT host:port HTTP/1.1"
    const QList<QByteArray> request = head.left(head.indexOf("\r\n")).split(' ');
    const QByteArray target = request.value(1);
    const QByteArray host = target.left(target.lastIndexOf(':'));
    bool portOk = false;
    const quint16 port = target.mid(target.lastIndexOf(':') + 1).toUShort(&portOk);
    {
        std::lock_guard lock(FLock);
        FRequests.append(head);
        FTunnels.append(QString::fromLatin1(target));
    }
    if (!FRefusal.isEmpty()) {
        sendAll(client, FRefusal.constData(), FRefusal.size());
        return;
    }
    if (request.value(0) != "CONNECT" || !portOk || (host != "localhost" && host != "127.0.0.1")) {
        const QByteArray refused = "HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n";
        sendAll(client, refused.constData(), refused.size());
        return;
    }
    const int server = connectToLoopback(port);
    if (server < 0) {
        const QByteArray failed = "HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\n\r\n";
        sendAll(client, failed.constData(), failed.size());
        return;
    }
    const QByteArray established = "HTTP/1.1 200 Connection established\r\n\r\n";
    if (sendAll(client, established.constData(), established.size())
        && sendAll(server, early.constData(), early.size())) {
        // Relay until either side closes.
        pollfd ends[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
        bool open = true;
        while (open && !FStopping) {
            if (::poll(ends, 2, PollMs) <= 0)
                continue;
            for (int i = 0; i < 2 && open; ++i) {
                if (!(ends[i].revents & (POLLIN | POLLHUP | POLLERR)))
                    continue;
                const ssize_t got = ::recv(ends[i].fd, block, sizeof block, 0);
                open = got > 0 && sendAll(ends[1 - i].fd, block, got);
            }
        }
    }
    ::close(server);
}
