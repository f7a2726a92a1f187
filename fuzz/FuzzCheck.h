#pragma once

#include <cstdio>
#include <cstdlib>

// A broken property is a finding: say which, then abort so that libFuzzer keeps the input.
#define FUZZ_CHECK(condition, what)                                                          \
    do {                                                                                     \
        if (!(condition)) {                                                                  \
            std::fprintf(stderr, "property broken: %s (%s:%d)\n", what, __FILE__, __LINE__); \
            std::abort();                                                                    \
        }                                                                                    \
    } while (false)
