#include "pocket/ringhelpers.h"

#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "kernel/base/constants.h"
#include "kernel/base/runreset.h"
#include "pocket/chaincross.h"
#include "pocket/contourclean.h"
#include "pocket/elemaccess.h"
#include "pocket/elemdist.h"
#include "pocket/elemprim.h"
#include "pocket/pocketerr.h"
#include "pocket/pocketstate.h"
#include "pocket/scratch.h"
#include "pocket/stepmemo.h"

int32_t arcsSplitQuarter(ContourElement* chain, int32_t count) {
    if (!chain || count < 1) return 0;
    int32_t n = count;
    for (int32_t i = 0; i < n; ++i) {
        ContourElement& e = chain[i];
        // A hair's slack keeps an exact quarter from slipping below by rounding.
        if (e.type != kElemArc || elemLength(&e) < kHalfPi * e.g[kAr] * (1 - 1e-9)) continue;
        Vec2 mid;
        elemPoint(&e, &mid, kElemMiddle);
        std::memmove(&chain[i + 2], &chain[i + 1], (n - i - 1) * sizeof(ContourElement));
        chain[i + 1] = e;
        const double r = e.g[kAr];
        elemSetPoint(&chain[i], &mid, kElemEnd);
        elemSetPoint(&chain[i + 1], &mid, kElemStart);
        chain[i].g[kAr] = r;
        chain[i + 1].g[kAr] = r;
        ++n;
        ++i;
    }
    return n;
}

namespace {

Vec2 gCircleCentre{0, 0};
double gCircleRadius = 0;

Vec2 startPoint(const ContourElement* e) {
    Vec2 p{0, 0};
    elemPoint(e, &p, kElemStart);
    return p;
}

// Unit tangent of an element at a point on it, in its direction.
bool tangentAt(const ContourElement* e, const Vec2* p, Vec2* t) {
    if (e->type == kElemLine) return elemTangent(e, t, kElemStart) != 0;
    const double vx = -(p->y - e->g[kAcy]), vy = p->x - e->g[kAcx];
    const double n = std::hypot(vx, vy);
    if (n < 1e-7) return false;
    *t = {e->direction * vx / n, e->direction * vy / n};
    return true;
}

ContourElement circleAbout(const Vec2& c, double r) {
    ContourElement e{};
    e.type = kElemArc;
    e.direction = 1;
    e.g[kAcx] = c.x;
    e.g[kAcy] = c.y;
    e.g[kAsx] = e.g[kAex] = c.x + r;
    e.g[kAsy] = e.g[kAey] = c.y;
    e.g[kAr] = r;
    return e;
}

// Reads contour i of a list into a vector; false when it is not there.
bool readContour(const char* list, int32_t i, std::vector<ContourElement>* chain, ContourHeader* h) {
    if (clistGetHeader(list, h, i) < 0) return false;
    chain->resize(h->elementCount + 1);
    return clistGet(list, chain->data(), h, i) >= 0;
}

bool boxesOverlap(const ContourElement* a, int32_t na, const ContourElement* b, int32_t nb) {
    Vec2 a0, a1, b0, b1;
    chainBoundingBox(a, na, &a0, &a1);
    chainBoundingBox(b, nb, &b0, &b1);
    return a0.x <= b1.x + 1e-4 && b0.x <= a1.x + 1e-4 && a0.y <= b1.y + 1e-4 && b0.y <= a1.y + 1e-4;
}

}  // namespace

void chainSetSourceTag(ContourElement* chain, int32_t count, int32_t tag) {
    for (int32_t i = 0; chain && i < count; ++i)
        if (chain[i].sourceTag >= 0) chain[i].sourceTag = tag;
}

