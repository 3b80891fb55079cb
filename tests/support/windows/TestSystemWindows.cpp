#include "support/TestSystem.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <windows.h>

namespace {

// One job for the whole test process: when the process ends, however it
// ends, the system closes the job's last handle and ends every child in it.
HANDLE testJob()
{
    static const HANDLE job = [] {
        HANDLE created = ::CreateJobObjectW(nullptr, nullptr);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (created)
            ::SetInformationJobObject(created, JobObjectExtendedLimitInformation, &limits, sizeof limits);
        return created;
    }();
    return job;
}

std::wstring native(const QString &path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}

QString systemWords(DWORD error)
{
    wchar_t *text = nullptr;
    const DWORD length = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM
                                              | FORMAT_MESSAGE_IGNORE_INSERTS,
                                          nullptr, error, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    const QString words = QString::fromWCharArray(text, int(length)).trimmed();
    ::LocalFree(text);
    return words;
}

} // namespace

void endWithTheTest(QProcess &process)
{
    QObject::connect(&process, &QProcess::started, &process, [&process] {
        const HANDLE job = testJob();
        HANDLE child = ::OpenProcess(PROCESS_SET_QUOTA | PROCESS_TERMINATE, FALSE, DWORD(process.processId()));
        if (job && child)
            ::AssignProcessToJobObject(job, child);
        if (child)
            ::CloseHandle(child);
    });
}

bool makeSymbolicLink(const QString &target, const QString &link)
{
    const DWORD flags = (QFileInfo(target).isDir() ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0)
        | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE;
    if (!::CreateSymbolicLinkW(native(link).c_str(), native(target).c_str(), flags))
        return false;
    const DWORD attributes = ::GetFileAttributesW(native(link).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool canMakeSymbolicLinks()
{
    static const bool can = [] {
        QTemporaryDir dir;
        return makeSymbolicLink(dir.filePath(QStringLiteral("target")), dir.filePath(QStringLiteral("link")));
    }();
    return can;
}

bool namesAreCaseSensitive()
{
    return false;
}

bool makeHardLink(const QString &existing, const QString &link)
{
    return ::CreateHardLinkW(native(link).c_str(), native(existing).c_str(), nullptr) != 0;
}

bool makeFifo(const QString &)
{
    return false;
}

void setEmptyList(const char *name)
{
    qputenv(name, QByteArray(";"));
}

QString noSuchFileText()
{
    return systemWords(ERROR_FILE_NOT_FOUND);
}

QString noSuchFolderText()
{
    return systemWords(ERROR_PATH_NOT_FOUND);
}

unsigned textCodePage()
{
    return ::GetACP();
}

bool hasSpecialFiles()
{
    return false;
}

TFilesAsNobody::TFilesAsNobody()
    : FActive(false)
{
}

TFilesAsNobody::~TFilesAsNobody() = default;

bool TFilesAsNobody::possible()
{
    return false;
}
