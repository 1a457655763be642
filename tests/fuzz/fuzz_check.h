// Shared by the fuzz targets: a check that stops the run (and fails the corpus
// replay) when a property of the code under test does not hold.
#pragma once

#include <cstdio>
#include <cstdlib>

#define TARSEL_FUZZ_CHECK(condition)                                                              \
    do {                                                                                          \
        if (!(condition)) {                                                                       \
            std::fprintf(stderr, "%s:%d: property does not hold: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                         \
        }                                                                                         \
    } while (false)
