// Every test binary is linked with malloc, calloc and realloc wrapped; a binary whose tests include
// allocfail.h takes that header's wrappers, the others these weak pass-throughs.
#include <cstddef>

extern "C" {
void* __real_malloc(std::size_t n);
void* __real_calloc(std::size_t n, std::size_t size);
void* __real_realloc(void* p, std::size_t n);

__attribute__((weak)) void* __wrap_malloc(std::size_t n) {
    return __real_malloc(n);
}
__attribute__((weak)) void* __wrap_calloc(std::size_t n, std::size_t size) {
    return __real_calloc(n, size);
}
__attribute__((weak)) void* __wrap_realloc(void* p, std::size_t n) {
    return __real_realloc(p, n);
}
}
