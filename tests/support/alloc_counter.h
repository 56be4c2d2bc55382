// Counts the program's heap allocations, to show that a step allocates
// nothing (or nothing sized by the input). The unit test binary replaces
// the global operator new to keep the count.
#pragma once

#include <cstddef>

namespace alloc_counter {

struct Totals {
    std::size_t calls = 0;
    std::size_t bytes = 0;
    std::size_t largest = 0;
};

// The totals since the last reset.
Totals since_reset();
void reset();

} // namespace alloc_counter