int isectTurnSide(const ContourElement* a, const ContourElement* b, const PocketIsect* record, int mode) {
    if (!a || !b || !record || record->elemA < 1 || record->elemB < 1) return 0;
    const Vec2 p{record->x, record->y};
    Vec2 ta, tb;
    if (!tangentAt(&a[record->elemA - 1], &p, &ta) || !tangentAt(&b[record->elemB - 1], &p, &tb)) return 0;
    double diff = std::atan2(tb.y, tb.x) - std::atan2(ta.y, ta.x);
    while (diff > kPi) diff -= 2 * kPi;
    while (diff <= -kPi) diff += 2 * kPi;
    const bool left = diff > 0;
    return (left == (mode == 1)) ? 1 : 2;
}

int ringStartClear(const ContourElement* chain, int32_t count, double distance) {
    if (!chain || count < 1) return 0;
    const Vec2 s = startPoint(&chain[0]);
    const PocketKernel& k = pocketKernel();
    std::vector<ContourElement> c;
    ContourHeader h{};
    if (pocketAllowanceGet(0) + distance - 0.01 > 0.001) {
        const int32_t n = clistCount("MAIN");
        for (int32_t i = 1; i < n; ++i) {
            if (!readContour("MAIN", i, &c, &h) || h.elementCount < 1) continue;
            const ContourElement circle = circleAbout(s, h.allowance + distance - 0.01);
            if (elemContourClassify(&circle, c.data(), static_cast<int32_t>(h.elementCount)) > 0) return 0;
        }
    }
    if (k.openPocket || k.outsideInDirect) {
        const int32_t n = clistCount("INPUT");
        for (int32_t i = 0; i < n; ++i) {
            if (readContour("INPUT", i, &c, &h) &&
                pointInContour(c.data(), static_cast<int32_t>(h.elementCount), &s) != 0)
                return 1;
        }
        return 0;
    }
    return 1;
}

int listNeedsOffset(const char* list, double distance) {
    if (pocketKernel().openPocket) return 1;
    const int32_t n = clistCount(list);
    for (int32_t i = 0; i < n; ++i) {
        ContourHeader h{};
        if (clistGetHeader(list, &h, i) < 0) continue;
        if (std::fabs(h.allowance + distance) >= 1e-4 || h.stock) return 1;
    }
    return 0;
}

int mainBoundingCircle() {
    std::vector<ContourElement> c;
    ContourHeader h{};
    if (clistCount("MAIN") < 1 || !readContour("MAIN", 0, &c, &h) || h.elementCount < 1) return -1;
    Vec2 lo, hi;
    chainBoundingBox(c.data(), static_cast<int32_t>(h.elementCount), &lo, &hi);
    gCircleCentre = {0.5 * (lo.x + hi.x), 0.5 * (lo.y + hi.y)};
    gCircleRadius = 0.5 * std::hypot(hi.x - lo.x, hi.y - lo.y) + 4 * pocketKernel().toolRadius +
                    pocketAllowanceGet(0) + 0.1;
    return 1;
}

void mainBoundingCircleGet(Vec2* centre, double* radius) {
    if (centre) *centre = gCircleCentre;
    if (radius) *radius = gCircleRadius;
}

int32_t listResetTags(const char* list) {
    const int32_t n = clistCount(list);
    for (int32_t i = 0; i < n; ++i) {
        ContourHeader h{};
        if (clistGetHeader(list, &h, i) < 0) continue;
        h.row = static_cast<int16_t>(i);
        clistSetHeader(list, &h, i);
    }
    // Rows past the table were never filled.
    for (int32_t i = 0; i < n && i < kPocketRingRows; ++i) {
        if (uint32_t* row = pocketRingRow(i)) row[0] = 0;
    }
    return n;
}

void ringIndexRowCopy(int32_t source, int32_t target) {
    const uint32_t* from = pocketRingRow(source);
    uint32_t* to = pocketRingRow(target);
    if (!from || !to || from == to) return;
    const uint32_t count = from[0] < kPocketRingColumns ? from[0] : kPocketRingColumns - 1;
    std::memcpy(to, from, (count + 1) * sizeof(uint32_t));
}

