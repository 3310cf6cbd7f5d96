// Point reduction of point lists: windowed and global shortest-first methods and the sequential one.
#include "geometry/plist_reduce.h"

#include <cmath>
#include <cstdlib>
#include <initializer_list>

#include "geometry/seglentable.h"
#include "kernel/base/rng.h"
#include "kernel/base/runreset.h"

namespace {

constexpr double kTol = 1e-5;
constexpr double kOffChord = 100000.0;  // the deviation of a point that doubles back
constexpr int32_t kWindow = 10000;      // bounds the table and the cost of its moves
constexpr int kLow100 = 100;            // points of this sub-code are reduced only among themselves

int32_t plistReduceMode = 1;
int32_t plistReduceRandomSkip = 0;
Rng rngState = {1u};
PlistRandomFn rngFn = nullptr;
void* rngUser = nullptr;

uint32_t nextRandom() {
    if (rngFn != nullptr) return rngFn(rngUser);
    return static_cast<uint32_t>(rngStep(&rngState));
}

int kindAt(const Plist* list, int32_t i) {
    return list->flags[i] >> 8;
}

// Never used for links, so the sub-code always stays.
void setKind(Plist* list, int32_t i, int kind) {
    list->flags[i] = static_cast<uint16_t>((kind << 8) | (list->flags[i] & 0xFF));
}

bool isLinkKind(int kind) {
    return kind == kPointLink || kind == kPointLinkLike;
}

// prev, c and next are all links or all not, and all of sub-code 100 or all not.
bool sameClass(const Plist* list, int32_t prev, int32_t c, int32_t next) {
    const bool link = isLinkKind(kindAt(list, c));
    const bool low = (list->flags[c] & 0xFF) == kLow100;
    for (const int32_t k : {prev, next}) {
        if (isLinkKind(kindAt(list, k)) != link) return false;
        if (((list->flags[k] & 0xFF) == kLow100) != low) return false;
    }
    return true;
}

void replaceKind(Plist* list, int from, int to) {
    for (int32_t i = 0; i < list->count; ++i)
        if (kindAt(list, i) == from) setKind(list, i, to);
}

// The points a shortest-first pass marks "kept" (11) get their own kind back at its end, so that
// the pass leaves no trace on the points it keeps.
struct KeepMarks {
    uint8_t* kinds = nullptr;

    bool save(const Plist* list) {
        kinds = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(list->count)));
        if (kinds == nullptr) return false;
        for (int32_t i = 0; i < list->count; ++i) kinds[i] = static_cast<uint8_t>(kindAt(list, i));
        return true;
    }
    void restore(Plist* list) const {
        for (int32_t i = 0; i < list->count; ++i) {
            if (kindAt(list, i) != kPointKeep) continue;
            setKind(list, i, kinds[i] == kPointKeep ? 0 : static_cast<int>(kinds[i]));
        }
    }
    ~KeepMarks() { std::free(kinds); }
};

struct Window {
    bool on;
    int32_t first, last;
};

// Tests c for removal; a failing candidate is marked kept. On success err is its deviation.
bool candidate(Plist* list, int32_t c, const Window& win, double tol1, double* err) {
    int32_t prev = -1, next = -1;
    bool ok = kindAt(list, c) != kPointKeep && plistFindNeighbours(list, c, &prev, &next) == 0;
    if (ok && win.on) ok = prev >= win.first && next <= win.last;
    if (ok) ok = sameClass(list, prev, c, next);
    if (ok) ok = dist3D(&list->points[prev], &list->points[next]) <= tol1;
    if (!ok) {
        setKind(list, c, kPointKeep);
        return false;
    }
    *err = plistChordDeviation(list, prev, next);
    return true;
}

