#include "pocket/cornerloop.h"

#include <cmath>
#include <vector>

#include "kernel/base/runreset.h"
#include "pocket/ccp.h"
#include "pocket/chaincross.h"
#include "pocket/elemaccess.h"
#include "pocket/elemdist.h"
#include "pocket/elemprim.h"
#include "pocket/regiontree.h"

namespace {

struct CornerLoopState {
    double radius, step;
    int32_t side;
    int32_t on;
};

CornerLoopState gLoop{};

// The far point of the loop at the corner between a and b, or false when the corner needs none.
bool loopPoint(const ContourElement& a, const ContourElement& b, const std::vector<ContourElement>& source,
               Vec2* p, Vec2* q) {
    int type = 0;
    if (elemCornerType(&a, &b, &type) != 1 || type * gLoop.side < 1) return false;
    Vec2 t1, t2;
    if (elemPoint(&b, p, kElemStart) != 1 || elemTangent(&a, &t1, kElemEnd) != 1 ||
        elemTangent(&b, &t2, kElemStart) != 1)
        return false;
    Vec2 d{t1.x - t2.x, t1.y - t2.y};
    double len = std::hypot(d.x, d.y);
    if (len <= 1e-4) return false;
    d = {d.x / len, d.y / len};
    double h = std::fabs(vecCross2D(&d, &t1));
    if (h <= 1e-4) return false;
    // The tool reaches t along the bisector before both walls stop it; what lies beyond its
    // diameter is left in the corner.
    double t = gLoop.step / h;
    if (t < 2 * gLoop.radius + 1e-4) return false;
    double lambda = std::fmin(gLoop.step, t - 2 * gLoop.radius + 1e-4);
    *q = {p->x + lambda * d.x, p->y + lambda * d.y};
    ContourElement seg{};
    seg.type = kElemLine;
    seg.g[kLx1] = p->x;
    seg.g[kLy1] = p->y;
    seg.g[kLx2] = q->x;
    seg.g[kLy2] = q->y;
    double nearest = lambda;
    Vec2 clip = *q;
    for (const ContourElement& e : source) {
        Vec2 x[2];
        int m = elemIntersect(&seg, &e, x);
        for (int j = 0; j < m; ++j) {
            double dist = pointDist2D(p, &x[j]);
            if (dist > 1e-9 && dist < nearest) {
                nearest = dist;
                clip = x[j];
            }
        }
    }
    *q = clip;
    return true;
}

}  // namespace

int cornerLoopSetup(double radius, double step, int32_t side) {
    gLoop.radius = radius;
    gLoop.step = step;
    gLoop.side = side;
    gLoop.on = step >= radius + 1e-4 || kvCCPParams.edgeMovement == 2;
    return gLoop.on;
}

int32_t cornerLoopInsert(int32_t node, ContourElement* ring, int32_t n, int32_t capacity) {
    if (!ring || n < 2 || kvCCPParams.edgeMovement == 0 || !gLoop.on) return n;
    std::vector<ContourElement> source;
    const RegionNode* rn = regionNode(node);
    if (rn && rn->elementCount > 0 && rn->elements) {
        source.resize(rn->elementCount);
        if (regionLoadElements(source.data(), static_cast<int32_t>(source.size()), rn->elements) != 1)
            source.clear();
    }
    std::vector<ContourElement> out;
    out.reserve(static_cast<size_t>(n) + 8);
    int32_t room = capacity - n;
    for (int32_t i = 0; i < n; ++i) {
        Vec2 p, q;
        if (room >= 2 && loopPoint(ring[(i + n - 1) % n], ring[i], source, &p, &q)) {
            out.push_back(elemLineOf(p, q, ring[i].sourceTag));
            out.push_back(elemLineOf(q, p, ring[i].sourceTag));
            room -= 2;
        }
        out.push_back(ring[i]);
    }
    for (size_t i = 0; i < out.size(); ++i) ring[i] = out[i];
    return static_cast<int32_t>(out.size());
}

void cornerLoopResetState() {
    gLoop = CornerLoopState{};
}
static const RunReset gRunReset(kRunResetCycles, "cornerLoop", cornerLoopResetState);
