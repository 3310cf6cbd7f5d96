// An allocation-failure hook for the tests: it replaces the global allocation functions of the test
// binary, so exactly one test file per binary includes it. While armed, the n-th allocation of the
// arming thread fails as memory that cannot be had fails: operator new throws std::bad_alloc, its
// nothrow forms return null, and so do malloc, calloc and realloc of the code linked into the
// binary (test binaries are linked with -Wl,--wrap for those three; the others take the
// pass-throughs of tests/allocpass.cpp). Every allocation of that thread is counted.
// Further test files of the same binary may use the controls alone: they define
// KV_ALLOCFAIL_CONTROLS_ONLY before including this header.
#pragma once

#include <cstdlib>
#include <new>

// The replacements below take their memory from malloc and give it back with free, a pair the
// compiler cannot see through the replaced operators.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

extern "C" {
void* __real_malloc(std::size_t n);
void* __real_calloc(std::size_t n, std::size_t size);
void* __real_realloc(void* p, std::size_t n);
}

namespace allocfail {

inline thread_local long tLeft = 0;       // allocations before the failing one; 0: not armed
inline thread_local long tCount = 0;      // allocations since the last arm
inline thread_local bool tFired = false;  // the armed allocation has failed

// The n-th allocation from now on fails (n >= 1); 0 only counts.
inline void arm(long n) {
    tLeft = n;
    tCount = 0;
    tFired = false;
}
inline void disarm() {
    tLeft = 0;
}
inline long count() {
    return tCount;
}
inline bool fired() {
    return tFired;
}

inline bool failNow() {
    ++tCount;
    if (tLeft <= 0 || --tLeft > 0) return false;
    tFired = true;
    return true;
}

inline void* allocate(std::size_t n) {
    return failNow() ? nullptr : __real_malloc(n ? n : 1);
}

}  // namespace allocfail

#ifndef KV_ALLOCFAIL_CONTROLS_ONLY
extern "C" {
void* __wrap_malloc(std::size_t n) {
    return allocfail::failNow() ? nullptr : __real_malloc(n);
}
void* __wrap_calloc(std::size_t n, std::size_t size) {
    return allocfail::failNow() ? nullptr : __real_calloc(n, size);
}
void* __wrap_realloc(void* p, std::size_t n) {
    return allocfail::failNow() ? nullptr : __real_realloc(p, n);
}
}

void* operator new(std::size_t n) {
    if (void* p = allocfail::allocate(n)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t n) {
    if (void* p = allocfail::allocate(n)) return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    return allocfail::allocate(n);
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
    return allocfail::allocate(n);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
#endif
