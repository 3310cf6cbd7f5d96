// Side paths of a channel region.
#include "plunge/regionpaths.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>
#include <vector>

#include "geometry/plist.h"
#include "geometry/plist_reduce.h"
#include "plunge/cycparams.h"
#include "plunge/levelcurves.h"
#include "plunge/pathlink.h"
#include "plunge/pathspace.h"
#include "plunge/plist3d.h"
#include "plunge/profile2d.h"

namespace {

int kindOf(const Plist* l, int32_t i) {
    return l->flags[i] >> 8;
}
void setKind(Plist* l, int32_t i, int kind) {
    l->flags[i] = static_cast<uint16_t>((kind << 8) | (l->flags[i] & 0xFF));
}
bool usable(const Plist* l) {
    return l && l->count > 0;
}

// A profile's search boxes, taken once for the distances of many points.
std::vector<double> boxesOf(const Profile2D* profile) {
    std::vector<double> boxes(static_cast<size_t>(std::max(profile2DBoxSize(profile), 0)));
    profile2DBoxes(profile, boxes.data());
    return boxes;
}

struct PlistFree {
    void operator()(Plist* l) const { plistFree(l); }
};

// The parameter at path distance d from point i walking by dir (stopping at the path's end).
double paramAlong(const Plist* l, int32_t i, double d, int dir) {
    double acc = 0;
    for (int32_t j = i; j + dir >= 0 && j + dir < l->count; j += dir) {
        const double len = dist3D(&l->points[j], &l->points[j + dir]);
        if (acc + len >= d && len > 0) {
            const double f = (d - acc) / len;
            return l->parameters[j] + f * (l->parameters[j + dir] - l->parameters[j]);
        }
        acc += len;
    }
    return l->parameters[dir < 0 ? 0 : l->count - 1];
}

// Every point between the new vertex at t and the cut end `cut` (an index before the split) is cut.
void extendTo(Plist* l, double t, int32_t cut, int dir) {
    const int rc = plistSplitAtParam(l, t, 0.001);
    if (rc < 0) return;
    const int32_t v = plistSplitIndex();
    if (rc == 1 && dir < 0) ++cut;  // the new vertex lies before the first cut point
    const int32_t a = dir < 0 ? v : cut, b = dir < 0 ? cut : v;
    for (int32_t i = a; i <= b; ++i) {
        setKind(l, i, kPointOrdinary);
        if (l->bytes) l->bytes[i] = 0;
    }
}

void cutAt(PlistArray* lists, const Profile2D* profile, double value) {
    const std::vector<double> boxes = boxesOf(profile);
    for (int32_t k = 0; k < lists->count; ++k) {
        Plist* l = lists->lists[k];
        if (!usable(l)) continue;
        for (int32_t i = 0; i < l->count; ++i) {
            if (kindOf(l, i) == kPointLink) continue;
            double param = 0;
            closestPointProfile2DBoxed(profile, boxes.data(), &l->points[i], &param, nullptr);
            if (param > value - 1e-5) {
                l->count = i + 1;
                break;
            }
        }
    }
}

void resetOne(Plist* inner, const Plist* outer) {
    int32_t first, last;
    if (!usable(inner) || !usable(outer) || firstLastCutIndex(outer, &first, &last) != 1) return;
    const int32_t v = plistSplitAtParam(inner, outer->parameters[first], 0.001) >= 0 ? plistSplitIndex() : -1;
    if (inner->bytes)
        for (int32_t i = 0; i < inner->count; ++i) inner->bytes[i] = kindOf(inner, i) == kPointLink ? 0 : 1;
    if (v < 0) return;
    for (int32_t i = v; i < inner->count && kindOf(inner, i) == kPointLink; ++i)
        setKind(inner, i, kPointOrdinary);
}

// Distance to the blade contour, positive counter-clockwise of it about the z axis.
double bladeSignedDistance(const ContourPair* pair, const Vec3& p, double* param) {
    Vec3 foot;
    const double d = projectOnPlist3D(pair->first, &p, param, &foot);
    return pathSignedAngle(&foot, &p) < 0 ? -d : d;
}

bool unitOf(Vec3 v, Vec3* out) {
    return vecNormalize3D(&v, out) == 1;
}

// One path rolled about the axis next to the edge: 1, or -1.
int rollPath(Plist* l, int32_t k, const ContourPair* pair, double toolRadius, int side, double back) {
    int32_t first, last;
    if (!usable(l) || firstLastCutIndex(l, &first, &last) != 1) return 1;
    if (side < 0 ? first == 0 : last == l->count - 1) return 1;  // nothing beyond the cut range there
    std::vector<Vec3> copy(l->points + first, l->points + last + 1);
    for (Vec3& p : copy) pathRotateZ(&p, -back);
    const int32_t n = static_cast<int32_t>(copy.size()), edge = side < 0 ? 0 : n - 1, dir = side < 0 ? 1 : -1;
    if (n < 2) return 1;
    int32_t j = edge;
    for (double acc = 0; j + dir >= 0 && j + dir < n && acc < toolRadius; j += dir)
        acc += dist3D(&copy[j], &copy[j + dir]);
    double param = 0;
    const double sd = bladeSignedDistance(pair, copy[j], &param);
    // The turn is that of the path's own direction against its copy in the blade's position, so a
    // path compared in place (turn back 0) is not rolled at all.
    const int32_t lo = std::max(j - 1, 0), hi = std::min(j + 1, n - 1);
    const Vec3 &a = copy[lo], &b = copy[hi], &pa = l->points[first + lo], &pb = l->points[first + hi];
    Vec3 along, own;
    if (!unitOf({b.x - a.x, b.y - a.y, b.z - a.z}, &along) ||
        !unitOf({pb.x - pa.x, pb.y - pa.y, pb.z - pa.z}, &own))
        return -1;
    const double radial = std::hypot(copy[edge].x, copy[edge].y);
    if (radial < 1e-5) return -1;
    const double turn = acosClamped(vecDot3D(&along, &own));
    const double roll = (sd < 0 ? -1 : 1) * std::tan(std::min(turn, 1.5)) * toolRadius / radial;
    const bool outer = k == 0 || k == 2;
    for (int32_t i = j;; i -= dir) {
        Vec3 q = copy[i];
        pathRotateZ(&q, roll);
        const double d = bladeSignedDistance(pair, q, &param);
        if (outer ? d >= 0 : (side < 0 || d <= 0)) {
            pathRotateZ(&q, back);
            l->points[first + i] = q;
        }
        if (i == edge) break;
    }
    const int32_t from = side < 0 ? 0 : last + 1, to = side < 0 ? first - 1 : l->count - 1;
    for (int32_t i = from; i <= to; ++i) pathRotateZ(&l->points[i], roll);
    return 1;
}

}  // namespace

