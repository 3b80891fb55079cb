#pragma once

// Shared by the Windows side of every library; nothing else includes this.

#include <QString>
#include <string>

// The system's words for a Win32 or Winsock error code, without the line
// break the system puts after them.
QString systemErrorText(unsigned long error);

// The system's words for the calling thread's last error.
QString lastErrorText();

// A path as the Win32 calls take it, with backslashes.
std::wstring nativePath(const QString &path);