int ringOutsideMain(const ContourElement* ring, int32_t count) {
    std::vector<ContourElement> c;
    ContourHeader h{};
    if (clistCount("MAIN") < 1 || !readContour("MAIN", 0, &c, &h)) return 1;
    const int32_t m = static_cast<int32_t>(h.elementCount);
    ScratchVector<PocketIsect> records(kIsectTableSize);
    if (!records.ok()) {
        pocketError(kPocketErrStep);
        return 0;
    }
    if (intersectContours(ring, count, c.data(), m, records.data(), kIsectTableSize) != 0) return 0;
    return contourContainsChain(ring, count, c.data(), m) != 0 ? 0 : 1;
}

int ringCrossesInput(const ContourElement* ring, int32_t count) {
    std::vector<ContourElement> c;
    ScratchVector<PocketIsect> records(kIsectTableSize);
    if (!records.ok()) {
        pocketError(kPocketErrStep);
        return 1;
    }
    ContourHeader h{};
    const int32_t n = clistCount("INPUT");
    for (int32_t i = 0; i < n; ++i) {
        if (!readContour("INPUT", i, &c, &h) || h.elementCount < 1) continue;
        const int32_t m = static_cast<int32_t>(h.elementCount);
        if (!boxesOverlap(ring, count, c.data(), m)) continue;
        const int32_t k = intersectContours(ring, count, c.data(), m, records.data(), kIsectTableSize);
        if (k >= 2 || k < 0) return 1;
    }
    return 0;
}

int ringInsideOtherInput(const ContourElement* ring, int32_t count) {
    std::vector<ContourElement> c;
    ContourHeader h{};
    const int32_t n = clistCount("INPUT");
    for (int32_t i = 0; i < n; ++i) {
        if (!readContour("INPUT", i, &c, &h) || h.elementCount < 1 || h.ccw == h.leftSide) continue;
        if (contourContainsChain(ring, count, c.data(), static_cast<int32_t>(h.elementCount)) != 0) return 1;
    }
    return 0;
}

void listStrictRings(int flag) {
    pocketOffsetState().strictRings = flag;
}

int mainRotateToContour(int mode) {
    const int32_t n = clistCount("MAIN");
    std::vector<ContourElement> c, rotated;
    for (int32_t i = 0; i < n && (mode != 1 || i == 0); ++i) {
        ContourHeader h{};
        if (!readContour("MAIN", i, &c, &h) || h.group == 0) continue;
        const int32_t m = static_cast<int32_t>(h.elementCount);
        int32_t target = -1;
        bool inserted = false;
        for (int32_t j = 0; j < m; ++j) inserted = inserted || c[j].sourceTag < 0;
        if (!inserted || m < 2) continue;
        if (c[0].sourceTag < 0) {
            for (int32_t j = 0; j < m && target < 0; ++j)
                if (c[j].sourceTag >= 0) target = j;
        } else if (c[m - 1].sourceTag >= 0) {
            int32_t j = 0;
            while (j < m && c[j].sourceTag >= 0) ++j;
            while (j < m && c[j].sourceTag < 0) ++j;
            if (j < m) target = j;
        }
        if (target <= 0) continue;
        rotated.assign(c.begin() + target, c.begin() + m);
        rotated.insert(rotated.end(), c.begin(), c.begin() + target);
        clistReplace("MAIN", rotated.data(), &h, i);
    }
    return 1;
}

