#pragma once

#include <QByteArray>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// A broken promise of the code under test: report it and abort, so libFuzzer
// keeps the input as a crash like any sanitizer report.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);     \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)

// The fuzzer's bytes, not copied: the target must not keep them past the call.
inline QByteArray fuzzBytes(const uint8_t *data, size_t size)
{
    return QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
}
