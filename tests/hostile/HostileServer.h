#pragma once

#include "HostileRun.h"

#include "catalogue/ScriptedTlsServer.h"

// The catalogue of a real site: one version for the probe.
inline QByteArray goodCatalogue()
{
    return httpAnswer("200 OK", "51563270_V1.10;Faster SWD\r\n");
}

// A probe on a drive and a download server in this process that answers as
// scripted; the commands trust its certificate and download from it.
class HostileServer : public HostileRun
{
protected:
    HostileServer()
    {
        addDrive(QStringLiteral("A"));
        certificateFile = path(QStringLiteral("server.pem"));
        writeWholeFile(certificateFile, server.certificatePem());
        downloadUrl = server.url(QStringLiteral("/Download/qv58link/"));
    }

    // The request lines the server was sent, in order.
    QList<QByteArray> requestLines() const
    {
        QList<QByteArray> lines;
        for (const QByteArray &request : server.requests())
            lines.append(request.left(request.indexOf("\r\n")));
        return lines;
    }

    TScriptedTlsServer server;
};
