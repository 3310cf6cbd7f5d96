#include "KVWOG5/tricont.h"

#include <cmath>
#include <cstring>
#include <initializer_list>
#include <numbers>

#include "KVWOG5/pred2d.h"
#include "KVWOG5/wogerr.h"

namespace {

const char kSourceFile[] = "Tricont";
const int32_t kLineVertexGouge = 1316, kLineFaceGouge = 1464, kLineEdgeGouge = 2091;
const double kSector = std::numbers::pi / 16.0;
const int kSectors = 32;

int gouge(int32_t line) {
    wogError(kTricontGouge, kSourceFile, line);
    return kTricontGouge;
}

int writePair(int n, const Vec2& q1, const Vec2& q2, double z, Vec3* p1, Vec3* p2) {
    if (n != 2) return 0;
    *p1 = Vec3{q1.x, q1.y, z};
    *p2 = Vec3{q2.x, q2.y, z};
    return 2;
}

// A level face at the tool's reach touches every centre of the circle; its point at angle 0
// stands for them all so that the counted contact has a point.
int levelFaceContact(double height, double r, const ToolCircle* circle, double z, Vec3* p1) {
    if (std::fabs(height - r) >= 1e-5) return 0;
    *p1 = Vec3{circle->cx + circle->radius, circle->cy, z};
    return 1;
}

int lineContacts(double a, double b, double c, const ToolCircle* circle, double z, Vec3* p1, Vec3* p2) {
    Vec2 q1, q2;
    return writePair(lineCircleIntersect2D(a, b, c, circle, &q1, &q2), q1, q2, z, p1, p2);
}

// Centres at plan distance rho from the vertex, met with the tool circle.
int vertexContacts(const Vec3* vertex, double rho, const ToolCircle* circle, double z, Vec3* p1, Vec3* p2) {
    if (rho < 1e-12) {
        // Only the centre right above the vertex touches: it counts when the circle passes it.
        if (std::fabs(std::hypot(vertex->x - circle->cx, vertex->y - circle->cy) - circle->radius) >= 1e-5)
            return 0;
        *p1 = Vec3{vertex->x, vertex->y, z};
        return 1;
    }
    const ToolCircle about{vertex->x, vertex->y, rho, 0};
    Vec2 q1, q2;
    return writePair(circleCircleIntersect2D(&about, circle, &q1, &q2), q1, q2, z, p1, p2);
}

Vec3 circlePoint(const ToolCircle* circle, double angle, double z) {
    return Vec3{circle->cx + circle->radius * std::cos(angle), circle->cy + circle->radius * std::sin(angle),
                z};
}

// Negative while the ball centred on the circle at angle reaches into the edge's line.
double edgeReach(const double* edge, double r, const ToolCircle* circle, double z, double angle) {
    const Vec3 p = circlePoint(circle, angle, z);
    return distPointLine3D(&p, edge) - r;
}

// ---- slot adapters: unpack {r} or {R, r}
int ballFace(const double* tri, const double* radii, const ToolCircle* c, double z, Vec3* p1, Vec3* p2) {
    return tricontBallFace(tri, radii[0], c, z, p1, p2);
}
int ballInside(const Vec3* p, const double* tri, const double*) {
    Vec3 projection;
    return pointInTriangle3D(p, tri, &projection);
}
int ballEdge(const double* edge, const double* radii, const ToolCircle* c, double z, Vec3* out4) {
    return tricontContactB(edge, radii[0], c, z, out4);
}
int ballEdgePoint(const Vec3* p, const double* edge, const double*, Vec3* out) {
    return footOnSeg3D(p, edge, out);
}
int ballVertex(const Vec3* v, const double* radii, const ToolCircle* c, double z, Vec3* p1, Vec3* p2) {
    return tricontContactA(v, radii[0], c, z, p1, p2);
}
int torusFace(const double* tri, const double* radii, const ToolCircle* c, double z, Vec3* p1, Vec3* p2) {
    return tricontTorusFace(tri, radii[0] - radii[1], radii[1], c, z, p1, p2);
}
int torusInside(const Vec3* p, const double* tri, const double* radii) {
    Vec3 contact;
    return torusFaceContact(p, radii[0] - radii[1], radii[1], tri, &contact);
}
int torusEdge(const double* edge, const double* radii, const ToolCircle* c, double z, Vec3* out4) {
    return tricontTorusEdge(edge, radii[0] - radii[1], radii[1], c, z, &out4[0], &out4[1]);
}
int torusEdgePoint(const Vec3* p, const double* edge, const double* radii, Vec3* out) {
    return geoCurvedToolContact(p, radii[0] - radii[1], radii[1], edge, out);
}
int torusVertex(const Vec3* v, const double* radii, const ToolCircle* c, double z, Vec3* p1, Vec3* p2) {
    return tricontTorusVertex(v, radii[0] - radii[1], radii[1], c, z, p1, p2);
}

}  // namespace

