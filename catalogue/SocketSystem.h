#pragma once

// The system's side of the download client's connection; nothing outside
// the catalogue folder includes this.

#include <QString>
#include <QtGlobal>
#include <curl/curl.h>

namespace socketSystem {

// The system's words for a socket error code, ending with ".".
QString errorText(int error);

// The code the system gives a connection that timed out.
int timedOutError();

// Whether the socket is connected to a peer: the server has accepted it.
bool hasPeer(curl_socket_t socket);

// Told once a buffer has grown to take a large body; a hint, never required.
void adviseLargeBuffer(char *data, qsizetype capacity);

// Reads a dotted IPv4 address as the system does, in host byte order.
bool parseIPv4(const QString &text, quint32 &address);

} // namespace socketSystem
