#pragma once

#include <sys/fsuid.h>
#include <unistd.h>

// Root reads and writes every file whatever its permissions; while this
// lives, file access from this thread is checked as for "nobody", so a
// read-only folder or an unreadable file refuses root too.
class TFilesAsNobody
{
public:
    TFilesAsNobody()
        : FActive(::geteuid() == 0)
    {
        if (FActive)
            ::setfsuid(65534);
    }
    ~TFilesAsNobody()
    {
        if (FActive)
            ::setfsuid(0);
    }
    TFilesAsNobody(const TFilesAsNobody &) = delete;
    TFilesAsNobody &operator=(const TFilesAsNobody &) = delete;

private:
    bool FActive;
};
