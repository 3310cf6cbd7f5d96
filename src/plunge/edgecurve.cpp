// Region edge curves.
#include "plunge/edgecurve.h"

#include <cmath>

#include "plunge/cycparams.h"

namespace {

// Just short of and just past a right angle: the walls of the outer cases never close in further.
constexpr double kNearRight = 1.4707963267948965;
constexpr double kPastRight = 1.6707963267948966;

uint8_t kindOf(const Plist* list, int32_t i) {
    return static_cast<uint8_t>(list->flags[i] >> 8);
}

void setKind(Plist* list, int32_t i, uint8_t kind) {
    list->flags[i] = static_cast<uint16_t>((kind << 8) | (list->flags[i] & 0xff));
}

bool unitOf(const Vec3& from, const Vec3& to, Vec3* u) {
    const Vec3 d{to.x - from.x, to.y - from.y, to.z - from.z};
    const double l = vecLen3D(&d);
    if (l < 1e-5) return false;
    *u = {d.x / l, d.y / l, d.z / l};
    return true;
}

}  // namespace

int edgeCurveWalls(int32_t sideCase, double a, double b, int32_t hasSplitter, EdgeWalls* out) {
    if (out == nullptr) return -1;
    switch (sideCase) {
        case 0:
            out->first = std::fmax(hasSplitter ? 0.5 * a : a, kNearRight);
            out->second = -0.35 - 0.5 * a;
            if (out->second > -kNearRight) out->second = -kPastRight;
            out->direction = -1;
            out->slot = 0;
            return 1;
        case 1:
            *out = {0.0, b + 0.35, 1, 1};
            return 1;
        case 2:
            *out = {a, cycleParams()->bladeCount == 2 ? 0.5 * b : b - 0.35, -1, 1};
            return 1;
        case 3:
            *out = {a + (-a > -kNearRight ? -kPastRight : -a), kNearRight + a, 1, 2};
            return 1;
        default:
            return -1;
    }
}

int firstLastCutIndex(const Plist* list, int32_t* first, int32_t* last) {
    if (list == nullptr || first == nullptr || last == nullptr) return -1;
    int32_t f = -1, l = -1;
    for (int32_t i = 0; i < list->count; ++i) {
        if (kindOf(list, i) == kPointLink) continue;
        if (f < 0) f = i;
        l = i;
    }
    if (f < 0) return -1;
    *first = f;
    *last = l;
    return 1;
}

int isReversalAt(const Plist* list, int32_t i) {
    if (list == nullptr || i < 1 || i + 1 >= list->count) return 0;
    Vec3 u1, u2;
    if (!unitOf(list->points[i + 1], list->points[i], &u1) ||
        !unitOf(list->points[i], list->points[i - 1], &u2))
        return 0;
    return vecDot3D(&u1, &u2) < -0.95 ? 1 : 0;
}

int cutAtReversals(Plist* list) {
    int32_t first = 0, last = 0;
    if (firstLastCutIndex(list, &first, &last) != 1) return 0;
    int32_t i = -1, j = -1;
    for (int32_t k = first + 1; k + 1 < list->count && i < 0; ++k)
        if (isReversalAt(list, k)) i = k;
    for (int32_t k = last - 1; k >= 1 && j < 0; --k)
        if (isReversalAt(list, k)) j = k;
    if (i < 0 || j < 0) return 0;
    const double span = list->parameters[last] - list->parameters[first];
    bool dropBefore = true, dropAfter = true;
    if (i >= j) {
        // One reversal: the shorter side of the cut range goes.
        const bool late = list->parameters[i] - list->parameters[first] >= 0.5 * span;
        dropBefore = !late;
        dropAfter = late;
    }
    for (int32_t k = 0; k < list->count; ++k)
        if ((dropBefore && k < i) || (dropAfter && k > j)) setKind(list, k, kPointMarked);
    plistDropKind3(list);
    return 1;
}

int settleLeadingKind2(Plist* list) {
    if (list == nullptr) return -1;
    int32_t i = 0;
    while (i < list->count && kindOf(list, i) == kPointLink) ++i;
    if (i == list->count) return -1;
    if (i + 1 >= list->count) return 0;
    if (kindOf(list, i + 1) == kPointLink) {
        // The first point has no point before it: it only becomes uncut where it is.
        if (i > 0) {
            const double* s = list->parameters;
            const double span = s[i + 1] - s[i - 1];
            const double t = std::fabs(span) > 0.0 ? (s[i] - s[i - 1]) / span : 0.0;
            const Vec3 &p = list->points[i - 1], &q = list->points[i + 1];
            list->points[i] = {p.x + t * (q.x - p.x), p.y + t * (q.y - p.y), p.z + t * (q.z - p.z)};
        }
        setKind(list, i, kPointLink);
    }
    for (int32_t k = i + 2; k < list->count; ++k) {
        if (kindOf(list, k) != kPointLink) continue;
        for (int32_t m = k; m < list->count; ++m) setKind(list, m, kPointLink);
        return 1;
    }
    return 0;
}

int idx5BuildEdgeCurve(Plist* out, const HubShroud* level, int32_t sideCase, double a, double b,
                       CheckModel* const* models, const TriGrid* const* grids, const ContourPair* pair,
                       ChannelTraceFn trace) {
    if (out == nullptr || level == nullptr || models == nullptr || grids == nullptr || pair == nullptr ||
        trace == nullptr)
        return -1;
    EdgeWalls w{};
    if (edgeCurveWalls(sideCase, a, b, models[1] != nullptr, &w) != 1 || models[w.slot] == nullptr) return -1;
    ContourPair* wall1 = twistContourPair(pair, w.first, 0.0);
    ContourPair* wall2 = twistContourPair(pair, w.second, 0.0);
    int rc = -1;
    if (wall1 != nullptr && wall2 != nullptr && normContourPairParams(wall1) == 1 &&
        normContourPairParams(wall2) == 1 &&
        trace(models[w.slot], wall1, wall2, level, w.direction, out, grids[w.slot]) >= 0) {
        settleLeadingKind2(out);
        cutAtReversals(out);
        rc = 1;
    }
    freeContourPair(wall1);
    freeContourPair(wall2);
    return rc;
}
