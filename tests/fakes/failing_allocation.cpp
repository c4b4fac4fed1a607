#include "tests/fakes/failing_allocation.h"

#include <cstdlib>
#include <new>

namespace sp::fakes {
namespace {

std::size_t failingSize = 0;  // 0: nothing fails
int toSkip = 0;

}  // namespace

void FailAllocationOf(std::size_t bytes, int skipped) {
    failingSize = bytes;
    toSkip = skipped;
}

bool FailsNow(std::size_t size) {
    if (failingSize == 0 || size < failingSize) return false;
    if (toSkip-- > 0) return false;
    failingSize = 0;
    return true;
}

}  // namespace sp::fakes

// On malloc and free, both of them, so that a sanitizer sees matching pairs.
void* operator new(std::size_t size) {
    if (sp::fakes::FailsNow(size)) throw std::bad_alloc();
    if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
    throw std::bad_alloc();
}

void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
