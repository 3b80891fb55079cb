#include "ProjectVersion.h"
#include "tools/pack/PackTool.h"

#include <QCoreApplication>
#include <cstdio>

namespace {

// Laid out like the other companions' help: what it is, how to call it, the common options.
const char Description[] = "Builds, inspects and extracts QV58-LINK firmware upgrade packages.\n\n";
const char CommonOptions[] = "\nOptions:\n"
                             "  -h, --help     Displays help on commandline options.\n"
                             "  -v, --version  Displays version information.\n";

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    const QStringList arguments = app.arguments().mid(1);
    // Only in the command's place: "build --version VER" is the package's version.
    const QString first = arguments.value(0);
    if (first == QLatin1String("--version") || first == QLatin1String("-v")) {
        out << "qv58link-pack " QV58_PROJECT_VERSION "\n";
        return peOk;
    }
    if (first == QLatin1String("--help") || first == QLatin1String("-h") || first == QLatin1String("help")) {
        out << Description;
        const int code = runPackTool({first}, out, err);
        out << CommonOptions;
        return code;
    }
    return runPackTool(arguments, out, err);
}
