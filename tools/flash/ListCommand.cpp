#include "tools/flash/ListCommand.h"

#include "probe/PartName.h"
#include "tools/flash/CommandSupport.h"

#include <QJsonObject>

namespace {

const QString Json = QStringLiteral("json");

} // namespace

QString TListCommand::description() const
{
    return QStringLiteral("Every probe found, in discovery order.");
}

QList<QCommandLineOption> TListCommand::options() const
{
    return {QCommandLineOption(Json, QStringLiteral("Writes the probes as a JSON array."))};
}

int TListCommand::run(const QCommandLineParser &parser, TCommandContext &context)
{
    QTextStream &out = context.out;
    const QList<std::shared_ptr<TProbe>> probes = findProbes(context.drives, context.err);
    if (parser.isSet(Json)) {
        QJsonArray array;
        for (const auto &probe : probes) {
            const TQV58LinkConfig &d = probe->details;
            array.append(QJsonObject{{"drive", probe->drive.root}, {"hicId", d.HICID()},
                                     {"partName", partNameOf(d.HICID())}, {"mode", d.mode()},
                                     {"appVersion", d.appVersion()}, {"bootVersion", d.bootVersion()}});
        }
        printJson(out, array);
    } else {
        for (const auto &probe : probes) {
            const TQV58LinkConfig &d = probe->details;
            out << shown(probe->drive.root) << "  HIC ID " << shown(d.HICID()) << "  " << shown(partNameOf(d.HICID()))
                << "  mode " << shown(d.mode()) << "  interface " << shown(d.appVersion()) << "  bootloader "
                << shown(d.bootVersion()) << "\n";
        }
        out.flush();
    }
    if (probes.isEmpty())
        return reportNoProbe(context.err);
    return feOk;
}
