// Meridional profiles: construction, queries and editing.
#include "plunge/profile2d.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "KVWOG5/lists.h"
#include "contour/contourisect.h"
#include "contour/offsetboundary.h"
#include "contour/offsetcontour.h"
#include "geometry/profile.h"
#include "plunge/cycparams.h"
#include "plunge/plist3d.h"
#include "surfaces/Implib/slwrz.h"

namespace {

double rOf(const Vec3& p) {
    return std::sqrt(p.x * p.x + p.y * p.y);
}

bool reserve(Profile2D* p, int32_t capacity) {
    if (capacity <= p->capacity) return true;
    auto* pts = static_cast<Vec2*>(std::realloc(p->points, sizeof(Vec2) * static_cast<size_t>(capacity)));
    if (pts == nullptr) return false;
    p->points = pts;
    auto* par = static_cast<double*>(std::realloc(p->param, sizeof(double) * static_cast<size_t>(capacity)));
    if (par == nullptr) return false;
    p->param = par;
    p->capacity = capacity;
    return true;
}

Profile2D* fromPoints(const std::vector<Vec2>& pts) {
    Profile2D* p = newProfile2D(static_cast<int32_t>(pts.size()));
    if (p == nullptr) return nullptr;
    std::memcpy(p->points, pts.data(), sizeof(Vec2) * pts.size());
    p->count = static_cast<int32_t>(pts.size());
    recomputeProfile2DParams(p);
    return p;
}

void setPoints(Profile2D* p, const std::vector<Vec2>& pts) {
    // Callers never ask for more room than the profile has, or have reserved it.
    std::memcpy(p->points, pts.data(), sizeof(Vec2) * pts.size());
    p->count = static_cast<int32_t>(pts.size());
}

void rebuildSpline(Profile2D* p) {
    if (p->spline != nullptr) profile2DSpline(p);
}

Seg2D segOf(const Profile2D* p, int32_t i) {
    return {p->points[i].x, p->points[i].y, p->points[i + 1].x, p->points[i + 1].y};
}

Vec2 unitOr(const Vec2& v, bool* ok) {
    const double l = std::hypot(v.x, v.y);
    *ok = l >= 1e-5;
    return *ok ? Vec2{v.x / l, v.y / l} : Vec2{0.0, 0.0};
}

// The segment p-q lengthened at both ends by f/2 of itself.
void lengthen(Vec3* p, Vec3* q, double f) {
    const Vec3 d{q->x - p->x, q->y - p->y, q->z - p->z};
    const double h = 0.5 * f;
    *p = {p->x - h * d.x, p->y - h * d.y, p->z - h * d.z};
    *q = {q->x + h * d.x, q->y + h * d.y, q->z + h * d.z};
}

int crossByMeridian(const Profile2D* profile, const Vec3* p, const Vec3* q, Vec3* out, double f,
                    bool alwaysZ) {
    if (profile == nullptr || p == nullptr || q == nullptr || out == nullptr || profile->count < 2) return -1;
    Vec3 a = *p, b = *q;
    lengthen(&a, &b, f);
    const Seg2D m{rOf(a), a.z, rOf(b), b.z};
    const int32_t n = profile->count - 1;
    for (int32_t i = 0; i < n; ++i) {
        Seg2D s = segOf(profile, i);
        bool ok = true;
        const Vec2 u = unitOr({s.x2 - s.x1, s.y2 - s.y1}, &ok);
        if (i == 0) s.x1 -= 50.0 * u.x, s.y1 -= 50.0 * u.y;
        if (i == n - 1) s.x2 += 50.0 * u.x, s.y2 += 50.0 * u.y;
        Vec2 hit;
        if (segSegIsect2D(&m, &s, &hit) != 1) continue;
        const Vec3 pq{q->x - p->x, q->y - p->y, q->z - p->z};
        if (!alwaysZ && std::fabs(p->z - q->z) <= 0.5 * vecLen3D(&pq))
            return segmentPointAtRadius(&hit, p, q, out) == 1 ? 1 : -1;
        return segmentPointAtZ(p, q, hit.y, out) == 1 ? 1 : -1;
    }
    return 0;
}

}  // namespace

double signedAngle2D(const Vec2* a, const Vec2* b) {
    const double la = std::hypot(a->x, a->y), lb = std::hypot(b->x, b->y);
    if (la < 1e-5 || lb < 1e-5) return 0.0;
    const double w = acosClamped((a->x * b->x + a->y * b->y) / (la * lb));
    return a->x * b->y - a->y * b->x < 0.0 ? -w : w;
}

double polarAngle2D(const Vec2* v) {
    const Vec2 x{1.0, 0.0};
    return signedAngle2D(&x, v);
}

int meridianToWorld(const Vec2* p, double phi, Vec3* out) {
    *out = {p->x * std::cos(phi), p->x * std::sin(phi), p->y};
    return 1;
}

Profile2D* newProfile2D(int32_t capacity) {
    if (capacity < 1) capacity = 1;
    auto* p = static_cast<Profile2D*>(std::calloc(1, sizeof(Profile2D)));
    if (p == nullptr) return nullptr;
    p->points = static_cast<Vec2*>(std::calloc(static_cast<size_t>(capacity), sizeof(Vec2)));
    p->param = static_cast<double*>(std::calloc(static_cast<size_t>(capacity), sizeof(double)));
    p->capacity = capacity;
    if (p->points == nullptr || p->param == nullptr) {
        freeProfile2D(p);
        return nullptr;
    }
    return p;
}

