#include "tools/pack/PackTool.h"

#include "common/Exceptions.h"
#include "common/FileIO.h"
#include "package/BinFile.h"
#include "package/PackageBuilder.h"
#include "package/UpgradeFile.h"

#include <QBuffer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QSaveFile>

namespace {

const char kUsage[] =
    "usage: qv58link-pack build --image IMAGE --mode MODE --version VER --part NAME --date TEXT -o OUT.dat\n"
    "       qv58link-pack inspect [--json] FILE.dat\n"
    "       qv58link-pack extract FILE.dat -o IMAGE\n"
    "exit codes: 0 done, 1 the package is not valid, 2 failed\n";

// Bad command lines; reported like every other failure.
class EUsageError : public Exception
{
public:
    explicit EUsageError(const QString &message)
        : Exception(message)
    {
    }
};

struct TCommandLine
{
    QMap<QString, QString> values;
    QStringList flags;
    QStringList files;
};

// Options take their value from the next argument or after "=".
TCommandLine parse(const QStringList &arguments, const QStringList &valueOptions, const QStringList &flagOptions)
{
    TCommandLine line;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        QString argument = arguments[i];
        if (!argument.startsWith('-') || argument == "-") {
            line.files << argument;
            continue;
        }
        QString value;
        bool hasValue = false;
        const qsizetype equals = argument.indexOf('=');
        if (argument.startsWith("--") && equals > 0) {
            value = argument.mid(equals + 1);
            argument.truncate(equals);
            hasValue = true;
        }
        if (flagOptions.contains(argument) && !hasValue) {
            line.flags << argument;
        } else if (valueOptions.contains(argument)) {
            if (line.values.contains(argument))
                throw EUsageError(QStringLiteral("option %1 is given twice").arg(argument));
            if (!hasValue) {
                if (++i == arguments.size())
                    throw EUsageError(QStringLiteral("option %1 needs a value").arg(argument));
                value = arguments[i];
            }
            line.values.insert(argument, value);
        } else {
            throw EUsageError(QStringLiteral("unknown option %1").arg(argument));
        }
    }
    return line;
}

QString required(const TCommandLine &line, const QString &option)
{
    if (!line.values.contains(option))
        throw EUsageError(QStringLiteral("missing option %1").arg(option));
    return line.values.value(option);
}

QString singleFile(const TCommandLine &line)
{
    if (line.files.size() != 1)
        throw EUsageError(line.files.isEmpty() ? QStringLiteral("missing package file")
                                               : QStringLiteral("one package file expected, got %1").arg(line.files.size()));
    return line.files.first();
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
    const TCommandLine line =
        parse(arguments, {"--image", "--mode", "--version", "--part", "--date", "-o"}, {});
    if (!line.files.isEmpty())
        throw EUsageError(QStringLiteral("unexpected argument %1").arg(line.files.first()));
    const QString imageName = required(line, "--image");
    const QString mode = required(line, "--mode");
    const QString version = required(line, "--version");
    const QString part = required(line, "--part");
    const QString date = required(line, "--date");
    const QString output = required(line, "-o");
    writeAtomically(output, buildPackage(readWholeFile(imageName), mode, version, part, date));
    return peOk;
}

int inspect(const QStringList &arguments, QTextStream &out)
{
    const TCommandLine line = parse(arguments, {}, {"--json"});
    const bool json = line.flags.contains("--json");
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
    const TCommandLine line = parse(arguments, {"-o"}, {});
    const QString fileName = singleFile(line);
    const QString output = required(line, "-o");
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
    const QString command = arguments.value(0);
    const QStringList rest = arguments.mid(1);
    try {
        if (command == "build")
            return build(rest);
        if (command == "inspect")
            return inspect(rest, out);
        if (command == "extract")
            return extract(rest, err);
        if (command == "help" || command == "--help" || command == "-h") {
            out << kUsage;
            return peOk;
        }
        throw EUsageError(command.isEmpty() ? QStringLiteral("missing command (build, inspect or extract)")
                                            : QStringLiteral("unknown command %1").arg(command));
    } catch (const Exception &e) {
        QString message = e.message();
        message.replace('\n', ' ');
        err << "qv58link-pack: " << message << '\n';
        return peFailed;
    }
}
