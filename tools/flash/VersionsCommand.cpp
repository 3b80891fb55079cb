#include "tools/flash/VersionsCommand.h"

#include "catalogue/HTTPClient.h"
#include "tools/flash/CommandSupport.h"
#include "upgrade/CatalogueEntries.h"

#include <QJsonObject>

namespace {

const QString Json = QStringLiteral("json");

} // namespace

QString TVersionsCommand::description() const
{
    return QStringLiteral("The published versions for the probe's HIC ID, in catalogue order.");
}

QList<QCommandLineOption> TVersionsCommand::options() const
{
    return {probeOption(), QCommandLineOption(Json, QStringLiteral("Writes the versions as a JSON array."))};
}

int TVersionsCommand::run(const QCommandLineParser &parser, TCommandContext &context)
{
    QTextStream &out = context.out;
    const QList<std::shared_ptr<TProbe>> probes =
        chosenProbes(parser.value(probeOption()), false, context.drives, context.err);
    if (probes.isEmpty())
        return reportNoProbe(context.err);
    THTTPClient http;
    TCatalogue catalogue(http);
    const QList<TVersionInfo> entries = catalogue.entriesFor(probes.first()->details.HICID());
    if (parser.isSet(Json)) {
        QJsonArray array;
        for (const TVersionInfo &entry : entries)
            array.append(QJsonObject{{"hicId", entry.HICID}, {"version", entry.version}, {"fileName", entry.fileName},
                                     {"descript", entry.descript}});
        printJson(out, array);
    } else {
        // One line per entry: the description's own line breaks become blanks.
        for (const TVersionInfo &entry : entries)
            out << shown(entry.version) << "  " << shown(entry.fileName) << ".dat  "
                << shown(QString(entry.descript).replace(QStringLiteral("\r\n"), QStringLiteral(" "))) << "\n";
        out.flush();
    }
    return feOk;
}