Profile2D* copyProfile2D(const Profile2D* src) {
    if (src == nullptr) return nullptr;
    Profile2D* p = newProfile2D(src->capacity);
    if (p == nullptr) return nullptr;
    std::memcpy(p->points, src->points, sizeof(Vec2) * static_cast<size_t>(src->count));
    std::memcpy(p->param, src->param, sizeof(double) * static_cast<size_t>(src->count));
    p->count = src->count;
    return p;
}

void freeProfile2D(Profile2D* p) {
    if (p == nullptr) return;
    polyCurveFree(p->spline);
    std::free(p->points);
    std::free(p->param);
    std::free(p);
}

void recomputeProfile2DParams(Profile2D* p) {
    if (p == nullptr || p->count < 1) return;
    p->param[0] = 0.0;
    for (int32_t i = 1; i < p->count; ++i)
        p->param[i] = p->param[i - 1] + dist2D(&p->points[i - 1], &p->points[i]);
    rebuildSpline(p);
}

Profile2D* profile2DFromCurve(const ProfileCurve* curve) {
    if (curve == nullptr || curve->points == nullptr || curve->count < 1) return nullptr;
    std::vector<Vec2> pts;
    for (int32_t i = 0; i < curve->count; ++i)
        pts.push_back({std::hypot(curve->points[i].x, curve->points[i].y), curve->z ? curve->z[i] : 0.0});
    Profile2D* p = fromPoints(pts);
    if (p == nullptr) return nullptr;
    if (p->points[0].y < p->points[p->count - 1].y) reverseProfile2D(p);
    if (cycleParams()->impReverse) reverseProfile2D(p);
    return p;
}

Profile2D* profile2DFromPlist3D(const Plist3D* list) {
    if (list == nullptr || list->count < 1) return nullptr;
    std::vector<Vec2> pts;
    for (int32_t i = 0; i < list->count; ++i) pts.push_back({rOf(list->points[i]), list->points[i].z});
    Profile2D* p = fromPoints(pts);
    if (p != nullptr && p->points[0].y < p->points[p->count - 1].y) reverseProfile2D(p);
    return p;
}

namespace {

// The offset of a point chain as the contour offset gives it, or null.
Profile2D* offsetChain(const std::vector<Vec2>& points, double d) {
    const int32_t n = static_cast<int32_t>(points.size()) - 1;
    if (n < 1) return nullptr;
    std::vector<Seg2D> segs(static_cast<size_t>(n)), out(static_cast<size_t>(2 * n + 1));
    for (int32_t i = 0; i < n; ++i) segs[i] = {points[i].x, points[i].y, points[i + 1].x, points[i + 1].y};
    const int side = d >= 0.0 ? 1 : -1;
    const double dist = std::fabs(d);
    int k;
    if (n == 1) {
        // The boundary offset wants two elements; one segment moves by its normal (none without length).
        Vec2 nrm;
        if (segNormal2D(&segs[0], &nrm, side) != 1) return nullptr;
        out[0] = {segs[0].x1 + dist * nrm.x, segs[0].y1 + dist * nrm.y, segs[0].x2 + dist * nrm.x,
                  segs[0].y2 + dist * nrm.y};
        k = 1;
    } else if (n > 2) {
        k = offsetContour2D(segs.data(), n, dist, out.data(), side, 0.0);
    } else {
        k = offsetBoundary(segs.data(), n, dist, out.data(), side, 2 * n + 1);
    }
    if (k <= 0) return nullptr;
    std::vector<Vec2> pts{{out[0].x1, out[0].y1}};
    for (int k2 = 0; k2 < k; ++k2) pts.push_back({out[k2].x2, out[k2].y2});
    Profile2D* p = fromPoints(pts);
    if (p == nullptr) return nullptr;
    cutProfile2DAtReversal(p);
    recomputeProfile2DParams(p);
    return p;
}

// An offset whose loops did not reach its ends starts and ends at the distance from the ends of its
// source.
bool endsAtDistance(const Profile2D* offset, const Profile2D* source, double d) {
    if (offset == nullptr || offset->count < 2) return false;
    const Vec2 &a = offset->points[0], &b = offset->points[offset->count - 1];
    return std::fabs(dist2D(&a, &source->points[0]) - std::fabs(d)) <= 0.05 &&
           std::fabs(dist2D(&b, &source->points[source->count - 1]) - std::fabs(d)) <= 0.05;
}

// The points of the chain without those that lie within tol of the chord of their neighbours kept
// (Douglas-Peucker): a smooth profile sampled every few microns keeps its shape to tol with a small
// fraction of its points.
std::vector<Vec2> thinChain(const Vec2* points, int32_t count, double tol) {
    std::vector<char> keep(static_cast<size_t>(count), 0);
    keep[0] = keep[static_cast<size_t>(count - 1)] = 1;
    std::vector<std::pair<int32_t, int32_t>> spans{{0, count - 1}};
    while (!spans.empty()) {
        const auto [a, b] = spans.back();
        spans.pop_back();
        const Seg2D chord{points[a].x, points[a].y, points[b].x, points[b].y};
        double worst = -1.0;
        int32_t at = -1;
        for (int32_t i = a + 1; i < b; ++i) {
            const double e = distPointSeg2D(&points[i], &chord);
            if (e > worst) worst = e, at = i;
        }
        if (at < 0 || worst <= tol) continue;
        keep[static_cast<size_t>(at)] = 1;
        spans.push_back({a, at});
        spans.push_back({at, b});
    }
    std::vector<Vec2> out;
    for (int32_t i = 0; i < count; ++i)
        if (keep[static_cast<size_t>(i)]) out.push_back(points[i]);
    return out;
}

constexpr double kThinTol = 1e-4;

// Each point moved by |d| along its normal (left for d >= 0, as offsetChain), the two segments' unit
// normals averaged and lengthened so that both segments keep the distance; points nearer the chain than
// the distance less a micron are dropped, and the result is cut at its first reversal.
Profile2D* offsetAlongNormals(const std::vector<Vec2>& pts, double d) {
    const int32_t n = static_cast<int32_t>(pts.size());
    if (n < 2) return nullptr;
    const int side = d >= 0.0 ? 1 : -1;
    const double dist = std::fabs(d);
    std::vector<Vec2> normals(static_cast<size_t>(n - 1));
    for (int32_t i = 0; i + 1 < n; ++i) {
        const Seg2D seg{pts[i].x, pts[i].y, pts[i + 1].x, pts[i + 1].y};
        if (segNormal2D(&seg, &normals[i], side) != 1) normals[i] = i > 0 ? normals[i - 1] : Vec2{0, 0};
    }
    std::vector<Vec2> out;
    for (int32_t i = 0; i < n; ++i) {
        const Vec2 a = normals[std::max(i - 1, 0)], b = normals[std::min(i, n - 2)];
        Vec2 m{a.x + b.x, a.y + b.y};
        const double len = std::hypot(m.x, m.y);
        if (len < 1e-9) continue;  // a turn back on itself has no offset point
        m = {m.x / len, m.y / len};
        const double c = m.x * b.x + m.y * b.y;
        const double reach = dist / std::max(c, 0.1);
        const Vec2 q{pts[i].x + reach * m.x, pts[i].y + reach * m.y};
        if (polylineDistance2D(pts.data(), n, &q, nullptr) >= dist - 1e-3) out.push_back(q);
    }
    if (out.size() < 2) return nullptr;
    Profile2D* p = fromPoints(out);
    if (p == nullptr) return nullptr;
    cutProfile2DAtReversal(p);
    recomputeProfile2DParams(p);
    return p;
}

}  // namespace

