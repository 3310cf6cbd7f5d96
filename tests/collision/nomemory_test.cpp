// Memory that cannot be had, at each allocation of a collision family's call in turn: the call answers
// with its documented failure and keeps its inputs usable, or gets by and gives the full answer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <new>
#include <vector>

#include "allocfail.h"
#include "collision/KVPLIB/wcolldetect.h"
#include "collision/chkmodel.h"
#include "collision/collreport.h"
#include "collision/meshindex.h"
#include "collision/meshquery.h"
#include "collision/meshset.h"
#include "collision/tprof.h"
#include "meshutil.h"

namespace {

// Runs call with its n-th allocation failing, for n = 1, 2, ... until a run needs no more: call gets
// whether an allocation failed and checks its own answer. The number of allocations of the full run.
template <class Call>
long eachAllocationFails(Call call) {
    for (long n = 1;; ++n) {
        allocfail::arm(n);
        call([] { return allocfail::fired(); });
        const bool fired = allocfail::fired();
        allocfail::disarm();
        if (!fired) return n - 1;
    }
}

}  // namespace

// A path lifted onto two planes meeting at a 10 degree bend and refined around it: -1 at a failure
// that stops it (the working copy, an insertion), with the list still ordered, or the full answer.
TEST(NoMemory, ListCheckAnswersMinusOne) {
    const double k = std::tan(10 * M_PI / 180), h = 20 * k;
    testmesh::Model t({{{{-5, -20, 0}, {10, -20, 0}, {10, 20, 0}}},
                       {{{-5, -20, 0}, {10, 20, 0}, {-5, 20, 0}}},
                       {{{10, -20, 0}, {30, -20, h}, {30, 20, h}}},
                       {{{10, -20, 0}, {30, 20, h}, {10, 20, 0}}}},
                      kBallMill, 1.0);
    auto path = [] {
        Plist* l = plistCreate(16, 1);
        for (int i = 0; l && i < 11; ++i) {
            const Vec3 p{2.0 * i, 0, -0.5}, v{0, 0, 1};
            plistAppend(l, i, &p, 0, &v, 0);
        }
        return l;
    };
    Plist* full = path();
    ASSERT_NE(full, nullptr);
    ASSERT_EQ(chkModelList(&t.m, full, 20, nullptr, 0, nullptr), 1);
    EXPECT_GT(full->count, 11);  // the bend was refined
    const long n = eachAllocationFails([&](auto failed) {
        Plist* l = path();
        if (!l || l->count < 11 || !l->vectors) {
            EXPECT_TRUE(failed());
            plistFree(l);
            return;
        }
        const int r = chkModelList(&t.m, l, 20, nullptr, 0, nullptr);
        EXPECT_TRUE(r == -1 ? failed() : r == 1) << r;
        EXPECT_GE(l->count, 11);
        for (int32_t i = 1; i < l->count; ++i) EXPECT_GT(l->parameters[i], l->parameters[i - 1]);
        // A run that got by without the memory it was refused gives the full answer.
        if (r == 1) {
            ASSERT_EQ(l->count, full->count);
            for (int32_t i = 0; i < l->count; ++i) EXPECT_EQ(dist3D(&l->points[i], &full->points[i]), 0.0);
        }
        plistFree(l);
    });
    EXPECT_GE(n, 3);  // the list, its copy and insertions
    plistFree(full);
}
