// Bytes of heap memory the program holds now, for tests that check that a free function releases
// everything a record owns. Only the address sanitizer counts exactly (the C library keeps freed
// blocks in its caches); without it the count is unavailable.
#pragma once

#include <malloc.h>

#include <cstddef>

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer's own interface (its header is not always installed).
extern "C" size_t __sanitizer_get_current_allocated_bytes(void);

inline bool heapBytesCounted() {
    return true;
}
inline size_t heapBytesInUse() {
    return __sanitizer_get_current_allocated_bytes();
}
#else
inline bool heapBytesCounted() {
    return false;
}
inline size_t heapBytesInUse() {
    return 0;
}
#endif

// Bytes held by whichever allocator serves the binary: exact under the sanitizer, glibc's own count
// (which also holds blocks freed by code outside the test) without it.
inline size_t heapBytesHeld() {
    if (heapBytesCounted()) return heapBytesInUse();
    const struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;
}