Profile2D* profile2DOffset(const Profile2D* profile, double d) {
    if (profile == nullptr || profile->count < 2) return nullptr;
    Profile2D* p = offsetChain(std::vector<Vec2>(profile->points, profile->points + profile->count), d);
    if (endsAtDistance(p, profile, d)) return p;
    // The contour offset gives up on a long chain whose offset has loops to cut (it assembles at
    // most kOffsetAssemblyMax elements, and its retries drop every element shorter than 0.01, which
    // is every element of a finely sampled profile): it then gives nothing, or a remnant of a few points
    // that no longer follows the profile. The same offset of the profile thinned to a tenth of a
    // micron is taken instead when its ends lie where an offset's must.
    const std::vector<Vec2> thin = thinChain(profile->points, profile->count, kThinTol);
    Profile2D* q = static_cast<int32_t>(thin.size()) == profile->count ? nullptr : offsetChain(thin, d);
    if (endsAtDistance(q, profile, d)) {
        freeProfile2D(p);
        return q;
    }
    freeProfile2D(q);
    // Even so it can give a remnant (the loop of a bend tighter than the distance): the points moved
    // along their normals, without those that come nearer the profile than the distance (they lie in
    // the loops), are the offset then. A remnant passed on would stand for the whole profile.
    Profile2D* r = offsetAlongNormals(thin, d);
    if (endsAtDistance(r, profile, d)) {
        freeProfile2D(p);
        return r;
    }
    freeProfile2D(r);
    return p;
}

ChannelSection* channelSectionCreate(const Vec3* reference, const Profile2D* profile, double length) {
    if (reference == nullptr || profile == nullptr) return nullptr;
    auto* s = static_cast<ChannelSection*>(std::calloc(1, sizeof(ChannelSection)));
    if (s == nullptr) return nullptr;
    s->reference = *reference;
    s->profile = profile2DOffset(profile, 0.0);
    if (s->profile == nullptr || extendProfile2D(s->profile, length) != 1) {
        channelSectionFree(s);
        return nullptr;
    }
    return s;
}

void channelSectionFree(ChannelSection* s) {
    if (s == nullptr) return;
    freeProfile2D(s->profile);
    std::free(s);
}

int channelSectionCoords(const ChannelSection* s, Vec2* out, const Vec3* p) {
    const Vec2 a{p->x, p->y}, ref{s->reference.x, s->reference.y};
    double param = 0.0;
    int32_t seg = 0;
    out->x = signedAngle2D(&a, &ref) * rOf(*p);
    out->y = -closestPointProfile2D(s->profile, p, &param, &seg);
    return 1;
}

int32_t evalProfile2D(const Profile2D* p, double s, Vec2* out) {
    if (p == nullptr || p->count < 1) return -1;
    const int32_t last = p->count - 1;
    if (last == 0) {
        *out = p->points[0];
        return 0;
    }
    if (s < p->param[0]) s = p->param[0];
    if (s > p->param[last] + 1e-5) s = p->param[last];
    int32_t i = 1;
    while (i < last && !(p->param[i] > s - 1e-5)) ++i;
    if (std::fabs(s - p->param[i - 1]) <= 1e-5) {
        *out = p->points[i - 1];
        return i - 1;
    }
    const double len = p->param[i] - p->param[i - 1];
    const double f = len > 0.0 ? (s - p->param[i - 1]) / len : 0.0;
    *out = {p->points[i - 1].x + f * (p->points[i].x - p->points[i - 1].x),
            p->points[i - 1].y + f * (p->points[i].y - p->points[i - 1].y)};
    return i - 1;
}

