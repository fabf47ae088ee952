#pragma once

#include <cstdio>
#include <cstdlib>

// An invariant the fuzzed code broke: a finding, so stop with a trace like a sanitizer does.
#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: broken: %s\n", __FILE__, __LINE__, #condition);       \
            std::abort();                                                                      \
        }                                                                                      \
    } while (false)