int edgeRollingPass(PlistArray* lists, const ContourPair* pair, double toolRadius, int side, int splitterCase,
                    double pitch) {
    if (!lists || !pair || !pair->first || pair->first->count < 2 || lists->count < 4) return -1;
    for (int32_t k = 0; k < 4; ++k) {
        if (!splitterCase && (k == 1 || k == 2)) continue;
        const double back = k == 0 ? 0 : k == 3 ? pitch : pitch / 2;
        if (rollPath(lists->lists[k], k, pair, toolRadius, side, back) < 0) return -1;
    }
    return 1;
}

void rotatePathAboutAxis(Plist* path, double angle) {
    if (!path) return;
    for (int32_t i = 0; i < path->count; ++i) {
        pathRotateZ(&path->points[i], angle);
        if (path->vectors) pathRotateZ(&path->vectors[i], angle);
    }
}

int trimPathAtShroud(Plist* path, const HubShroud* pair, int reverse, double offset) {
    if (!usable(path) || !pair || !pair->shroud || pair->shroud->count < 2) return 0;
    if (reverse) plistReverse(path);
    const double end = pair->shroud->param[pair->shroud->count - 1];
    const std::vector<double> boxes = boxesOf(pair->shroud);
    int32_t lowest = -1;
    for (int32_t i = path->count - 1; i >= 0; --i) {
        double param = 0;
        const double d =
            closestPointProfile2DBoxed(pair->shroud, boxes.data(), &path->points[i], &param, nullptr);
        if (d > 0.5 - offset) {
            if (lowest >= 0 || std::fabs(param - end) >= 1e-5) lowest = i;
        } else if (lowest >= 0) {
            break;
        }
    }
    int result = 0;
    if (lowest > 0) {
        for (int32_t i = lowest; i < path->count; ++i) setKind(path, i, kPointMarked);
        result = 1;
    } else if (lowest == 0) {
        path->count = 0;
    }
    if (reverse) plistReverse(path);
    return result;
}

int trimPathAtCurve(Plist* path, const HubShroud* pair, int which, int reverse) {
    const Profile2D* curve = !pair ? nullptr : which == 1 ? pair->hub : pair->shroud;
    if (!usable(path) || !curve || curve->count < 2) return 0;
    if (reverse) plistReverse(path);
    int result = 0;
    const std::vector<double> boxes = boxesOf(curve);
    for (int32_t i = path->count - 2; i >= 0; --i) {
        if (closestPointProfile2DBoxed(curve, boxes.data(), &path->points[i], nullptr, nullptr) <= -0.01)
            break;
        setKind(path, i + 1, kPointMarked);
        result = 1;
    }
    if (reverse) plistReverse(path);
    return result;
}

int cutPathsAtLevel(PlistArray* lists, const HubShroud* level, double value) {
    if (!(value > 0) || !lists || !level || !level->hub) return 0;
    cutAt(lists, level->hub, value);
    return 1;
}

int cutPathsAtShroud(PlistArray* lists, const HubShroud* pair) {
    if (!lists || !pair || !pair->shroud) return 0;
    cutAt(lists, pair->shroud, 0.1);
    return 1;
}

int linkSidePaths(Plist* a, Plist* b) {
    return linkPathEnds(a, b);
}

int linkAcrossBlade(Plist* first, Plist* fourth, double pitch) {
    rotatePathAboutAxis(fourth, -pitch);
    const int rc = linkSidePaths(first, fourth);
    rotatePathAboutAxis(fourth, pitch);
    return rc;
}

