#include "common/windows/SystemError.h"

#include <QDir>

#include <windows.h>

QString systemErrorText(unsigned long error)
{
    wchar_t *buffer = nullptr;
    const DWORD length = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM
                                              | FORMAT_MESSAGE_IGNORE_INSERTS,
                                          nullptr, DWORD(error), 0, reinterpret_cast<wchar_t *>(&buffer), 0,
                                          nullptr);
    if (length == 0 || buffer == nullptr)
        return QStringLiteral("System error %1.").arg(error);
    QString text = QString::fromWCharArray(buffer, int(length));
    ::LocalFree(buffer);
    return text.trimmed();
}

QString lastErrorText()
{
    return systemErrorText(::GetLastError());
}

std::wstring nativePath(const QString &path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}
