#include "catalogue/SocketSystem.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <sys/mman.h>
#include <sys/socket.h>

namespace socketSystem {

QString errorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error)) + u'.';
}

int timedOutError()
{
    return ETIMEDOUT;
}

bool hasPeer(curl_socket_t socket)
{
    sockaddr_storage peer;
    socklen_t length = sizeof peer;
    return socket != CURL_SOCKET_BAD && getpeername(socket, reinterpret_cast<sockaddr *>(&peer), &length) == 0;
}

void adviseLargeBuffer(char *data, qsizetype capacity)
{
#ifdef MADV_HUGEPAGE
    // For a large body, touching fresh memory one 4 KiB page at a time costs
    // more than receiving it; a hint for huge pages takes most of that away.
    constexpr quintptr HugePage = 2 * 1024 * 1024;
    const quintptr begin = (quintptr(data) + HugePage - 1) & ~(HugePage - 1);
    const quintptr end = (quintptr(data) + quintptr(capacity)) & ~(HugePage - 1);
    if (end > begin)
        madvise(reinterpret_cast<void *>(begin), end - begin, MADV_HUGEPAGE);
#else
    Q_UNUSED(data);
    Q_UNUSED(capacity);
#endif
}

bool parseIPv4(const QString &text, quint32 &address)
{
    in_addr parsed{};
    if (inet_pton(AF_INET, text.toLatin1().constData(), &parsed) != 1)
        return false;
    address = ntohl(parsed.s_addr);
    return true;
}

} // namespace socketSystem
