#ifndef REQUIRE_H
#define REQUIRE_H

#include <cstdio>
#include <cstdlib>

// A failed check must stop the fuzzer with a reproducer, as a crash would.
inline void require(bool ok, const char *what)
{
    if (!ok) {
        std::fprintf(stderr, "check failed: %s\n", what);
        std::abort();
    }
}

#endif // REQUIRE_H
