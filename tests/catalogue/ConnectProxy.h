#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

// An HTTP proxy on 127.0.0.1 for transport tests. It answers CONNECT by
// opening a tunnel to the named port on this machine (never anywhere else)
// and relaying bytes both ways until either side closes, and logs each
// tunnel's target as it was asked for ("localhost:4433"). With a refusal it
// sends that answer instead of opening the tunnel, then closes.
class TConnectProxy
{
public:
    explicit TConnectProxy(const QByteArray &refusal = {});
    ~TConnectProxy();
    TConnectProxy(const TConnectProxy &) = delete;
    TConnectProxy &operator=(const TConnectProxy &) = delete;

    quint16 port() const { return FPort; }
    // "http://127.0.0.1:<port>", as a proxy variable names it.
    QByteArray url() const;

    QStringList tunnels() const;
    // The header blocks of the CONNECT requests, exactly as received.
    QList<QByteArray> requests() const;

private:
    void run();
    void serve(int client);

    QByteArray FRefusal;
    int FListener = -1;
    quint16 FPort = 0;
    std::atomic<bool> FStopping{false};
    mutable std::mutex FLock;
    QStringList FTunnels;
    QList<QByteArray> FRequests;
    std::vector<std::thread> FConnections;
    std::thread FThread;
};
