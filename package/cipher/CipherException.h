#pragma once

#include "common/Exceptions.h"

// A failure of the package cipher: a payload that does not frame, a key the
// crypto library refuses, an unsupported mode.
class ECipherException : public Exception
{
public:
    explicit ECipherException(const QString &message);

    // The payload is too short for its framing or its final block is damaged.
    static ECipherException invalidFileFormat();
};
