#pragma once

// The system's side of the download client's connection; only
// catalogue/HTTPClient.cpp includes this.

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

} // namespace socketSystem