int tricontBallFace(const double* tri, double r, const ToolCircle* circle, double z, Vec3* p1, Vec3* p2) {
    double a, b, c, d;
    if (!trianglePlane3D(tri, &a, &b, &c, &d)) return kGeoDegenerateTri;
    const Vec3 centre{circle->cx, circle->cy, z};
    const double dist = a * centre.x + b * centre.y + c * z + d;
    if (dist == 0.0 || std::fabs(dist) > circle->radius + r) return 0;
    Vec3 foot;
    if (std::fabs(dist) < r - circle->radius && pointInTriangle3D(&centre, tri, &foot))
        return gouge(kLineFaceGouge);
    if (a == 0.0 && b == 0.0) return levelFaceContact(std::fabs(dist), r, circle, z, p1);
    const double s = dist > 0.0 ? 1.0 : -1.0;
    return lineContacts(a, b, c * z + d - s * r, circle, z, p1, p2);
}

int tricontTorusFace(const double* tri, double rc, double r, const ToolCircle* circle, double z, Vec3* p1,
                     Vec3* p2) {
    double a, b, c, d;
    if (!trianglePlane3D(tri, &a, &b, &c, &d)) return kGeoDegenerateTri;
    const double dist = a * circle->cx + b * circle->cy + c * z + d;
    if (dist == 0.0 || std::fabs(dist) > circle->radius + rc + r) return 0;
    if (std::fabs(c) >= 0.999999) return levelFaceContact(std::fabs(dist), r, circle, z, p1);
    // The ball's contact line (plane shifted by r, normalised in the plane) moved by rc towards the
    // centres: there the centre circle's point nearest the face is r away from it.
    const double h = std::hypot(a, b), s = dist > 0.0 ? 1.0 : -1.0;
    return lineContacts(a / h, b / h, (c * z + d - s * r) / h - s * rc, circle, z, p1, p2);
}

int tricontContactA(const Vec3* vertex, double r, const ToolCircle* circle, double z, Vec3* p1, Vec3* p2) {
    const Vec3 centre{circle->cx, circle->cy, z};
    if (r - circle->radius > wogDist3D(vertex, &centre)) return gouge(kLineVertexGouge);
    const double e = std::fabs(z - vertex->z);
    if (e > r) return 0;
    return vertexContacts(vertex, std::sqrt(r * r - e * e), circle, z, p1, p2);
}

int tricontTorusVertex(const Vec3* vertex, double rc, double r, const ToolCircle* circle, double z, Vec3* p1,
                       Vec3* p2) {
    const double e = std::fabs(z - vertex->z);
    if (r < e) return 0;
    return vertexContacts(vertex, std::sqrt(r * r - e * e) + rc, circle, z, p1, p2);
}

int tricontSectorRefine(const double* edge, double r, const ToolCircle* circle, double z, double a0,
                        double a1, double* angle) {
    double f0 = edgeReach(edge, r, circle, z, a0);
    const double f1 = edgeReach(edge, r, circle, z, a1);
    if ((f0 < 0.0) == (f1 < 0.0)) return 0;
    // Bisection: the reach is not smooth where the distance passes the line, and a sector is small.
    for (int i = 0; i < 64; i++) {
        const double mid = 0.5 * (a0 + a1);
        if (mid <= a0 || mid >= a1) break;
        const double fm = edgeReach(edge, r, circle, z, mid);
        if ((fm < 0.0) == (f0 < 0.0)) {
            a0 = mid;
            f0 = fm;
        } else {
            a1 = mid;
        }
    }
    *angle = 0.5 * (a0 + a1);
    return 1;
}

