// Every builder of the avoidance families fails cleanly when an allocation fails: each allocation of a
// call is failed in turn and the call must report it (ASan sees what a failing path leaks).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "allocfail.h"
#include "avoidance/approach.h"
#include "avoidance/avoidfit.h"
#include "avoidance/avoidsearch.h"
#include "avoidance/avoidtable.h"
#include "avoidance/axisintervals.h"
#include "avoidance/links.h"
#include "avoidance/macro.h"
#include "collision/chkmodel.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// Runs call() with its n-th allocation failing, n = 1, 2, ... until a run allocates fewer than n times.
// Each run must report the failure (failed, or std::bad_alloc from a scratch container) or, where a
// smaller buffer served, give the full result (whole); the run that met no failure gives the full result.
template <class Call, class Failed, class Whole, class Done>
void failEachAllocation(const char* what, Call call, Failed failed, Whole whole, Done done) {
    for (long n = 1; n < 10000; ++n) {
        allocfail::arm(n);
        bool thrown = false, f = false, w = false;
        try {
            auto r = call();
            allocfail::disarm();
            f = failed(r), w = !f && whole(r);
            done(r);
        } catch (const std::bad_alloc&) {
            thrown = true;
        }
        const bool fired = allocfail::fired();
        allocfail::disarm();
        if (!fired) {
            EXPECT_TRUE(w) << what << ": no result without a failing allocation";
            EXPECT_GT(n, 1) << what << ": allocates nothing";
            return;
        }
        EXPECT_TRUE(thrown || f || w)
            << what << ": allocation " << n << " failed, neither reported nor recovered";
    }
    ADD_FAILURE() << what << ": no end";
}

Vec3 tilted(double b, double c) {
    return {std::sin(b) * std::cos(c), std::sin(b) * std::sin(c), std::cos(b)};
}

Plist* axisList(int n) {
    Plist* l = plistCreate(n, 1);
    for (int i = 0; l && i < n; ++i) {
        const Vec3 p = {double(i), 0.0, 0.0}, a = tilted(0.3, 0.1 * i);
        plistAppend(l, double(i), &p, 0, &a, 0);
    }
    return l;
}

bool samePoints(const Vec3* a, int32_t na, const Vec3* b, int32_t nb) {
    if (na != nb) return false;
    for (int32_t i = 0; i < na; ++i)
        if (a[i].x != b[i].x || a[i].y != b[i].y || a[i].z != b[i].z) return false;
    return true;
}

// The kept statement lines of two macros: the same texts at the same point counts.
bool sameLines(const MacroLine* a, const MacroLine* b) {
    for (; a && b; a = a->next, b = b->next)
        if (!a->text || !b->text || std::strcmp(a->text, b->text) != 0 || a->pointCount != b->pointCount)
            return false;
    return !a && !b;
}

// Each allocation of a macro builder failed in turn: no path, or the path built with memory enough.
template <class Build>
void macroFailEach(const char* what, Build build) {
    MacroPath* ref = build();
    ASSERT_NE(ref, nullptr) << what;
    failEachAllocation(
        what, build, [](MacroPath* p) { return !p; },
        [&](MacroPath* p) {
            return samePoints(p->points, p->count, ref->points, ref->count) && !p->axes == !ref->axes &&
                   sameLines(p->lines, ref->lines);
        },
        [](MacroPath* p) { macroPathFree(p); });
    macroPathFree(ref);
}

}  // namespace

TEST(NoMemory, MacroBuildersGiveNoPathOrTheirWholePath) {
    const Vec3 p0{0, 0, 0}, p1{-1, 0, 0}, z{0, 0, 1};
    macroResetState();
    macroFailEach("macroPathCreate", [] { return macroPathCreate(kMacroApproach, 8, 5, 1); });
    for (uint16_t type : {2, 4, 14, 20}) {
        MacroParams m{};
        m.approachType = m.leaveType = type;
        m.arcStepAngle = 10 * kPi / 180;
        m.approachDistance = m.leaveDistance = 2.0;
        m.approachAngle = m.leaveAngle = kPi / 2;
        macroFailEach("macroBuild", [&] { return macroBuild(kMacroLeave, &p0, &p1, &m, 1, nullptr, 0, &z); });
    }
    macroFailEach("macroGenType6", [&] { return macroGenType6(&p0, 5.0, 0.2, 0.3, 1, 4.0); });
    Plist* guide = plistCreate(41, 1);
    ASSERT_NE(guide, nullptr);
    for (int i = 0; i <= 40; ++i) {  // a closed circle of radius 10
        const Vec3 p{10 * std::cos(i * kPi / 20), 10 * std::sin(i * kPi / 20), 0};
        plistAppend(guide, i * 10 * kPi / 20, &p, 0, &z, 0);
    }
    for (int32_t along : {0, 1})
        macroFailEach("macroGenRamp", [&] { return macroGenRamp(guide, 5, 0.2, 3.0, along); });
    macroFailEach("macroGenType13", [&] { return macroGenType13(guide, 0.2, 3.0); });
    plistFree(guide);
    const std::string dir = "nomemory";
    std::filesystem::create_directories(dir);
    const std::string name = dir + "/m.mac";
    if (FILE* f = std::fopen(name.c_str(), "wb")) {
        for (int i = 0; i < 40; ++i) std::fputs(i % 2 ? "LINE(1)\nROTZ(10)\n" : "ARC(2,30)\n", f);
        std::fclose(f);
    }
    MacroParams m{};
    m.arcStepAngle = 5 * kPi / 180;
    macroFailEach("macroFileRead", [&] { return macroFileRead(kMacroLeave, &p0, &p1, &m, name.c_str()); });
    std::filesystem::remove_all(dir);
    failEachAllocation(
        "macroSetFileNames", [] { return macroSetFileNames("in.mac", "out.mac"); },
        [](int r) { return r < 0; }, [](int r) { return r == 1; }, [](int) {});
    macroResetState();
}

