// Memory that cannot be had, for the plunge families' tests: each allocation of an operation fails in
// turn, and the operation must say so or end as it ends with all its memory.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <new>
#include <optional>
#include <vector>

#define KV_ALLOCFAIL_CONTROLS_ONLY
#include "allocfail.h"
#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

// What an operation made, to compare with the run that had all its memory; nullopt: it failed.
using AllocMade = std::optional<std::vector<double>>;

inline bool sameWithin(const std::vector<double>& a, const std::vector<double>& b, double tol) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (!(std::fabs(a[i] - b[i]) <= tol)) return false;
    return true;
}

// tol: operations that fall back to other constructions must end the same within it.
inline void failEachAllocation(const char* name, const std::function<AllocMade()>& run, double tol = 0.0) {
    const AllocMade whole = run();
    ASSERT_TRUE(whole.has_value()) << name;
    for (long n = 1;; ++n) {
        AllocMade got;
        {
#if defined(__SANITIZE_ADDRESS__)
            // Containers throw where memory is short; what the run held then is not looked for.
            __lsan::ScopedDisabler unchecked;
#endif
            allocfail::arm(n);
            try {
                got = run();
            } catch (const std::bad_alloc&) {
                got.reset();
            }
        }
        const bool fired = allocfail::fired();
        allocfail::disarm();
        if (got.has_value()) {
            size_t at = 0;
            while (at < got->size() && at < whole->size() && std::fabs((*got)[at] - (*whole)[at]) <= tol)
                ++at;
            EXPECT_TRUE(sameWithin(*got, *whole, tol))
                << name << ": allocation " << n << (fired ? " failed unnoticed" : "") << " first differs at "
                << at;
        }
        if (!fired) {
            ASSERT_TRUE(got.has_value()) << name;
            // An operation that never allocated shows nothing, or the binary lost its hooks.
            EXPECT_GT(n, 1) << name << ": no allocation seen";
            break;
        }
        ASSERT_LT(n, 5000) << name;
    }
}