// Decides the short segment a-b: 1 when a was marked, 2 when b was, 0 when both are kept.
int decideSegment(Plist* list, int32_t a, int32_t b, const Window& win, double tol1, double tol2) {
    double errA = 0.0, errB = 0.0;
    const bool passA = candidate(list, a, win, tol1, &errA);
    const bool passB = candidate(list, b, win, tol1, &errB);
    if (passA && (!passB || errA < errB) && errA < tol2) {
        setKind(list, a, kPointMarked);
        return 1;
    }
    if (passB && errB < tol2) {
        setKind(list, b, kPointMarked);
        return 2;
    }
    setKind(list, a, kPointKeep);
    setKind(list, b, kPointKeep);
    return 0;
}

}  // namespace

double plistChordDeviation(const Plist* list, int32_t i, int32_t j) {
    if (list == nullptr || i < 0 || j >= list->count || j <= i) return 0.0;
    const Vec3& pi = list->points[i];
    const Vec3 u{list->points[j].x - pi.x, list->points[j].y - pi.y, list->points[j].z - pi.z};
    const double len = vecLen3D(&u);
    if (len < kTol) return 0.0;
    const Vec3 unit{u.x / len, u.y / len, u.z / len};
    double worst = 0.0;
    for (int32_t k = i + 1; k < j; ++k) {
        const Vec3 w{list->points[k].x - pi.x, list->points[k].y - pi.y, list->points[k].z - pi.z};
        const double d = crossLen3D(&w, &unit);
        const double wl = vecLen3D(&w);
        if (wl >= kTol && std::fabs(vecDot3D(&w, &unit)) / wl < 0.5) return kOffChord;
        if (d > worst) worst = d;
    }
    return worst;
}

void plistReduceWindow(double tol1, double tol2, int32_t first, int32_t last, Plist* list) {
    if (list == nullptr || list->count < 2) return;
    SegLenTable* table = segLenTableBuild(list, first, last);
    if (table == nullptr) return;
    KeepMarks marks;
    if (!marks.save(list)) {
        segLenTableFree(table);
        return;
    }
    const Window win{true, first, last};
    const Vec3* p = list->points;
    for (int32_t e = 0; e < table->count && table->entries[e].length <= tol1; ++e) {
        const SegLenEntry cur = table->entries[e];
        // An entry whose end has gone describes a segment that no longer exists.
        if (kindAt(list, cur.i0) == kPointMarked || kindAt(list, cur.i1) == kPointMarked) continue;
        const int gone = decideSegment(list, cur.i0, cur.i1, win, tol1, tol2);
        if (gone == 0) continue;
        const int32_t g = gone == 1 ? cur.i0 : cur.i1;
        int32_t prev = -1, next = -1;
        if (plistFindNeighbours(list, g, &prev, &next) != 0) continue;
        // The other segment at the removed point now spans prev-next.
        const int32_t s0 = gone == 1 ? prev : g, s1 = gone == 1 ? g : next;
        const int32_t from = segLenTableFind(table, dist3D(&p[s0], &p[s1]), s0, s1);
        if (from < 0) continue;
        const SegLenEntry joined{dist3D(&p[prev], &p[next]), prev, next};
        segLenTableMove(table, from, segLenTableLowerBound(table, joined.length), &joined);
    }
    marks.restore(list);
    segLenTableFree(table);
}

int plistShortestSegment(const Plist* list, double* outLength, int32_t* outI, int32_t* outJ) {
    if (list == nullptr) return 0;
    bool found = false;
    double best = 0.0;
    for (int32_t i = 0; i < list->count; ++i) {
        const int kind = kindAt(list, i);
        if (isLinkKind(kind) || kind == kPointMarked) continue;
        int32_t j = -1;
        if (plistNextFreeIndex(i, list, &j) != 1) break;
        if (kind == kPointKeep && kindAt(list, j) == kPointKeep) continue;
        const double d = dist3D(&list->points[i], &list->points[j]);
        if (found && !(d < best)) continue;
        found = true;
        best = d;
        if (outLength != nullptr) *outLength = d;
        if (outI != nullptr) *outI = i;
        if (outJ != nullptr) *outJ = j;
    }
    return found ? 1 : 0;
}