TEST(NoMemory, TablesAndRecordsReportIt) {
    Plist* l = axisList(6);
    ASSERT_NE(l, nullptr);
    failEachAllocation(
        "avoidTableCreate", [&] { return avoidTableCreate(l, 0.2, 1.0); }, [](AvoidTable* t) { return !t; },
        [](AvoidTable* t) { return t->count == 6; }, [](AvoidTable* t) { avoidTableFree(t); });
    AvoidTable* t = avoidTableCreate(l, 0.2, 1.0);
    ASSERT_NE(t, nullptr);
    failEachAllocation(
        "avoidUnwrapColumn", [&] { return avoidUnwrapColumn(t, kAvoidColumnC); },
        [](double* v) { return !v; }, [](double*) { return true; }, [](double* v) { std::free(v); });
    // C columns that wrap at pi: built tables hold them unwrapped, every column or none.
    for (int32_t i = 0; i < t->count; ++i) {
        AvoidEntry& e = t->entries[i];
        e.c = i % 2 ? -3.1 : 3.1, e.cLow = e.c - 0.2, e.cHigh = e.c + 0.2;
    }
    const std::vector<AvoidEntry> wrapped(t->entries, t->entries + t->count);
    ASSERT_EQ(avoidBuildTables(t), 1);
    const std::vector<AvoidEntry> built(t->entries, t->entries + t->count);
    const auto columns = [&](const std::vector<AvoidEntry>& want) {
        for (int32_t i = 0; i < t->count; ++i) {
            const AvoidEntry& e = t->entries[i];
            if (e.c != want[i].c || e.cLow != want[i].cLow || e.cHigh != want[i].cHigh) return false;
        }
        return true;
    };
    EXPECT_FALSE(columns(wrapped));
    failEachAllocation(
        "avoidBuildTables",
        [&] {
            std::copy(wrapped.begin(), wrapped.end(), t->entries);
            return avoidBuildTables(t);
        },
        [&](int r) { return r == 0 && columns(wrapped); }, [&](int r) { return r == 1 && columns(built); },
        [](int) {});
    // One entry whose B interval and C band miss its neighbours': both chains answer 0.
    t->entries[2].bMin = t->entries[2].bMax = 5.0;
    t->entries[2].cLow += 1.0, t->entries[2].cHigh += 1.0;
    const int chain = avoidCheckIntervalChain(t), bands = avoidCheckCBandChain(t);
    EXPECT_EQ(chain + bands, 0);
    failEachAllocation(
        "avoidCheckIntervalChain", [&] { return avoidCheckIntervalChain(t); }, [](int r) { return r < 0; },
        [&](int r) { return r == chain; }, [](int) {});
    failEachAllocation(
        "avoidCheckCBandChain", [&] { return avoidCheckCBandChain(t); }, [](int r) { return r < 0; },
        [&](int r) { return r == bands; }, [](int) {});
    // A full table grows on insertion; without memory it stays as it was.
    while (t->count < t->capacity) ASSERT_GE(avoidTableInsert(t, 0.5 / (t->count + 1), nullptr), 0);
    const int32_t count = t->count;
    allocfail::arm(1);
    EXPECT_EQ(avoidTableInsert(t, 0.25, nullptr), -1);
    allocfail::disarm();
    EXPECT_EQ(t->count, count);
    EXPECT_GE(avoidTableInsert(t, 0.25, nullptr), 0);
    EXPECT_EQ(t->count, count + 1);
    avoidTableFree(t);
    plistFree(l);
    // The band fits: no memory is a failure (-1), never a fit without result (0), and leaks nothing.
    Plist* fl = axisList(4);
    AvoidTable* ft = fl ? avoidTableCreate(fl, 0.2, 1.0) : nullptr;
    ASSERT_NE(ft, nullptr);
    for (int32_t i = 0; i < ft->count; ++i) {
        AvoidEntry& e = ft->entries[i];
        e.b = 0.3, e.bMin = 0.2, e.bMax = 0.4, e.c = 0.1 * i, e.cLow = e.c - 0.2, e.cHigh = e.c + 0.2;
    }
    failEachAllocation(
        "avoidFitBandC", [&] { return avoidFitBandC(ft, fl); }, [](int r) { return r == -1; },
        [](int r) { return r == 1; }, [](int) {});
    failEachAllocation(
        "avoidFitBandB", [&] { return avoidFitBandB(ft, fl); }, [](int r) { return r == -1; },
        [](int r) { return r == 1; }, [](int) {});
    avoidTableFree(ft);
    plistFree(fl);
    failEachAllocation(
        "fillet_rec_create", [] { return fillet_rec_create(7); }, [](FreeLineFillet2Args* r) { return !r; },
        [](FreeLineFillet2Args* r) {
            return r->count == 7 && r->capacity == 28 && r->para && r->lower && r->upper && r->out &&
                   r->flags;
        },
        [](FreeLineFillet2Args* r) { fillet_rec_free(r); });
    TriList* tl = triListCreate(4);
    ASSERT_NE(tl, nullptr);
    for (int i = 0; i < 3; ++i) {
        Triangle3D tri{{{double(i), 0, 5}, {double(i) + 1, 0, 5}, {double(i), 1, 6}}};
        triListAdd(tl, &tri);
    }
    const double z[] = {0, 10, 20}, r[] = {2, 3, 4};
    failEachAllocation(
        "axisModelCreate", [&] { return axisModelCreate(tl, 3, z, r); },
        [](AxisObstacleModel* m) { return !m; }, [](AxisObstacleModel* m) { return m->lastItem == 2; },
        [](AxisObstacleModel* m) { axisModelFree(m); });
    AxisObstacleModel* m = axisModelCreate(tl, 3, z, r);
    ASSERT_NE(m, nullptr);
    axisIntervalsSetModel(0, m);
    const Vec3 P{0.5, 0.2, 0}, A = tilted(0.5, 0.3);
    double lo = 0, hi = 0;
    failEachAllocation(
        "axisIntervalsOverMesh", [&] { return axisIntervalsOverMesh(&P, &A, -1.0, 1.0, &lo, &hi); },
        [](int c) { return c == kAxisNoMemory; }, [](int c) { return c == kAxisFree; }, [](int) {});
    axisIntervalsResetState();
    axisModelFree(m);
    triListFree(tl);
}

