#include "catalogue/SocketSystem.h"

#include "common/windows/SystemError.h"

#include <winsock2.h>
#include <ws2tcpip.h>

namespace socketSystem {

QString errorText(int error)
{
    // Winsock's codes have their words in the system's message table.
    QString text = systemErrorText(static_cast<unsigned long>(error));
    if (!text.endsWith(u'.'))
        text += u'.';
    return text;
}

int timedOutError()
{
    return WSAETIMEDOUT;
}

bool hasPeer(curl_socket_t socket)
{
    sockaddr_storage peer {};
    int length = sizeof peer;
    return socket != CURL_SOCKET_BAD && ::getpeername(socket, reinterpret_cast<sockaddr *>(&peer), &length) == 0;
}

void adviseLargeBuffer(char *data, qsizetype capacity)
{
    Q_UNUSED(data);
    Q_UNUSED(capacity);
}

bool parseIPv4(const QString &text, quint32 &address)
{
    in_addr parsed {};
    if (::InetPtonW(AF_INET, reinterpret_cast<const wchar_t *>(text.utf16()), &parsed) != 1)
        return false;
    address = ntohl(parsed.s_addr);
    return true;
}

} // namespace socketSystem
