#include "support/TestSystem.h"

#include <QFile>

#include <csignal>
#include <sys/fsuid.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

void endWithTheTest(QProcess &process)
{
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
}

bool makeSymbolicLink(const QString &target, const QString &link)
{
    return QFile::link(target, link);
}

bool canMakeSymbolicLinks()
{
    return true;
}

bool namesAreCaseSensitive()
{
    return true;
}

bool makeHardLink(const QString &existing, const QString &link)
{
    return ::link(QFile::encodeName(existing).constData(), QFile::encodeName(link).constData()) == 0;
}

bool makeFifo(const QString &path)
{
    return ::mkfifo(QFile::encodeName(path).constData(), 0644) == 0;
}

void setEmptyList(const char *name)
{
    qputenv(name, QByteArray(""));
}

QString noSuchFileText()
{
    return QStringLiteral("No such file or directory");
}

QString noSuchFolderText()
{
    return noSuchFileText();
}

unsigned textCodePage()
{
    return 65001;
}

bool hasSpecialFiles()
{
    return true;
}

TFilesAsNobody::TFilesAsNobody()
    : FActive(::geteuid() == 0)
{
    if (FActive)
        ::setfsuid(65534);
}

TFilesAsNobody::~TFilesAsNobody()
{
    if (FActive)
        ::setfsuid(0);
}

bool TFilesAsNobody::possible()
{
    return true;
}
