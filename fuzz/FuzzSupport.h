// What the fuzz targets share: the byte-to-text boundary of the wire and the files, and a check
// that stops the run with a message when a property of a parser does not hold.
#pragma once

#include "Cp1252.h"

#include <QString>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

/** @short The fuzzer's bytes as the program sees them after reading them from a socket or a file. */
inline QString textOf(const uint8_t* data, size_t size) {
    return fromCp1252(QByteArrayView(reinterpret_cast<const char*>(data), qsizetype(size)));
}

/** @short Aborts (a crash the fuzzer reports and keeps) when a property does not hold. */
#define FUZZ_CHECK(condition)                                                                                          \
    do {                                                                                                               \
        if (!(condition)) {                                                                                            \
            std::fprintf(stderr, "%s:%d: property does not hold: %s\n", __FILE__, __LINE__, #condition);               \
            std::abort();                                                                                              \
        }                                                                                                              \
    } while (false)