double profileParamAtPoint(const Profile2D* p, int32_t i, const Vec2* point) {
    if (i + 1 >= p->count) return p->param[i];
    const double len = dist2D(&p->points[i], &p->points[i + 1]);
    if (len < 1e-5) return p->param[i];
    return p->param[i] + dist2D(&p->points[i], point) / len * (p->param[i + 1] - p->param[i]);
}

namespace {

// Whether the segment's line lies farther than best from q: every point the segment test measures
// lies on that line, so such a segment cannot come nearer. Short segments are always measured.
bool lineBeyond(const Vec2& q, const Seg2D& s, double best) {
    const double ux = s.x2 - s.x1, uy = s.y2 - s.y1, len2 = ux * ux + uy * uy;
    return len2 > 1e-6 && std::fabs((q.x - s.x1) * uy - (q.y - s.y1) * ux) > (best + 1e-9) * std::sqrt(len2);
}

constexpr int32_t kBlock = 32;
constexpr int32_t kGroup = 16;  // blocks per group

int32_t blockCount(const Profile2D* p) {
    const int32_t segments = p == nullptr ? 0 : p->count - 1;
    return segments > 0 ? (segments + kBlock - 1) / kBlock : 0;
}

// Four numbers per block, then four per group of kGroup blocks.
int32_t blockBoxSize(const Profile2D* p) {
    const int32_t blocks = blockCount(p);
    return 4 * (blocks + (blocks + kGroup - 1) / kGroup);
}

// The boxes of the points of each block of kBlock segments (x0, x1, y0, y1), which do not depend on
// the point searched from: a search of many points of one profile takes them once.
void fillBlockBoxes(const Profile2D* p, double* boxes) {
    const int32_t segments = p->count - 1;
    for (int32_t b = 0; b * kBlock < segments; ++b) {
        const int32_t first = b * kBlock, last = std::min(first + kBlock, segments);
        double* box = &boxes[4 * static_cast<size_t>(b)];
#if defined(__SSE2__)
        // Both coordinates at once: minpd(v, lo) is std::min(lo, v) (lo kept on a tie and for a NaN v),
        // maxpd(v, hi) likewise std::max(hi, v).
        __m128d lo = _mm_set1_pd(INFINITY), hi = _mm_set1_pd(-INFINITY);
        for (int32_t i = first; i <= last; ++i) {
            const __m128d v = _mm_loadu_pd(&p->points[i].x);
            lo = _mm_min_pd(v, lo), hi = _mm_max_pd(v, hi);
        }
        box[0] = _mm_cvtsd_f64(lo), box[1] = _mm_cvtsd_f64(hi);
        box[2] = _mm_cvtsd_f64(_mm_unpackhi_pd(lo, lo)), box[3] = _mm_cvtsd_f64(_mm_unpackhi_pd(hi, hi));
#else
        double x0 = INFINITY, x1 = -INFINITY, y0 = INFINITY, y1 = -INFINITY;
        for (int32_t i = first; i <= last; ++i) {
            const Vec2& v = p->points[i];
            x0 = std::min(x0, v.x), x1 = std::max(x1, v.x), y0 = std::min(y0, v.y), y1 = std::max(y1, v.y);
        }
        box[0] = x0, box[1] = x1, box[2] = y0, box[3] = y1;
#endif
    }
    // Each group's box holds its blocks' boxes, so no block lies nearer a point than its group; a block
    // box that is not ordered (a point that is not a number) gives its group none (x0 = NaN), which
    // keeps the group as such a block is kept.
    const int32_t blocks = blockCount(p);
    double* groups = boxes + 4 * static_cast<size_t>(blocks);
    for (int32_t g = 0; g * kGroup < blocks; ++g) {
        double x0 = INFINITY, x1 = -INFINITY, y0 = INFINITY, y1 = -INFINITY;
        bool ordered = true;
        for (int32_t b = g * kGroup; b < std::min(blocks, (g + 1) * kGroup); ++b) {
            const double* box = &boxes[4 * static_cast<size_t>(b)];
            ordered = ordered && box[0] <= box[1] && box[2] <= box[3];
            x0 = std::min(x0, box[0]), x1 = std::max(x1, box[1]), y0 = std::min(y0, box[2]),
            y1 = std::max(y1, box[3]);
        }
        double* group = &groups[4 * static_cast<size_t>(g)];
        group[0] = ordered ? x0 : NAN, group[1] = x1, group[2] = y0, group[3] = y1;
    }
}

void blockBoxes(const Profile2D* p, std::vector<double>* boxes) {
    boxes->resize(static_cast<size_t>(blockBoxSize(p)));
    fillBlockBoxes(p, boxes->data());
}

// closestPointProfile2D from a segment believed near (hint; -1: none): its distance bounds the search
// from the start, and the first segment of the smallest distance still wins. The segments go in
// blocks with the boxes of their points, grown by what the segment test's foot may lie beyond a
// segment; a block whose box, or a segment whose line, lies farther than the bound holds no nearer
// point. Without a hint the block with the nearest box is measured first for the bound; the order of
// the measures cannot change the answer. boxes: the profile's blockBoxes, or null to take them here.
double closestFrom(const Profile2D* p, const Vec3* pt, double* param, int32_t* segment, int32_t hint,
                   const double* boxes = nullptr) {
    const Vec2 q{rOf(*pt), pt->z};
    if (p == nullptr || p->count < 1) return 1e300;
    if (p->count == 1) {
        if (param) *param = p->param[0];
        if (segment) *segment = 0;
        return dist2D(&q, &p->points[0]);
    }
    constexpr double kGrow = 3.2e-3;
    const int32_t segments = p->count - 1;
    double best = 1e300;
    int32_t bi = 0;
    Vec2 foot{};
    const bool hinted = hint >= 0 && hint + 1 < p->count;
    if (hinted) {
        const Seg2D s = segOf(p, hint);
        best = distPointSegNear2D(&q, &s, &foot);
        bi = hint;
    }
    std::vector<double> own;
    if (boxes == nullptr) {
        blockBoxes(p, &own);
        boxes = own.data();
    }
    // Each block's distance is that of its grown box; a point or box that is not a number keeps it.
    // A group's distance is at most each of its blocks' (its box holds theirs, and every operation
    // below keeps the order of its operands), so a group farther than a bound holds no block nearer.
    auto boxDistance = [&](const double* box) {
        const double x0 = box[0], x1 = box[1], y0 = box[2], y1 = box[3];
        const double dx = std::max({x0 - kGrow - q.x, 0.0, q.x - x1 - kGrow});
        const double dy = std::max({y0 - kGrow - q.y, 0.0, q.y - y1 - kGrow});
        return x0 <= x1 && y0 <= y1 ? std::sqrt(dx * dx + dy * dy) : 0.0;
    };
    const int32_t blocks = (segments + kBlock - 1) / kBlock;
    auto blockDistance = [&](int32_t b) { return boxDistance(&boxes[4 * static_cast<size_t>(b)]); };
    auto groupDistance = [&](int32_t g) {
        return boxDistance(&boxes[4 * (static_cast<size_t>(blocks) + static_cast<size_t>(g))]);
    };
    auto measure = [&](int32_t b) {
        const int32_t last = std::min(b * kBlock + kBlock, segments);
        for (int32_t i = b * kBlock; i < last; ++i) {
            const Seg2D s = segOf(p, i);
            // The segment as a block of its own: its grown box, then its line.
            const double box[4] = {std::min(s.x1, s.x2), std::max(s.x1, s.x2), std::min(s.y1, s.y2),
                                   std::max(s.y1, s.y2)};
            if (boxDistance(box) > best + 1e-9 || lineBeyond(q, s, best)) continue;
            Vec2 f;
            const double d = distPointSegNear2D(&q, &s, &f);
            if (d < best || (d == best && i < bi)) best = d, bi = i, foot = f;
        }
    };
    int32_t first = -1;
    if (!hinted) {
        double nearest = INFINITY;
        for (int32_t g = 0; g * kGroup < blocks; ++g) {
            if (groupDistance(g) >= nearest) continue;  // no block of it is nearer
            for (int32_t b = g * kGroup; b < std::min(blocks, (g + 1) * kGroup); ++b) {
                const double d = blockDistance(b);
                if (d < nearest) nearest = d, first = b;
            }
        }
        if (first >= 0) measure(first);
    }
    for (int32_t g = 0; g * kGroup < blocks; ++g) {
        if (groupDistance(g) > best + 1e-9) continue;  // every block of it would be passed over
        for (int32_t b = g * kGroup; b < std::min(blocks, (g + 1) * kGroup); ++b)
            if (b != first && !(blockDistance(b) > best + 1e-9)) measure(b);
    }
    const Seg2D s = segOf(p, bi);
    bool ok = true;
    const Vec2 u = unitOr({s.x2 - s.x1, s.y2 - s.y1}, &ok);
    const double cross = u.x * (q.y - foot.y) - u.y * (q.x - foot.x);
    if (param) *param = profileParamAtPoint(p, bi, &foot);
    if (segment) *segment = bi;
    return cross < 0.0 ? -best : best;
}

}  // namespace

