// The check of the fuzz targets: a broken invariant says which one and where, then crashes, so
// that libFuzzer stops and keeps the input.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                              \
    do {                                                                                   \
        if (!(condition)) {                                                                \
            std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__,      \
                         #condition);                                                      \
            std::abort();                                                                  \
        }                                                                                  \
    } while (false)
