// Preloaded into the program under test: every operator new of more than
// FAIL_NEW_ABOVE bytes throws std::bad_alloc, as on a machine out of memory.
#include <cstdlib>
#include <new>

namespace {

std::size_t limit()
{
    static const std::size_t value = [] {
        const char* text = std::getenv("FAIL_NEW_ABOVE");
        return text ? static_cast<std::size_t>(std::strtoull(text, nullptr, 10)) : ~std::size_t{0};
    }();
    return value;
}

} // namespace

void* operator new(std::size_t size)
{
    if (size > limit())
        throw std::bad_alloc();
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}

void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
