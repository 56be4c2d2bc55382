#include "support/alloc_counter.h"

#include <cstdlib>
#include <new>

namespace {
alloc_counter::Totals g_totals;
}

namespace alloc_counter {
Totals since_reset() { return g_totals; }
void reset() { g_totals = Totals{}; }
} // namespace alloc_counter

void* operator new(std::size_t size)
{
    ++g_totals.calls;
    g_totals.bytes += size;
    if (size > g_totals.largest)
        g_totals.largest = size;
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}

void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
