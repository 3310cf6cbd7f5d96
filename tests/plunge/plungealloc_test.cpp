// Memory that cannot be had: each allocation of a list, level, channel or grid operation fails in turn. The
// operation must then say so (null or -1), or end as it ends with all its memory; nothing leaks (the
// sanitized build checks that at exit).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <new>
#include <optional>
#include <vector>

#include "allocfail.h"  // the binary's allocation hooks live in this file
#include "channeltest.h"
#include "memshort.h"
#include "plunge/cutlist.h"
#include "plunge/levelcurves.h"
#include "plunge/plist3d.h"
#include "plunge/tiltseq.h"
#include "plunge/trigrid.h"

namespace {

using Made = AllocMade;

struct Case {
    const char* name;
    std::function<Made()> run;
    double tol = 0.0;  // offsets fall back to other constructions: the same ends, within tol
};

// The record's room taken before anything else: the test's own code allocates nothing later.
std::vector<double> room() {
    std::vector<double> v;
    v.reserve(4096);
    return v;
}

void put(std::vector<double>& v, const Plist3D* l) {
    v.push_back(l->count);
    for (int32_t i = 0; i < l->count; ++i)
        v.insert(v.end(), {l->param[i], l->points[i].x, l->points[i].y, l->points[i].z});
}

void put(std::vector<double>& v, const Profile2D* p) {
    v.push_back(p->count);
    for (int32_t i = 0; i < p->count; ++i) v.insert(v.end(), {p->param[i], p->points[i].x, p->points[i].y});
}

// Where an offset starts and ends: the offsets of a profile agree there however they are made.
void ends(std::vector<double>& v, const Profile2D* p) {
    const Vec2 a = p->points[0], b = p->points[p->count - 1];
    v.insert(v.end(), {a.x, a.y, b.x, b.y});
}

Made points3D() {
    std::vector<double> v = room();
    const Vec3 pts[4] = {{0, 0, 0}, {3, 4, 0}, {3, 4, 12}, {6, 8, 12}};
    Plist3D* l = plist3DFromPoints(pts, 4);
    if (!l) return std::nullopt;
    bool ok = true;
    // Inserts and appends past the capacity, then copies of the grown list.
    for (double s : {2.5, 7.0, 11.0, 30.0}) {
        const Vec3 p{s, -s, 1};
        ok = ok && insertPlist3D(l, s, &p) >= 0;
    }
    const Vec3 far{20, 20, 20};
    ok = ok && appendPlist3D(l, &far) >= 0 && extendPlist3DEnds(l, 2.0, 3) >= 0;
    Plist3D* copy = ok ? copyPlist3D(l) : nullptr;
    Plist3D* assigned = newPlist3D(1);
    ok = copy && assigned && assignPlist3D(assigned, l) >= 0;
    Plist3DNode* chain = newPlist3DNode(2);
    ok = ok && chain && appendPlist3DNode(chain, l) >= 0 && appendPlist3DNode(chain, copy) >= 0;
    if (ok) {
        put(v, copy);
        put(v, assigned);
        for (const Plist3DNode* n = chain; n; n = n->next)
            if (n->list) put(v, n->list);
    }
    freePlist3DChain(chain);
    freePlist3D(assigned);
    freePlist3D(copy);
    freePlist3D(l);
    return ok ? Made(v) : std::nullopt;
}

Made cutLists() {
    std::vector<double> v = room();
    CutRecordList* list = idx5CutListCreate(1);
    if (!list) return std::nullopt;
    bool ok = true;
    for (int k = 0; ok && k < 5; ++k) {
        const Vec3 top{double(k), 0, 10}, bottom{double(k), 0, 0};
        ok = idx5CutListAdd(list, &top, &bottom, k % 2) == 1;
    }
    const Vec3 top{9, 9, 9}, bottom{9, 9, 1};
    ok = ok && idx5CutListInsert(list, 2, &top, &bottom, 3) >= 0;
    if (ok) {
        list->records[1].list1 = plistCreate(4, 1);
        const Vec3 p{1, 2, 3}, d{0, 0, 1};
        ok = list->records[1].list1 && plistAppend(list->records[1].list1, 0.5, &p, 0, &d, 0) >= 0;
    }
    CutRecordList* copy = ok ? idx5CutListCopy(list) : nullptr;
    CutListSet* set = cutListSetCreate(1);
    ok = copy && set;
    for (int k = 0; ok && k < 3; ++k) ok = cutListSetAdd(set, k ? copy : list, 10 + k, 0.5 * k) == 1;
    if (ok) {
        for (int32_t j = 0; j < set->count; ++j) {
            const CutRecordList* l = set->lists[j];
            v.insert(v.end(), {double(set->keys[j]), set->values[j], double(l->count)});
            for (int32_t i = 0; i < l->count; ++i)
                v.insert(v.end(), {l->records[i].top.x, l->records[i].bottom.z, double(l->records[i].kind),
                                   l->records[i].list1 ? l->records[i].list1->points[0].z : -1.0});
        }
    }
    cutListSetFree(set);
    idx5CutListFree(copy);
    idx5CutListFree(list);
    return ok ? Made(v) : std::nullopt;
}

Made tilts() {
    std::vector<double> v = room();
    const double params[6] = {0, 1, 2, 3, 4, 5};
    TiltSeq* seq = newTiltSeq(6, params);
    if (!seq) return std::nullopt;
    for (int32_t i = 0; i < 6; ++i)
        seq->lower[i] = -0.2 - 0.01 * i, seq->upper[i] = 0.3, seq->tilt[i] = 0.1 * i;
    TiltSeq* copy = copyTiltSeq(seq);
    const bool ok = copy != nullptr;
    for (int32_t i = 0; ok && i < copy->count; ++i)
        v.insert(v.end(), {copy->param[i], copy->lower[i], copy->tilt[i]});
    freeTiltSeq(copy);
    freeTiltSeq(seq);
    return ok ? Made(v) : std::nullopt;
}

// A channel whose hub bends, so that its offsets and bands have work to do.
HubShroud* bentChannel() {
    HubShroud* pair = flatChannel(20);
    if (!pair) return nullptr;
    freeProfile2D(pair->hub);
    pair->hub = profileOf({{10, 0}, {30, 2}, {45, 8}, {60, 9}});
    std::free(pair->extra);  // one value per hub point
    pair->extra = static_cast<double*>(std::calloc(4, sizeof(double)));
    if (!pair->hub || !pair->extra) {
        freeHubShroud(pair);
        return nullptr;
    }
    return pair;
}

Made channels() {
    std::vector<double> v = room();
    HubShroud* pair = bentChannel();
    if (!pair) return std::nullopt;
    HubShroud* copy = copyHubShroud(pair);
    bool ok = copy && offsetProfile2D(copy, 1.5) == 1 && offsetShroudProfile2D(copy, 2.0) == 1;
    HubShroud* over = ok ? hubShroudOverHub(copy, 6.0) : nullptr;
    HubShroud* band = ok ? shroudBand(pair, -4.0) : nullptr;
    Profile2D* off = profile2DOffset(pair->hub, -2.5);
    ok = over && band && off;
    if (ok) {
        for (const HubShroud* h : {copy, over, band}) ends(v, h->hub), ends(v, h->shroud);
        ends(v, off);
    }
    freeProfile2D(off);
    freeHubShroud(band);
    freeHubShroud(over);
    freeHubShroud(copy);
    freeHubShroud(pair);
    return ok ? Made(v) : std::nullopt;
}

// Meridians of one plane strip through the axis and of two stacked ones, their edges joined (the
// surfaces made once, on the first call, which has all its memory).
Made meridians() {
    static SurfList* one = nullptr;
    static SurfList* two = nullptr;
    if (!one) {
        one = newSurfList(2), two = newSurfList(2);
        addPatch(one, {10, 0, 0}, {40, 0, 0}, {0, 0, 20});
        addPatch(two, {10, 0, 0}, {20, 0, 0}, {0, 0, 10});
        addPatch(two, {10, 0, 10}, {20, 0, 0}, {0, 0, 10});
    }
    std::vector<double> v = room();
    ProfileCurve* a = surfaceMeridianCurve(one, 0.5);
    ProfileCurve* b = surfacesMeridianCurve(two);
    const bool ok = a && b;
    for (const ProfileCurve* c : {a, b}) {
        if (!ok) break;
        v.push_back(c->count);
        for (int32_t i = 0; i < c->count; ++i) v.insert(v.end(), {c->points[i].x, c->points[i].y, c->z[i]});
    }
    profileFreeList(a);
    profileFreeList(b);
    return ok ? Made(v) : std::nullopt;
}

// A grid of one slot per cell filled with triangles (made once, on the first call), every cell asked for.
Made triangleGrid() {
    static TriList* tris = nullptr;
    if (!tris) {
        tris = triListCreate(24);
        for (int i = 0; i < 24; ++i) {
            const double a = 0.26 * i, r = 5 + i;
            const Triangle3D t{{{r * std::cos(a), r * std::sin(a), 0.5 * i},
                                {r * std::cos(a) + 2, r * std::sin(a), 0.5 * i + 1},
                                {r * std::cos(a), r * std::sin(a) + 2, 0.5 * i + 2}}};
            triListAdd(tris, &t);
        }
    }
    std::vector<double> v = room();
    const Vec3 centre{0, 0, 0};
    TriGrid* g = triGridCreate(4, 4, 1);
    // The second fill first settles the cells the first one left waiting. A fill answers 1 or -1: any
    // other answer is recorded, to differ from the whole run's.
    int rc = g ? triGridFill(g, &centre, tris, 0.5) : -1;
    if (rc == 1) rc = triGridFill(g, &centre, tris, 0.5);
    if (rc != 1 && rc >= 0) v.push_back(1000 + rc);
    bool ok = rc == 1;
    for (int32_t r = 0; ok && r < 4; ++r)
        for (int32_t c = 0; ok && c < 4; ++c) {
            const TriGridCell* cell = triGridCellAt(g, r, c);
            ok = cell != nullptr;
            for (int32_t k = 0; ok && k < cell->count; ++k) v.push_back(cell->items[k]);
            v.push_back(-1);
        }
    triGridFree(g);
    return ok || (rc != 1 && rc >= 0) ? Made(v) : std::nullopt;
}

Made levels(int32_t strategy) {
    std::vector<double> v = room();
    HubShroud* pair = flatChannel(25);
    LevelCurves* set = pair ? buildLevelCurves(pair, 10.0, strategy, 22.0) : nullptr;
    if (set) {
        for (int32_t k = 0; k < set->count; ++k) {
            v.push_back(set->params[k]);
            put(v, set->curves[k]->hub);
        }
    }
    freeLevelCurves(set);
    freeHubShroud(pair);
    return set ? Made(v) : std::nullopt;
}

}  // namespace

TEST(PlungeMemoryShort, EveryFailedAllocationIsReportedOrChangesNothing) {
    const Case cases[] = {
        {"point lists", points3D},
        {"cut lists", cutLists},
        {"tilt sequences", tilts},
        {"hub and shroud", channels, 1e-6},
        {"meridians", meridians},
        {"triangle grid", triangleGrid},
        {"levels from the hub", [] { return levels(kLevelFromHub); }},
        {"levels from the shroud", [] { return levels(kLevelFromShroud); }},
        {"levels under a band", [] { return levels(kLevelUnderBand); }},
        {"interpolated levels", [] { return levels(kLevelInterpolated); }},
    };
    for (const Case& c : cases) failEachAllocation(c.name, c.run, c.tol);
}