void plistReduceShortest(Plist* list, double tol1, double tol2) {
    if (list == nullptr || list->count < 2) return;
    plistClearKind3(list);
    KeepMarks marks;
    if (!marks.save(list)) return;
    const Window win{false, 0, 0};
    double len = 0.0;
    int32_t a = -1, b = -1;
    // Every round marks a point or makes a pair kept, which the search then skips: it ends.
    while (plistShortestSegment(list, &len, &a, &b) == 1 && len <= tol1)
        decideSegment(list, a, b, win, tol1, tol2);
    marks.restore(list);
}

void plistReduceTol(Plist* list, double tol1, double tol2) {
    if (list == nullptr) return;
    const Vec3* p = list->points;
    for (int32_t c = 1; c <= list->count - 2; ++c) {
        if (isLinkKind(kindAt(list, c))) continue;
        int32_t prev = -1, next = -1;
        if (plistFindNeighbours(list, c, &prev, &next) != 0) return;
        if (!sameClass(list, prev, c, next)) continue;
        const double chord = dist3D(&p[prev], &p[next]);
        if (!(chord <= tol1)) continue;
        // Points taken out by the first pass stay out of reach of the second one's chords.
        if (prev < c - 1 && kindAt(list, c - 1) == kPointRemoved) continue;
        if (next > c + 1 && kindAt(list, c + 1) == kPointRemoved) continue;
        bool drop = true;
        if (chord >= kTol) {
            const Vec3 unit{(p[next].x - p[prev].x) / chord, (p[next].y - p[prev].y) / chord,
                            (p[next].z - p[prev].z) / chord};
            for (int32_t k = prev + 1; k < next && drop; ++k) {
                const Vec3 w{p[k].x - p[prev].x, p[k].y - p[prev].y, p[k].z - p[prev].z};
                if (crossLen3D(&w, &unit) > tol2) drop = false;
                const double wl = vecLen3D(&w);
                if (wl >= kTol && std::fabs(vecDot3D(&w, &unit)) / wl < 0.5) drop = false;
            }
            if (drop && plistReduceRandomSkip && nextRandom() % 10 == 0) drop = false;
        }
        if (drop) setKind(list, c, kPointMarked);
    }
}

void plistReducePoints(Plist* list, double tol1, double tol2) {
    if (list == nullptr || list->count < 2) return;
    if (plistReduceMode == 1) {
        plistClearKind3(list);
        int32_t first = 0;
        do {
            const int32_t last = first + kWindow < list->count - 1 ? first + kWindow : list->count - 1;
            plistReduceWindow(tol1, tol2, first, last, list);
            first = last;
        } while (first < list->count - 1);
    } else if (plistReduceMode == 2) {
        plistReduceShortest(list, tol1, tol2);
    } else {
        plistClearKind3(list);
        plistReduceTol(list, tol1, 1e-6);  // first only what lies on the chord
        replaceKind(list, kPointMarked, kPointRemoved);
        plistReduceTol(list, tol1, tol2);
        replaceKind(list, kPointRemoved, kPointMarked);
    }
}

void plistReduceSetMode(int32_t mode) {
    plistReduceMode = mode;
}

void plistReduceSetRandomSkip(int32_t on) {
    plistReduceRandomSkip = on;
}

void plistReduceSetRandom(PlistRandomFn fn, void* user) {
    rngFn = fn;
    rngUser = user;
}

void plistReduceSeedRandom(uint32_t seed) {
    rngState.state = seed;
}

void plistReduceResetState() {
    plistReduceMode = 1;
    plistReduceRandomSkip = 0;
    rngFn = nullptr;
    rngUser = nullptr;
    rngState.state = 1u;
}
static const RunReset gRunReset(kRunResetGeometry, "plistReduce", plistReduceResetState);
