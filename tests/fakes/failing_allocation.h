// Running out of memory on purpose: the global allocation functions of the unit tests are
// replaced, and can be told to fail once.
#pragma once

#include <cstddef>

namespace sp::fakes {

// After `skipped` allocations of at least `bytes` bytes, the next one throws std::bad_alloc;
// later ones succeed.
void FailAllocationOf(std::size_t bytes, int skipped = 0);

// Whether an allocation of `size` bytes is to fail now, as set above.
bool FailsNow(std::size_t size);

}  // namespace sp::fakes
