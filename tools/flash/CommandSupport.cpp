#include "tools/flash/CommandSupport.h"

#include "common/ErrorText.h"
#include "tools/flash/Command.h"
#include "upgrade/ProbeScan.h"

#include <QDir>
#include <QJsonDocument>

QString messageOf(const std::exception_ptr &error)
{
    return userMessageOf(error);
}

QString shown(const QString &text)
{
    QString result;
    result.reserve(text.size());
    for (const QChar c : text) {
        const char16_t code = c.unicode();
        if (code >= 0x20 && code != 0x7f && (code < 0x80 || code > 0x9f)) {
            result += c;
            continue;
        }
        switch (code) {
        case u'\t':
            result += QStringLiteral("\\t");
            break;
        case u'\n':
            result += QStringLiteral("\\n");
            break;
        case u'\r':
            result += QStringLiteral("\\r");
            break;
        default:
            result += QStringLiteral("\\x%1").arg(uint(code), 2, 16, QLatin1Char('0'));
        }
    }
    return result;
}

QList<std::shared_ptr<TProbe>> findProbes(IDriveList &drives, QTextStream &err)
{
    const TProbesPresent present = probesPresent(drives);
    for (const TRefusedDrive &refused : present.refused) {
        err << "qv58link-flash: " << shown(refused.drive.root) << ": not a probe: " << shown(refused.reason) << "\n";
        err.flush();
    }
    return present.probes;
}

namespace {

QString rootOf(const QString &folder)
{
    QString root = QDir::cleanPath(QDir::current().absoluteFilePath(folder));
    if (!root.endsWith(u'/'))
        root += u'/';
    return root;
}

} // namespace

QList<std::shared_ptr<TProbe>> chosenProbes(const QString &probeDrive, bool all, IDriveList &drives,
                                            QTextStream &err)
{
    QList<std::shared_ptr<TProbe>> probes = findProbes(drives, err);
    if (!probeDrive.isEmpty()) {
        const QString root = rootOf(probeDrive);
        for (const auto &probe : probes) {
            if (probe.get()->drive.root == root)
                return {probe};
        }
        return {};
    }
    if (all || probes.isEmpty())
        return probes;
    return {probes.first()};
}

int reportNoProbe(QTextStream &err)
{
    err << "qv58link-flash: " << probeNotDetectedText() << "\n";
    return feNoProbe;
}

void printJson(QTextStream &out, const QJsonArray &array)
{
    out << QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Indented));
    out.flush();
}

TProgressBoard::TProgressBoard(QTextStream &out, bool terminal, const QStringList &drives)
    : FOut(out)
    , FTerminal(terminal)
    , FStates(drives.size())
{
    // The board's own escape sequences are the only ones it writes.
    for (const QString &drive : drives)
        FDrives.append(shown(drive));
    if (FTerminal) {
        for (const QString &drive : FDrives)
            FOut << drive << "  waiting\n";
        FOut.flush();
    }
}

void TProgressBoard::finish(int probe, bool ok, const QString &message)
{
    if (FTerminal)
        show(probe, ok ? message : QStringLiteral("fail: ") + message);
}

void TProgressBoard::show(int probe, const QString &text)
{
    const std::lock_guard lock(FMutex);
    FStates[probe] = shown(text);
    if (!FTerminal) {
        FOut << FDrives.at(probe) << ": " << FStates.at(probe) << "\n";
    } else {
        // Back to the first probe's line, then every line afresh.
        FOut << "\x1b[" << FDrives.size() << "F";
        for (qsizetype i = 0; i < FDrives.size(); ++i)
            FOut << "\x1b[2K" << FDrives.at(i) << "  " << FStates.at(i) << "\n";
    }
    FOut.flush();
}

QCommandLineOption probeOption()
{
    return QCommandLineOption(QStringLiteral("probe"),
                              QStringLiteral("The probe whose drive is DRIVE; without it, the first probe found."),
                              QStringLiteral("DRIVE"));
}
