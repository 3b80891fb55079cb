#include "common/ProcessStart.h"
#include "tools/pack/PackTool.h"

#include <QCoreApplication>

int main(int argc, char **argv)
{
    prepareProcess();
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    return runPackTool(app.arguments().mid(1), out, err);
}