int resetSplitterKinds(PlistArray* lists) {
    if (!lists || lists->count < 4 || !usable(lists->lists[1]) || !usable(lists->lists[2])) return 0;
    resetOne(lists->lists[1], lists->lists[0]);
    resetOne(lists->lists[2], lists->lists[3]);
    return 1;
}

int pathsEndClearOfShroud(const PlistArray* lists, const HubShroud* pair, int allSides) {
    if (!lists || !pair || !pair->shroud) return 1;
    for (int32_t k = 0; k < lists->count && k < 4; ++k) {
        if (!allSides && k != 0 && k != 3) continue;
        int32_t first, last;
        const Plist* l = lists->lists[k];
        if (!usable(l) || firstLastCutIndex(l, &first, &last) != 1) continue;
        if (std::fabs(closestPointProfile2D(pair->shroud, &l->points[last], nullptr, nullptr)) < 1e-5)
            return 0;
    }
    return 1;
}

int extendSidePaths(PlistArray* lists, double extLead, double extTrail) {
    if (!lists) return 1;
    for (int32_t k = 0; k < lists->count; ++k) {
        Plist* l = lists->lists[k];
        int32_t first, last;
        if (!usable(l) || firstLastCutIndex(l, &first, &last) != 1) continue;
        if (first > 0 && extLead > 0) extendTo(l, paramAlong(l, first, extLead, -1), first, -1);
        firstLastCutIndex(l, &first, &last);
        if (last < l->count - 1 && extTrail > 0) extendTo(l, paramAlong(l, last, extTrail, 1), last, 1);
    }
    return 1;
}

int buildSecondRegionLists(PlistArray* second, const PlistArray* lists, const HubShroud* hubCopy) {
    if (!second || !lists || !hubCopy || !hubCopy->shroud) return -1;
    const double h = channelHeight(hubCopy);
    // Every crossing searches the same shroud: its search boxes are taken once.
    std::vector<double> boxes;
    try {
        boxes.resize(static_cast<size_t>(profile2DBoxSize(hubCopy->shroud)));
    } catch (const std::bad_alloc&) {
        return -1;
    }
    profile2DBoxes(hubCopy->shroud, boxes.data());
    int added = 0;
    for (int32_t k = 0; k < lists->count; ++k) {
        std::unique_ptr<Plist, PlistFree> work(plistCreate(1000, 1));
        if (!work) return -1;
        const Plist* l = lists->lists[k];
        for (int32_t i = 0; l && l->vectors && i < l->count; ++i) {
            const Vec3 &p = l->points[i], &a = l->vectors[i];
            const Vec3 lo{p.x - h * a.x, p.y - h * a.y, p.z - h * a.z},
                hi{p.x + h * a.x, p.y + h * a.y, p.z + h * a.z};
            Vec3 hit;
            if (crossSegmentProfileExactBoxed(hubCopy->shroud, boxes.data(), &lo, &hi, &hit) != 1) continue;
            const uint16_t flag = kindOf(l, i) == kPointLink ? static_cast<uint16_t>(kPointLink << 8) : 0;
            if (plistAppend(work.get(), l->parameters[i], &hit, flag, &a, l->bytes ? l->bytes[i] : 0) < 0)
                return -1;
        }
        if (plistArrayAdd(second, work.get()) < 0) return -1;
        ++added;
    }
    return added;
}

int buildRegionPaths(PlistArray* lists, int32_t region, const RegionPathInputs* in, double pitch,
                     double splitterAngle, double tolerance) {
    if (!lists || !in || !in->levels || region < 0 || region >= in->levels->count) return -1;
    const CycleParams* cp = cycleParams();
    const HubShroud* level = in->levels->curves[region];
    const bool lastLevel = region == in->levels->count - 1;
    std::unique_ptr<Plist, PlistFree> work(plistCreate(kPlistMaxPoints, 1));
    if (!work) return -1;
    int result = 0;
    for (int32_t side = 0; side < 4; ++side) {
        work->count = 0;
        if ((side == 1 || side == 2) && !in->hasSplitter) {
            if (plistArrayAdd(lists, work.get()) < 0) return -1;
            continue;
        }
        const int rc = idx5BuildEdgeCurve(work.get(), level, side, pitch, splitterAngle, in->models,
                                          in->grids, in->contours, in->trace);
        if (rc < 0) return rc;
        if (cp->stepStrategy != 0) {
            if (!lastLevel)
                trimPathAtCurve(work.get(), in->levels->curves[region + 1], 1, 0);
            else if (!cp->extendCorner)
                trimPathAtCurve(work.get(), in->pair, 2, 0);
        } else if ((region > 0 || cp->extendCorner == 0) &&
                   trimPathAtShroud(work.get(), in->pair, 0, 0.0) > 0) {
            result = 1;
        }
        plistDropKind3(work.get());
        plistReducePoints(work.get(), 10 * tolerance, tolerance);
        plistDropKind3(work.get());
        if (plistArrayAdd(lists, work.get()) < 0) return -1;
    }
    return result;
}
