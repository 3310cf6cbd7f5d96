// Files the test process holds open now, for tests that check that a reader or a loader closes what it
// opened (only differences are meaningful: the count includes the listing's own descriptor).
#pragma once

#include <filesystem>
#include <iterator>

inline long openFileCount() {
    return static_cast<long>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}));
}
