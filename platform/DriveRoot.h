#pragma once

#include <QString>

// A drive's root ends with "/", so that a file's path is root + name.
inline QString withTrailingSlash(QString path)
{
    if (!path.endsWith(u'/'))
        path += u'/';
    return path;
}