double closestPointProfile2D(const Profile2D* p, const Vec3* pt, double* param, int32_t* segment) {
    return closestFrom(p, pt, param, segment, -1);
}

int32_t profile2DBoxSize(const Profile2D* profile) {
    return blockBoxSize(profile);
}

void profile2DBoxes(const Profile2D* profile, double* boxes) {
    if (blockBoxSize(profile) > 0) fillBlockBoxes(profile, boxes);
}

double closestPointProfile2DBoxed(const Profile2D* profile, const double* boxes, const Vec3* p, double* param,
                                  int32_t* segment) {
    return closestFrom(profile, p, param, segment, -1, boxes);
}

double polylineDistance2D(const Vec2* points, int32_t count, const Vec2* point, Vec2* foot) {
    double best = 1e300;
    if (count == 1) {
        if (foot) *foot = points[0];
        return dist2D(point, &points[0]);
    }
    for (int32_t i = 0; i + 1 < count; ++i) {
        const Seg2D s{points[i].x, points[i].y, points[i + 1].x, points[i + 1].y};
        Vec2 f;
        const double d = distPointSegNear2D(point, &s, &f);
        if (d < best) {
            best = d;
            if (foot) *foot = f;
        }
    }
    return best;
}

int profileSideOf(const Profile2D* a, const Profile2D* b) {
    const Vec2 p0 = b->points[0], p1 = b->points[b->count > 1 ? 1 : 0];
    Vec2 f = p0;
    polylineDistance2D(a->points, a->count, &p0, &f);
    const double cross = (p1.x - p0.x) * (f.y - p0.y) - (p1.y - p0.y) * (f.x - p0.x);
    return cross >= 0.0 ? 2 : 1;
}