namespace {

StepMemo& filterMemo() {
    static StepMemo m;
    return m;
}

// The tests of ringsFilter that depend on the ring, the source, the distance, the kernel variables and
// the offset state alone, recorded: the planes of a level filter the same rings again.
bool ringPassesSource(const ContourElement* ring, int32_t m, const ContourElement* source,
                      int32_t sourceCount, double distance, bool containTest, const ContourElement& circle,
                      const Vec2& s, PocketIsect* records) {
    if (m <= 0) return false;
    const int32_t words[3] = {m, sourceCount, containTest ? 1 : 0};
    StepStateImage state;
    StepKey key;
    stepKeyHead(&key, &state, words, &distance);
    stepKeyElements(&key, ring, static_cast<size_t>(m));
    stepKeyElements(&key, source, static_cast<size_t>(sourceCount));
    unsigned char keep = 0;
    if (const std::vector<unsigned char>* hit = stepMemoFind(filterMemo(), key)) {
        StepMemoReader r{hit};
        r.take(&keep, 1);
        r.take(&pocketOffsetState(), sizeof(PocketOffsetState));
        return keep != 0;
    }
    const int64_t errors = pocketErrorCalls();
    bool pass = contourIsClosed(ring, m);
    if (pass) {
        const int32_t crossings = intersectContours(ring, m, source, sourceCount, records, kIsectTableSize);
        // Short of memory nothing is known of the crossings: reported, so that it is not recorded.
        if (crossings < 0) pocketError(kPocketErrStep);
        pass = crossings == 0;
    }
    if (pass && containTest) {
        pass = contourContainsChain(source, sourceCount, ring, m) == 0 &&
               !(distance > 0.5 && contourContainsChain(ring, m, source, sourceCount) == 0);
    }
    if (pass) {
        Vec2 e1;
        elemPoint(&ring[0], &e1, kElemEnd);
        pass = elemContourClassify(&circle, ring, m) <= 0 && pointDist2D(&e1, &s) >= distance - 0.006;
    }
    if (pocketErrorCalls() != errors) return pass;
    keep = pass ? 1 : 0;
    std::vector<unsigned char> result;
    try {
        stepResultAppend(&result, &keep, 1);
        stepResultAppend(&result, &pocketOffsetState(), sizeof(PocketOffsetState));
    } catch (const std::bad_alloc&) {
        return pass;
    }
    stepMemoAdd(&filterMemo(), key, std::move(result));
    return pass;
}

}  // namespace

int32_t ringsFilter(const ContourElement* source, int32_t sourceCount, ContourElement* buffer,
                    int32_t* ringStart, int32_t* ringCount, int32_t nRings, double distance, int mode,
                    int flag, RingCheck check) {
    if (!source || !buffer || !ringStart || !ringCount || nRings < 1 || sourceCount < 1) return 0;
    // Only whether crossings exist is used: a reused buffer serves.
    ScratchVector<PocketIsect> records(kIsectTableSize);
    if (!records.ok()) {
        pocketError(kPocketErrStep);
        return 0;
    }
    const Vec2 s = startPoint(&source[0]);
    double probe = distance - 0.1;
    if (probe <= 0) probe = distance * 0.5;
    const ContourElement circle = circleAbout(s, probe);
    const bool containTest = (mode == -1 && flag == 0) || (mode == 1 && flag == 1);
    for (int32_t r = 0; r < nRings; ++r) {
        ContourElement* ring = buffer + ringStart[r];
        const int32_t m = ringCount[r];
        bool keep =
            ringPassesSource(ring, m, source, sourceCount, distance, containTest, circle, s, records.data());
        if (keep && check) keep = check(ring, m) != 0;
        if (keep && gCircleRadius > 1e-4) {
            const Vec2 rs = startPoint(&ring[0]);
            if (pointDist2D(&rs, &gCircleCentre) > gCircleRadius) {
                pocketError(kPocketErrElementCap);
                keep = false;
            }
        }
        if (!keep) ringCount[r] = -(m > 0 ? m : 0) - 1;
    }
    int32_t kept = 0, end = ringStart[0];
    for (int32_t r = 0; r < nRings; ++r) {
        if (ringCount[r] < 0) continue;
        const int32_t m = ringCount[r];
        if (ringStart[r] != end)
            std::memmove(buffer + end, buffer + ringStart[r], m * sizeof(ContourElement));
        ringStart[kept] = end;
        ringCount[kept] = m;
        end += m;
        ++kept;
    }
    return kept;
}

void ringHelpersResetState() {
    gCircleCentre = {0, 0};
    gCircleRadius = 0;
    stepMemoClear(&filterMemo());
    ringSpliceMemoClear();
}
static const RunReset gRunReset(kRunResetCycles, "ringHelpers", ringHelpersResetState);