// A range replaced without memory leaves the list as it was; with memory it has all its axes.
TEST(NoMemory, ReplacedRangeIsWholeOrNone) {
    Plist* L = axisList(5);
    Plist* S = axisList(4);
    ASSERT_TRUE(L && S);
    std::vector<Vec3> before(L->points, L->points + L->count);
    failEachAllocation(
        "plistReplaceRange", [&] { return plistReplaceRange(L, 1, 3, S); },
        [&](int r) { return r == -1 && samePoints(L->points, L->count, before.data(), 5); },
        [&](int r) { return r == 1 && L->count == 6 && L->vectors; },
        [&](int r) {
            if (r != 1) return;
            plistFree(L);
            L = axisList(5);
        });
    plistFree(S);
    plistFree(L);
}

TEST(NoMemory, LinkSearchesAndLoopsGiveUp) {
    const Vec3 p0{0, 0, 0}, p1{10, 0, 0}, a{0, 0, 1};
    Plist* ref = approachSearchPoints(&p0, &p1, nullptr, &a, &a, 5.0, 1.0, 0.2);
    ASSERT_NE(ref, nullptr);
    failEachAllocation(
        "approachSearchPoints",
        [&] { return approachSearchPoints(&p0, &p1, nullptr, &a, &a, 5.0, 1.0, 0.2); },
        [](Plist* l) { return !l; },
        [&](Plist* l) { return samePoints(l->points, l->count, ref->points, ref->count) && l->vectors; },
        [](Plist* l) { plistFree(l); });
    plistFree(ref);
    CheckModel model{};
    chkModelInit(&model, kMeshTriangles);
    ToolGeom tool{};
    tool.toolType = kBallMill;
    tool.radius = 3.0;
    tool.size2 = 8.0;
    model.tool = &tool;
    model.stepLength = model.tolerance = 0.5;
    LinkContext ctx{};
    ctx.safetyDistance = 2.0;
    ctx.clearancePlane = 50.0;
    const Vec3 A{0, 0, 5}, B{20, 0, 8};
    double h = 0.0;
    // Over an empty model the travel height is the higher end raised by the radius and the distance.
    failEachAllocation(
        "linkTravelHeightLine", [&] { return linkTravelHeightLine(&A, &B, &ctx, &model, &h); },
        [](int r) { return r == -4; }, [&](int r) { return r == 0 && std::fabs(h - 13.0) < 1e-9; },
        [](int) {});
    failEachAllocation(
        "linkTravelLiftPlane", [&] { return linkTravelLiftPlane(&A, &B, &ctx, &model, &h); },
        [](int r) { return r == -4; }, [&](int r) { return r == 0 && h < 1e-5; }, [](int) {});
}