int reverseProfile2D(Profile2D* p) {
    if (p == nullptr) return -1;
    for (int32_t i = 0, j = p->count - 1; i < j; ++i, --j) std::swap(p->points[i], p->points[j]);
    recomputeProfile2DParams(p);
    return 1;
}

int trimProfile2DStart(Profile2D* p, double s) {
    Vec2 e;
    int32_t i = evalProfile2D(p, s, &e);
    if (i < 0) return -1;
    if (i + 1 < p->count && dist2D(&p->points[i + 1], &e) <= 1e-5) ++i;
    const int32_t keep = p->count - i;
    std::memmove(p->points, p->points + i, sizeof(Vec2) * static_cast<size_t>(keep));
    std::memmove(p->param, p->param + i, sizeof(double) * static_cast<size_t>(keep));
    p->count = keep;
    p->points[0] = e;
    p->param[0] = s;
    for (int32_t k = 0; k < p->count; ++k) p->param[k] -= s;
    rebuildSpline(p);
    return 1;
}

int extendProfile2D(Profile2D* p, double d) {
    if (p == nullptr || p->count < 2 || !reserve(p, p->count + 2)) return -1;
    std::vector<Vec2> pts(p->points, p->points + p->count);
    bool ok = true;
    const Vec2 u0 = unitOr({pts[0].x - pts[1].x, pts[0].y - pts[1].y}, &ok);
    // An end segment without length gives no direction: that end stays as it is.
    if (ok) pts.insert(pts.begin(), Vec2{pts[0].x + d * u0.x, pts[0].y + d * u0.y});
    const size_t n = pts.size();
    const Vec2 u1 = unitOr({pts[n - 1].x - pts[n - 2].x, pts[n - 1].y - pts[n - 2].y}, &ok);
    if (ok) pts.push_back({pts[n - 1].x + d * u1.x, pts[n - 1].y + d * u1.y});
    setPoints(p, pts);
    recomputeProfile2DParams(p);
    return 1;
}

int appendProfile2DPoint(Profile2D* p, double d) {
    if (p == nullptr || p->count < 2 || !reserve(p, p->count + 1)) return -1;
    const Vec2 a = p->points[p->count - 2], b = p->points[p->count - 1];
    bool ok = true;
    const Vec2 u = unitOr({b.x - a.x, b.y - a.y}, &ok);
    if (ok) p->points[p->count++] = {b.x + d * u.x, b.y + d * u.y};
    recomputeProfile2DParams(p);
    return 1;
}

int32_t dropCloseProfilePoints(Vec2* points, int32_t count, double d) {
    if (points == nullptr || count < 1) return 0;
    int32_t k = 1;
    for (int32_t i = 1; i < count; ++i)
        if (dist2D(&points[i], &points[k - 1]) >= d) points[k++] = points[i];
    return k;
}

int cutProfile2DAtCrossing(Profile2D* p, const Seg2D* segment) {
    if (p == nullptr || segment == nullptr) return 0;
    for (int32_t i = p->count - 2; i >= 0; --i) {
        const Seg2D s = segOf(p, i);
        IsectRecord rec[4];
        if (contour_pair_isect2D(&s, 1, segment, 1, rec, 4) <= 0) continue;
        p->points[i + 1] = {rec[0].x, rec[0].y};
        p->count = dropCloseProfilePoints(p->points, i + 2, 0.01);
        recomputeProfile2DParams(p);
        return 1;
    }
    return 0;
}

int cutProfile2DAtReversal(Profile2D* p) {
    if (p == nullptr) return 0;
    for (int32_t i = p->count / 2 + 1; i <= p->count - 2; ++i) {
        const Vec2 in{p->points[i].x - p->points[i - 1].x, p->points[i].y - p->points[i - 1].y};
        const Vec2 out{p->points[i + 1].x - p->points[i].x, p->points[i + 1].y - p->points[i].y};
        if (std::hypot(in.x, in.y) < 1e-5 || std::hypot(out.x, out.y) < 1e-5) continue;
        if (in.x * out.x + in.y * out.y < 0.0) {
            p->count = i + 1;
            rebuildSpline(p);
            return 1;
        }
    }
    rebuildSpline(p);
    return 0;
}

int fitProfile2DToSpan(Profile2D* a, Profile2D* b) {
    if (a == nullptr || b == nullptr || a->count < 2 || b->count < 2) return -1;
    if (extendProfile2D(b, 0.1 * (b->param[b->count - 1] - b->param[0])) != 1) return -1;
    const Vec3 first{a->points[0].x, 0.0, a->points[0].y},
        last{a->points[a->count - 1].x, 0.0, a->points[a->count - 1].y};
    double s = 0.0;
    int32_t seg = 0;
    closestPointProfile2D(b, &first, &s, &seg);
    if (trimProfile2DStart(b, s) != 1) return -1;
    if (b->count > 1) {
        closestPointProfile2D(b, &last, &s, &seg);
        Vec2 e;
        const int32_t i = evalProfile2D(b, s, &e);
        b->points[i + 1] = e;
        b->count = i + 2;
    }
    recomputeProfile2DParams(b);
    const double la = a->param[a->count - 1], lb = b->param[b->count - 1];
    if (lb > 0.0)
        for (int32_t k = 0; k < b->count; ++k) b->param[k] *= la / lb;
    return 1;
}

