#include "tools/pack/PackTool.h"

#include "ProjectVersion.h"

#include "common/Exceptions.h"
#include "common/FileIO.h"
#include "package/BinFile.h"
#include "package/PackageBuilder.h"
#include "package/UpgradeFile.h"

#include <QBuffer>
#include <QCommandLineParser>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace {

// Laid out like the other companions' help: what it is, how to call it, the common options.
const char Description[] = "Builds, inspects and extracts QV58-LINK firmware upgrade packages.\n\n";
const char kUsage[] =
    "usage: qv58link-pack build --image IMAGE --mode MODE --version VER --part NAME --date TEXT -o OUT.dat\n"
    "       qv58link-pack inspect [--json] FILE.dat\n"
    "       qv58link-pack extract FILE.dat -o IMAGE\n"
    "exit codes: 0 done, 1 the package is not valid, 2 failed\n";
const char CommonOptions[] = "\nOptions:\n"
                             "  -h, --help     Displays help on commandline options.\n"
                             "  -v, --version  Displays version information.\n";

// Bad command lines; reported like every other failure.
class EUsageError : public Exception
{
public:
    explicit EUsageError(const QString &message)
        : Exception(message)
    {
    }
};

// The spelling of an option on the command line: "-o", "--mode".
QString spelled(const QString &name)
{
    return (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
}

// What QCommandLineParser refused, in this tool's words: an option it does
// not know, a value given to an option without one, or a value missing after
// the last argument.
QString refusal(const QCommandLineParser &parser, const QStringList &arguments, const QList<QCommandLineOption> &options)
{
    const QStringList unknown = parser.unknownOptionNames();
    for (const QString &argument : arguments) {
        if (argument == QLatin1String("--"))
            break;
        if (!argument.startsWith(u'-') || argument == QLatin1String("-"))
            continue;
        const qsizetype equals = argument.indexOf(u'=');
        const QString option = equals > 0 ? argument.left(equals) : argument;
        const QString name = option.mid(option.startsWith(QStringLiteral("--")) ? 2 : 1);
        if (unknown.contains(name))
            return QStringLiteral("unknown option %1").arg(option);
        for (const QCommandLineOption &known : options) {
            if (equals > 0 && known.valueName().isEmpty() && known.names().contains(name))
                return QStringLiteral("option %1 takes no value").arg(option);
        }
    }
    return QStringLiteral("option %1 needs a value").arg(arguments.isEmpty() ? QString() : arguments.last());
}

// Options take their value from the next argument or after "="; each is
// given at most once.
void parse(QCommandLineParser &parser, const QStringList &arguments, const QList<QCommandLineOption> &options)
{
    // One dash names a whole option, as "-o" does, never a run of letters.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOptions(options);
    if (!parser.parse(QStringList{QStringLiteral("qv58link-pack")} + arguments))
        throw EUsageError(refusal(parser, arguments, options));
    for (const QCommandLineOption &option : options) {
        if (parser.values(option).size() > 1)
            throw EUsageError(QStringLiteral("option %1 is given twice").arg(spelled(option.names().first())));
    }
}

QCommandLineOption valueOption(const char *name, const char *valueName)
{
    return QCommandLineOption(QString::fromLatin1(name), QString(), QString::fromLatin1(valueName));
}

QString required(const QCommandLineParser &parser, const QCommandLineOption &option)
{
    if (!parser.isSet(option))
        throw EUsageError(QStringLiteral("missing option %1").arg(spelled(option.names().first())));
    return parser.value(option);
}

QString singleFile(const QCommandLineParser &parser)
{
    const QStringList files = parser.positionalArguments();
    if (files.size() != 1)
        throw EUsageError(files.isEmpty() ? QStringLiteral("missing package file")
                                          : QStringLiteral("one package file expected, got %1").arg(files.size()));
    return files.first();
}

// A failed write leaves any earlier file of that name as it was.
void writeAtomically(const QString &fileName, const QByteArray &data)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        throw EFCreateError(fileName, file.errorString());
    if (file.write(data) != data.size() || !file.commit())
        throw Exception(QStringLiteral("Cannot write file \"%1\". %2").arg(fileName, file.errorString()));
}

QString imageMd5(const TUpgradeFile &file)
{
    QBuffer buffer;
    buffer.setData(file.image());
    buffer.open(QIODevice::ReadOnly);
    return TBinFile::md5Stream(buffer);
}