int tricontContactB(const double* edge, double r, const ToolCircle* circle, double z, Vec3* out) {
    if (z < std::fmin(edge[2], edge[5]) - r || z > std::fmax(edge[2], edge[5]) + r) return 0;
    const double dx = edge[3] - edge[0], dy = edge[4] - edge[1], dz = edge[5] - edge[2];
    const double len = std::sqrt(dx * dx + dy * dy + dz * dz);
    if (len < 1e-6) return 0;
    const Vec3 centre{circle->cx, circle->cy, z};
    if (r - circle->radius > distPointLine3D(&centre, edge)) {
        Vec3 foot;
        return footOnSeg3D(&centre, edge, &foot) ? gouge(kLineEdgeGouge) : 0;
    }
    int n = 0;
    if (std::fabs(dz) < 1e-5 * len) {
        // A level edge's cylinder cuts the plane in a strip.
        const double e = std::fabs(z - 0.5 * (edge[2] + edge[5]));
        if (e > r) return 0;
        const double w = std::sqrt(r * r - e * e), plan = std::hypot(dx, dy);
        const double ox = -dy / plan * w, oy = dx / plan * w;
        for (const double side : {1.0, -1.0}) {
            const Seg2D border{edge[0] + side * ox, edge[1] + side * oy, edge[3] + side * ox,
                               edge[4] + side * oy};
            Vec2 q1, q2;
            if (segCircleIntersect2D(&border, circle, &q1, &q2) == 2) {
                out[n++] = Vec3{q1.x, q1.y, z};
                out[n++] = Vec3{q2.x, q2.y, z};
            }
        }
        return n;
    }
    // An inclined edge cuts the plane in an ellipse, which meets the circle at most four times.
    double reach[kSectors + 1];
    for (int k = 0; k <= kSectors; k++) reach[k] = edgeReach(edge, r, circle, z, k * kSector);
    for (int k = 0; k < kSectors && n < 4; k++) {
        if ((reach[k] < 0.0) == (reach[k + 1] < 0.0)) continue;
        double angle;
        if (tricontSectorRefine(edge, r, circle, z, k * kSector, (k + 1) * kSector, &angle))
            out[n++] = circlePoint(circle, angle, z);
    }
    return n;
}

int tricontSegZCircle(const double* seg, double radius, const ToolCircle* circle, double z, Vec3* p1,
                      Vec3* p2) {
    const double dz = seg[5] - seg[2];
    // A level segment has no single point at height z.
    if (std::fabs(dz) < 1e-12) return 0;
    const double t = (z - seg[2]) / dz;
    if (t < 0.0 || t > 1.0) return 0;
    const ToolCircle about{seg[0] + t * (seg[3] - seg[0]), seg[1] + t * (seg[4] - seg[1]), radius, 0};
    Vec2 q1, q2;
    return writePair(circleCircleIntersect2D(&about, circle, &q1, &q2), q1, q2, z, p1, p2);
}

int tricontTorusEdge(const double* edge, double rc, double r, const ToolCircle* circle, double z, Vec3* p1,
                     Vec3* p2) {
    if (std::fabs(edge[3] - edge[0]) < 1e-5 && std::fabs(edge[4] - edge[1]) < 1e-5 &&
        std::fabs(edge[5] - edge[2]) < 1e-5)
        return 0;
    if (r < 1e-5) return tricontSegZCircle(edge, rc, circle, z, p1, p2);
    Seg2D line1, line2;
    Ellipse2D ellipse;
    const int slice = cylinderSliceZ(edge, r, z, &line1, &line2, &ellipse);
    const Vec2 centre{circle->cx, circle->cy};
    Vec2 q1, q2;
    int n = 0;
    if (slice == 1) {
        // The centre circle grazes the edge's tube along the axis line: the centres lie rc off it.
        double a, b, c;
        segLineEquation2D(&line1, &a, &b, &c);
        const double shift = sideOfLine2D(&centre, a, b, c) * rc;
        const Seg2D moved{line1.x1 + shift * a, line1.y1 + shift * b, line1.x2 + shift * a,
                          line1.y2 + shift * b};
        n = segCircleIntersect2D(&moved, circle, &q1, &q2);
    } else if (slice == 2) {
        double a1, b1, c1, a2, b2, c2;
        segLineEquation2D(&line1, &a1, &b1, &c1);
        segLineEquation2D(&line2, &a2, &b2, &c2);
        const bool first =
            std::fabs(a1 * centre.x + b1 * centre.y + c1) <= std::fabs(a2 * centre.x + b2 * centre.y + c2);
        const double a = first ? a1 : a2, b = first ? b1 : b2, c = first ? c1 : c2;
        n = lineCircleIntersect2D(a, b, c - sideOfLine2D(&centre, a, b, c) * rc, circle, &q1, &q2);
    } else if (slice == 3) {
        ToolCircle curvature;
        const int found = ellipseCurvatureCircle(&ellipse, rc, &centre, &curvature);
        if (found != 1) return found;
        n = circleCircleIntersect2D(&curvature, circle, &q1, &q2);
    } else {
        return slice;
    }
    return writePair(n, q1, q2, z, p1, p2);
}

int tricontInstallMethods(int32_t kind, OffsetToolMethods* methods) {
    if (!methods) return 0;
    std::memset(methods, 0, sizeof *methods);
    if (kind == 1) {
        *methods = OffsetToolMethods{ballFace, ballInside, ballEdge, ballEdgePoint, ballVertex};
        return 1;
    }
    if (kind == 3) {
        *methods = OffsetToolMethods{torusFace, torusInside, torusEdge, torusEdgePoint, torusVertex};
        return 1;
    }
    return 0;
}