Profile2D* joinProfiles2D(const Profile2D* a, const Profile2D* b, double* s, int32_t* flag) {
    if (a == nullptr || b == nullptr || a->count < 2 || b->count < 1) return nullptr;
    *flag = 0;
    std::vector<Seg2D> chainA(static_cast<size_t>(a->count - 1));
    for (int32_t j = 0; j + 1 < a->count; ++j) chainA[j] = segOf(a, j);
    std::vector<IsectRecord> table(static_cast<size_t>(a->count) + 8);
    std::vector<Vec2> pts;
    for (int32_t i = 1; i < b->count; ++i) {
        const Seg2D sb = segOf(b, i - 1);
        const int n = contour_pair_isect2D(&sb, 1, chainA.data(), a->count - 1, table.data(),
                                           static_cast<int32_t>(table.size()));
        // A search that failed (memory short) has not shown that b misses a.
        if (n < 0) return nullptr;
        if (n == 0) continue;
        // The crossing nearest to the segment's start is where b first meets a.
        int best = 0;
        for (int k = 1; k < n; ++k) {
            const Vec2 xk{table[k].x, table[k].y}, xb{table[best].x, table[best].y};
            if (dist2D(&b->points[i - 1], &xk) < dist2D(&b->points[i - 1], &xb)) best = k;
        }
        const Vec2 x{table[best].x, table[best].y};
        *s = profileParamAtPoint(b, i - 1, &x);
        pts.assign(b->points, b->points + i);
        pts.push_back(x);
        for (int32_t k = table[best].j; k < a->count; ++k) pts.push_back(a->points[k]);
        return fromPoints(pts);
    }
    if (profileSideOf(a, b) == 1) {
        *s = b->param[0];
        pts.assign(b->points, b->points + b->count);
    } else {
        *s = -1.0;
        *flag = 1;
        pts.assign(a->points + 1, a->points + a->count);
    }
    return fromPoints(pts);
}

int profile2DSpline(Profile2D* p) {
    if (p == nullptr) return -1;
    polyCurveFree(p->spline);
    p->spline = nullptr;
    if (p->count < 3) return -1;
    std::vector<Vec3> pts;
    for (int32_t i = 0; i < p->count; ++i) pts.push_back({p->points[i].x, p->points[i].y, 0.0});
    p->spline = splineThroughPoints(pts.data(), p->count, kSplineChord);
    return p->spline != nullptr ? 1 : -1;
}

int segmentPointAtZ(const Vec3* a, const Vec3* b, double z, Vec3* out) {
    const double dz = b->z - a->z;
    if (std::fabs(dz) < 1e-12) return -1;
    const double t = (z - a->z) / dz;
    *out = {a->x + t * (b->x - a->x), a->y + t * (b->y - a->y), z};
    return 1;
}

int segmentPointAtRadius(const Vec2* target, const Vec3* a, const Vec3* b, Vec3* out) {
    if (std::fabs(rOf(*a) - target->x) < 1.0) return segmentPointAtZ(a, b, target->y, out);
    const Seg2D line{a->x, a->y, b->x, b->y};
    double circle[7] = {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, target->x};
    Vec2 h1{}, h2{};
    const int n = lineCircleIsect2D(&line, circle, &h1, &h2);
    if (n <= 0) return -1;
    Vec2 hit = h1;
    if (n >= 2) {
        const Vec2 pa{a->x, a->y}, pb{b->x, b->y};
        // Of two hits the one nearer (in plan) to the end whose radius is closer to the target.
        const Vec2 ref = std::fabs(rOf(*a) - target->x) <= std::fabs(rOf(*b) - target->x) ? pa : pb;
        hit = dist2D(&h1, &ref) < dist2D(&h2, &ref) ? h1 : h2;
    }
    *out = {hit.x, hit.y, target->y};
    return 1;
}

int crossSegmentProfileExact(const Profile2D* profile, const Vec3* p, const Vec3* q, Vec3* out) {
    if (profile == nullptr || p == nullptr || q == nullptr || out == nullptr || profile->count < 1) return -1;
    std::vector<double> boxes;
    try {
        if (profile->count > 1) blockBoxes(profile, &boxes);
    } catch (const std::bad_alloc&) {
        return -1;
    }
    return crossSegmentProfileExactBoxed(profile, boxes.data(), p, q, out);
}

int crossSegmentProfileExactBoxed(const Profile2D* profile, const double* boxes, const Vec3* p, const Vec3* q,
                                  Vec3* out) {
    if (profile == nullptr || p == nullptr || q == nullptr || out == nullptr || profile->count < 1) return -1;
    if (profile->count > 1 && boxes == nullptr) return crossSegmentProfileExact(profile, p, q, out);
    Vec3 a = *p, b = *q;
    // The bisection's points draw together: each search starts from the segment nearest to the last.
    int32_t hint = -1;
    double da = closestFrom(profile, &a, nullptr, &hint, -1, boxes);
    double db = closestFrom(profile, &b, nullptr, &hint, hint, boxes);
    if (std::fabs(da) <= 1e-5) return *out = a, 1;
    if (std::fabs(db) <= 1e-5) return *out = b, 1;
    if ((da > 0.0) == (db > 0.0)) return 0;
    while (dist3D(&a, &b) > 0.0001) {
        const Vec3 m{0.5 * (a.x + b.x), 0.5 * (a.y + b.y), 0.5 * (a.z + b.z)};
        const double dm = closestFrom(profile, &m, nullptr, &hint, hint, boxes);
        if ((dm > 0.0) == (da > 0.0))
            a = m, da = dm;
        else
            b = m, db = dm;
    }
    *out = da >= 0.0 ? a : b;
    return std::fabs(da >= 0.0 ? da : db) > 0.1 ? -1 : 1;
}