int build(const QStringList &arguments)
{
    const QCommandLineOption image = valueOption("image", "IMAGE");
    const QCommandLineOption mode = valueOption("mode", "MODE");
    const QCommandLineOption version = valueOption("version", "VER");
    const QCommandLineOption part = valueOption("part", "NAME");
    const QCommandLineOption date = valueOption("date", "TEXT");
    const QCommandLineOption output = valueOption("o", "OUT.dat");
    QCommandLineParser line;
    parse(line, arguments, {image, mode, version, part, date, output});
    if (!line.positionalArguments().isEmpty())
        throw EUsageError(QStringLiteral("unexpected argument %1").arg(line.positionalArguments().first()));
    const QString imageName = required(line, image);
    const QString modeText = required(line, mode);
    const QString versionText = required(line, version);
    const QString partName = required(line, part);
    const QString dateText = required(line, date);
    const QString outputName = required(line, output);
    writeAtomically(outputName, buildPackage(readWholeFile(imageName), modeText, versionText, partName, dateText));
    return peOk;
}

int inspect(const QStringList &arguments, QTextStream &out)
{
    const QCommandLineOption jsonOption(QStringLiteral("json"));
    QCommandLineParser line;
    parse(line, arguments, {jsonOption});
    const bool json = line.isSet(jsonOption);
    const QString fileName = singleFile(line);
    try {
        const TUpgradeFile file(fileName);
        if (json) {
            QJsonObject object{{"valid", file.valid()},     {"mode", file.mode()},
                               {"version", file.version()}, {"partName", file.partName()},
                               {"md5", file.md5()},         {"crDate", file.crDate()}};
            if (file.valid()) {
                object.insert("imageMd5", imageMd5(file));
                object.insert("imageSize", double(file.image().size()));
            }
            out << QJsonDocument(object).toJson(QJsonDocument::Compact) << '\n';
        } else {
            out << "valid:     " << (file.valid() ? "yes" : "no") << '\n'
                << "mode:      " << file.mode() << '\n'
                << "version:   " << file.version() << '\n'
                << "partName:  " << file.partName() << '\n'
                << "md5:       " << file.md5() << '\n'
                << "crDate:    " << file.crDate() << '\n';
            if (file.valid())
                out << "imageMd5:  " << imageMd5(file) << '\n'
                    << "imageSize: " << file.image().size() << '\n';
        }
        return file.valid() ? peOk : peNotValid;
    } catch (const Exception &e) {
        if (json)
            out << QJsonDocument(QJsonObject{{"error", e.message()}}).toJson(QJsonDocument::Compact) << '\n';
        throw;
    }
}

int extract(const QStringList &arguments, QTextStream &err)
{
    const QCommandLineOption outputOption = valueOption("o", "IMAGE");
    QCommandLineParser line;
    parse(line, arguments, {outputOption});
    const QString fileName = singleFile(line);
    const QString output = required(line, outputOption);
    const TUpgradeFile file(fileName);
    if (!file.valid()) {
        err << "qv58link-pack: " << fileName << " is not a valid package\n";
        return peNotValid;
    }
    writeAtomically(output, file.image());
    return peOk;
}

} // namespace

int runPackTool(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    try {
        // Options before the command are the tool's own; from the command on
        // they are the command's: "build --version VER" is the package's version.
        const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                      QStringLiteral("Displays help on commandline options."));
        const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                         QStringLiteral("Displays version information."));
        QCommandLineParser top;
        top.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
        parse(top, arguments, {help, version});
        const QString command = top.positionalArguments().value(0);
        if (top.isSet(help) || command == "help") {
            out << Description << kUsage << CommonOptions;
            return peOk;
        }
        if (top.isSet(version)) {
            out << "qv58link-pack " QV58_PROJECT_VERSION "\n";
            return peOk;
        }
        const QStringList rest = top.positionalArguments().mid(1);
        if (command == "build")
            return build(rest);
        if (command == "inspect")
            return inspect(rest, out);
        if (command == "extract")
            return extract(rest, err);
        throw EUsageError(command.isEmpty() ? QStringLiteral("missing command (build, inspect or extract)")
                                            : QStringLiteral("unknown command %1").arg(command));
    } catch (const Exception &e) {
        QString message = e.message();
        message.replace('\n', ' ');
        err << "qv58link-pack: " << message << '\n';
        return peFailed;
    }
}