int crossSegmentProfile(const Profile2D* profile, const Vec3* p, const Vec3* q, Vec3* out, double f) {
    if (std::fabs(f) <= 1e-5) {
        const int rc = crossSegmentProfileExact(profile, p, q, out);
        if (rc >= 0) return rc;
    }
    return crossByMeridian(profile, p, q, out, f, false);
}

int crossSegmentProfileAlt(const Profile2D* profile, const Vec3* p, const Vec3* q, Vec3* out, double f) {
    return crossByMeridian(profile, p, q, out, f, true);
}

int crossSegmentProfileTwice(const Profile2D* profile, const Vec3* p, const Vec3* q, Vec3* out) {
    const int rc = crossSegmentProfile(profile, p, q, out, 0.5);
    return rc == 0 ? crossSegmentProfile(profile, p, q, out, 20.0) : rc;
}

struct ProfileLineCross {
    const Profile2D* profile;  // the caller's, for the fallback crossing
    std::vector<Vec2> points;  // both ends lengthened by 50
    Profile2D work;            // the lengthened points with the source's lengths array and no spline
    std::vector<double> boxes;
    std::vector<double> blocks;  // the crossing's edge blocks
};

ProfileLineCross* profileLineCrossCreate(const Profile2D* profile) {
    if (profile == nullptr || profile->count < 2) return nullptr;
    auto* c = new (std::nothrow) ProfileLineCross{};
    if (c == nullptr) return nullptr;
    // The segment may pass just beyond the profile: the working copy runs 50 further at both ends.
    // Only its points are read (crossings and distances), so it keeps the source's lengths array.
    const int32_t n = profile->count;
    try {
        c->points.assign(profile->points, profile->points + n);
    } catch (const std::bad_alloc&) {
        delete c;
        return nullptr;
    }
    c->profile = profile;
    c->work = Profile2D{n, n, c->points.data(), profile->param, nullptr};
    Profile2D* ext = &c->work;
    bool ok = true;
    const Vec2 u0 = unitOr({ext->points[0].x - ext->points[1].x, ext->points[0].y - ext->points[1].y}, &ok);
    if (ok) ext->points[0] = {ext->points[0].x + 50.0 * u0.x, ext->points[0].y + 50.0 * u0.y};
    Vec2 from = ext->points[n - 2];
    if (dist2D(&ext->points[n - 1], &from) < 0.001 && n >= 3) from = ext->points[n - 3];
    const Vec2 u1 = unitOr({ext->points[n - 1].x - from.x, ext->points[n - 1].y - from.y}, &ok);
    if (ok) ext->points[n - 1] = {ext->points[n - 1].x + 50.0 * u1.x, ext->points[n - 1].y + 50.0 * u1.y};
    try {
        blockBoxes(ext, &c->boxes);
        c->blocks.resize(static_cast<size_t>(slwrzBlockSize(n)));
        slwrzBlocks(ext->points, n, c->blocks.data());
    } catch (const std::bad_alloc&) {
        delete c;
        return nullptr;
    }
    return c;
}

void profileLineCrossFree(ProfileLineCross* cross) {
    delete cross;
}

int crossLineProfile(const Profile2D* profile, const Vec3* p, const Vec3* q, Vec3* out, double f) {
    if (profile == nullptr || p == nullptr || q == nullptr || out == nullptr || profile->count < 2) return -1;
    ProfileLineCross* cross = profileLineCrossCreate(profile);
    if (cross == nullptr) return -1;
    const int rc = crossLineProfilePrepared(cross, p, q, out, f);
    profileLineCrossFree(cross);
    return rc;
}

int crossLineProfilePrepared(const ProfileLineCross* cross, const Vec3* p, const Vec3* q, Vec3* out,
                             double f) {
    if (cross == nullptr || p == nullptr || q == nullptr || out == nullptr) return -1;
    const Profile2D* ext = &cross->work;
    const double* boxes = cross->boxes.data();
    PointList3D* hits = pointList3DCreate(8);
    if (hits == nullptr) return -1;
    auto intersect = [&](const Vec3& a, const Vec3& b) {
        hits->count = 0;
        const double seg[6] = {a.x, a.y, a.z, b.x, b.y, b.z};
        return slwrzBlocked(ext->points, ext->count, cross->blocks.data(), seg, hits);
    };
    // The first hit's distance is kept for the pick when no second search came between.
    auto distance = [&](const Vec3& x) { return closestFrom(ext, &x, nullptr, nullptr, -1, boxes); };
    double firstDist = NAN;
    auto pick = [&]() {
        int best = -1;
        double bestD = 1e300;
        for (int32_t k = 0; k < hits->count; ++k) {
            const double dk = k == 0 && !std::isnan(firstDist) ? firstDist : distance(hits->data[k]);
            if (dk > 5.0) continue;
            const double d = dist3D(&hits->data[k], p);
            if (d < bestD) bestD = d, best = k;
        }
        if (best >= 0) *out = hits->data[best];
        return best >= 0;
    };
    int rc = intersect(*p, *q);
    bool done = false;
    if (rc >= 0) {
        if (rc == 1) firstDist = distance(hits->data[0]);
        const bool retry = rc == 0 || (rc == 1 && firstDist > 5.0);
        if (retry) {
            firstDist = NAN;
            Vec3 a = *p, b = *q;
            lengthen(&a, &b, f);
            rc = intersect(a, b);
        }
        if (rc > 0) done = pick();
    }
    pointList3DFree(hits);
    if (rc < 0) return rc;
    if (done) return 1;
    return crossSegmentProfileAlt(cross->profile, p, q, out, f);
}
