#include "pocket/nesting.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <new>
#include <vector>

#include "geometry/vec.h"
#include "kernel/base/constants.h"
#include "pocket/contourorient.h"
#include "pocket/elemaccess.h"
#include "pocket/elemdist.h"
#include "pocket/elemprim.h"
#include "pocket/pocketstate.h"
#include "pocket/ringemit.h"

namespace {

constexpr double kHeightTol = 0.00001;
constexpr int16_t kUnplaced = 1000;

struct Contour {
    ContourHeader h;
    std::vector<ContourElement> e;
};

// What one nesting works on: the contours by their index before reordering.
struct Nest {
    std::vector<Contour> c;
    const NestMatrix* m;
    int32_t wanted, keep;
    int32_t groups;
    int32_t reversedSign;
};

double arcSweep(const ContourElement& a) {
    const double a0 = std::atan2(a.g[kAsy] - a.g[kAcy], a.g[kAsx] - a.g[kAcx]);
    const double a1 = std::atan2(a.g[kAey] - a.g[kAcy], a.g[kAex] - a.g[kAcx]);
    double w = a.direction > 0 ? a1 - a0 : a0 - a1;
    while (w <= 1e-12) w += kTwoPi;
    while (w > kTwoPi) w -= kTwoPi;
    return w;
}

bool isFullCircle(const std::vector<ContourElement>& e) {
    return e.size() == 2 && e[0].type == kElemArc && e[1].type == kElemArc &&
           std::fabs(e[0].g[kAcx] - e[1].g[kAcx]) < 1e-9 && std::fabs(e[0].g[kAcy] - e[1].g[kAcy]) < 1e-9;
}

bool loadList(const char* name, std::vector<Contour>& out) {
    const int32_t n = clistCount(name);
    out.resize(static_cast<size_t>(n));
    for (int32_t i = 0; i < n; ++i) {
        Contour& c = out[static_cast<size_t>(i)];
        if (clistGetHeader(name, &c.h, i) < 0) return false;
        c.e.resize(c.h.elementCount);
        if (clistGet(name, c.e.data(), &c.h, i) < 0) return false;
    }
    return true;
}

int32_t& cell(const NestMatrix* m, int32_t i, int32_t j) {
    return m->cells[static_cast<size_t>(i) * static_cast<size_t>(m->n) + static_cast<size_t>(j)];
}

int32_t depthOf(const NestMatrix* m, int32_t i) {
    int32_t d = 0;
    for (int32_t j = 0; j < m->n; ++j) d += cell(m, i, j) == 1;
    return d;
}

int32_t orientationOf(const Contour& c) {
    return contourOrientation(c.e.data(), static_cast<int32_t>(c.e.size()));
}

void reverse(Nest& s, Contour& c) {
    contourReverse(c.e.data(), static_cast<int32_t>(c.e.size()));
    if (c.h.group != 0) {
        c.h.group = static_cast<int16_t>(-c.h.group);
        s.reversedSign = 1;
    }
}

// Gives the contour the orientation asked for: the orientation it has after.
int32_t orient(Nest& s, Contour& c, int32_t to) {
    const int32_t o = orientationOf(c);
    if (o != 0 && o != to) {
        reverse(s, c);
        return to;
    }
    return o == 0 ? to : o;
}

void newGroup(Nest& s, Contour& c) {
    const int32_t o = orient(s, c, s.wanted);
    c.h.tag = static_cast<int16_t>(++s.groups);
    headerSetOrientationBytes(&c.h, s.wanted, o);
}

void becomeIsland(Nest& s, Contour& c, int16_t tag) {
    int32_t o = orientationOf(c);
    if (!s.keep) o = orient(s, c, -s.wanted);
    c.h.tag = tag;
    headerSetOrientationBytes(&c.h, s.wanted, o);
}

void place(Nest& s, int32_t i) {
    Contour& c = s.c[static_cast<size_t>(i)];
    if (c.h.tag < kUnplaced) return;
    const int32_t p = immediateParent(s.m, i);
    if (p < 0) {
        newGroup(s, c);
        return;
    }
    Contour& parent = s.c[static_cast<size_t>(p)];
    if (parent.h.tag >= kUnplaced) place(s, p);
    const int32_t parentOrientation = parent.h.ccw == 1 ? 1 : -1;
    // The parent's floor (a boundary) or top (an island) is the height at which
    // the contour stops being material inside the parent and becomes a pocket.
    const double floor = parentOrientation == s.wanted ? parent.h.bottom : parent.h.top;
    if (floor + kHeightTol < c.h.top) {
        becomeIsland(s, c, parent.h.tag);
        c.h.bottom = floor;
    } else {
        newGroup(s, c);
        c.h.top = floor;
    }
}

// The point of contour i that decides the pair, or none: 1 clear, 2 touching only, 0 neither.
int samplePair(const std::vector<ContourElement>& a, const std::vector<ContourElement>& b, double nearTol,
               double farTol, Vec2* decisive) {
    bool touching = false;
    double touchBest = -1;
    const int32_t nb = static_cast<int32_t>(b.size());
    for (const ContourElement& e : a) {
        for (int which : {kElemMiddle, kElemStart}) {
            Vec2 p;
            if (!elemPoint(&e, &p, which)) continue;
            const double d = contourDistance(&p, b.data(), nb);
            if (d > farTol) {
                *decisive = p;
                return 1;
            }
            if (d < nearTol) {
                touching = true;
                if (d > touchBest) {
                    touchBest = d;
                    *decisive = p;
                }
            }
        }
    }
    return touching ? 2 : 0;
}

}  // namespace

NestMatrix* containmentMatrix(const char* name) {
    std::vector<Contour> list;
    NestMatrix* m = nullptr;
    try {
        if (!loadList(name, list)) return nullptr;
        const int32_t n = static_cast<int32_t>(list.size());
        const bool direct = pocketKernel().outsideInDirect != 0;
        const double nearTol = direct ? 0.005 : 0.02;
        const double farTol = direct ? 0.2 : 2.0;
        // Working copies: a full circle is tested as a polygon.
        std::vector<std::vector<ContourElement>> work(list.size());
        for (size_t i = 0; i < list.size(); ++i) {
            work[i] = list[i].e;
            if (!isFullCircle(work[i])) continue;
            std::vector<ContourElement> poly(1024);
            int32_t k = circleToPolygon(work[i].data(), 2, nearTol, poly.data(), 1024);
            if (k < 0) {
                poly.resize(kClistMaxElements);
                k = circleToPolygon(work[i].data(), 2, nearTol, poly.data(), kClistMaxElements);
            }
            if (k > 0) work[i].assign(poly.begin(), poly.begin() + k);
        }
        m = static_cast<NestMatrix*>(calloc(1, sizeof(NestMatrix)));
        if (!m) return nullptr;
        m->n = n;
        m->cells = static_cast<int32_t*>(calloc(static_cast<size_t>(n) * static_cast<size_t>(n) + 1, 4));
        if (!m->cells) {
            free(m);
            return nullptr;
        }
        for (int32_t i = 0; i < n; ++i) {
            for (int32_t j = 0; j < n; ++j) {
                if (i == j) continue;
                Vec2 p{};
                const int kind = samplePair(work[static_cast<size_t>(i)], work[static_cast<size_t>(j)],
                                            nearTol, farTol, &p);
                if (direct && kind != 1) {
                    // Touching rings of the direct mode are decided by the pocket marks.
                    if (j >= i) {
                        const int32_t v = list[static_cast<size_t>(j)].h.group != 0 ? 1 : -1;
                        cell(m, i, j) = v;
                        cell(m, j, i) = -v;
                    } else {
                        cell(m, i, j) = -cell(m, j, i);
                    }
                    continue;
                }
                if (kind == 0) {
                    if (cell(m, i, j) != 0) continue;
                    nestMatrixFree(m);
                    return nullptr;
                }
                const std::vector<ContourElement>& b = work[static_cast<size_t>(j)];
                if (pointInContour(b.data(), static_cast<int32_t>(b.size()), &p) != 0) {
                    cell(m, i, j) = 1;
                    cell(m, j, i) = -1;
                }
            }
        }
        return m;
    } catch (const std::bad_alloc&) {
        nestMatrixFree(m);
        return nullptr;
    }
}

void nestMatrixFree(NestMatrix* matrix) {
    if (!matrix) return;
    free(matrix->cells);
    free(matrix);
}

int32_t immediateParent(const NestMatrix* matrix, int32_t i) {
    if (!matrix || i < 0 || i >= matrix->n) return -1;
    const int32_t d = depthOf(matrix, i);
    if (d == 0) return -1;
    for (int32_t j = 0; j < matrix->n; ++j) {
        if (cell(matrix, i, j) == 1 && depthOf(matrix, j) == d - 1) return j;
    }
    return -1;
}

int32_t parentHeaderValues(const NestMatrix* matrix, const char* name, int32_t i, double* top, double* bottom,
                           int32_t* tag, int32_t* orientation) {
    const int32_t p = immediateParent(matrix, i);
    ContourHeader h{};
    if (p < 0 || clistGetHeader(name, &h, p) < 0) return -1;
    if (top) *top = h.top;
    if (bottom) *bottom = h.bottom;
    if (tag) *tag = h.tag;
    if (orientation) *orientation = h.ccw == 1 ? 1 : -1;
    return p;
}

void headerSetOrientationBytes(ContourHeader* header, int32_t wanted, int32_t orientation) {
    if (!header) return;
    const uint8_t k = wanted > 0 ? 1 : 0;
    if (orientation != wanted) {
        header->ccw = static_cast<uint8_t>(1 - k);
        header->leftSide = k;
    } else {
        header->ccw = k;
        header->leftSide = k;
    }
}

int32_t clistIndexOfOriginal(int32_t value, const char* name) {
    if (value < 0) return -1;
    const int32_t n = clistCount(name);
    for (int32_t i = 0; i < n; ++i) {
        ContourHeader h{};
        if (clistGetHeader(name, &h, i) >= 0 && h.parent == value) return i;
    }
    return -1;
}

int clistHasNegativeSign(const char* name) {
    const int32_t n = clistCount(name);
    for (int32_t i = 0; i < n; ++i) {
        ContourHeader h{};
        if (clistGetHeader(name, &h, i) >= 0 && h.group < 0) return 1;
    }
    return 0;
}

int32_t circleToPolygon(const ContourElement* elements, int32_t count, double tolerance, ContourElement* out,
                        int32_t capacity) {
    if (!elements || !out || count < 0) return -1;
    int32_t k = 0;
    for (int32_t i = 0; i < count; ++i) {
        const ContourElement& a = elements[i];
        if (a.type != kElemArc) {
            if (k >= capacity) return -1;
            out[k++] = a;
            continue;
        }
        const double r = a.g[kAr];
        int32_t steps = 1;
        if (r > tolerance && tolerance > 0) {
            const double w = arcSweep(a);
            steps = static_cast<int32_t>(std::floor(w / (2 * std::acos((r - tolerance) / r)))) + 1;
            if (steps > capacity) return -1;
            const double step = a.direction * w / steps;
            const double c = std::cos(step), s = std::sin(step);
            Vec2 p{a.g[kAsx], a.g[kAsy]};
            for (int32_t q = 0; q < steps; ++q) {
                if (k >= capacity) return -1;
                const double dx = p.x - a.g[kAcx], dy = p.y - a.g[kAcy];
                Vec2 next{a.g[kAcx] + c * dx - s * dy, a.g[kAcy] + s * dx + c * dy};
                // The last step lands on the arc's own end point, not a rounded one.
                if (q == steps - 1) next = {a.g[kAex], a.g[kAey]};
                out[k++] = elemLineOf(p, next, a.sourceTag);
                p = next;
            }
            continue;
        }
        if (k >= capacity) return -1;
        out[k++] = elemLineOf({a.g[kAsx], a.g[kAsy]}, {a.g[kAex], a.g[kAey]}, a.sourceTag);
    }
    return k;
}

int32_t clistNestContours(const char* name, int32_t wanted, int32_t keepOrientation, int32_t* reversed) {
    const bool direct = pocketKernel().outsideInDirect != 0;
    if (reversed) *reversed = 0;
    if (clistCount(name) == 0) return 0;
    NestMatrix* m = containmentMatrix(name);
    if (!m) return -1;
    try {
        Nest s{{}, m, wanted >= 0 ? 1 : -1, keepOrientation, 0, 0};
        if (!loadList(name, s.c)) {
            nestMatrixFree(m);
            return -1;
        }
        const int32_t n = static_cast<int32_t>(s.c.size());
        for (int32_t i = 0; i < n; ++i) {
            s.c[static_cast<size_t>(i)].h.tag = kUnplaced;
            s.c[static_cast<size_t>(i)].h.parent = static_cast<int16_t>(i);
        }
        for (int32_t i = 0; i < n; ++i) place(s, i);
        // Group by group: its boundaries, then its islands, each in list order.
        std::vector<int32_t> order;
        order.reserve(s.c.size());
        for (int32_t g = 1; g <= s.groups; ++g) {
            for (int pass = 0; pass < 2; ++pass) {
                for (int32_t i = 0; i < n; ++i) {
                    const ContourHeader& h = s.c[static_cast<size_t>(i)].h;
                    const bool boundary = h.ccw == h.leftSide;
                    if (h.tag == g && boundary == (pass == 0)) order.push_back(i);
                }
            }
        }
        std::vector<int32_t> newIndex(s.c.size(), -1);
        for (size_t k = 0; k < order.size(); ++k)
            newIndex[static_cast<size_t>(order[k])] = static_cast<int32_t>(k);
        if (!clistClear(name)) {
            nestMatrixFree(m);
            return -1;
        }
        int ok = 1;
        for (int32_t i : order) {
            Contour& c = s.c[static_cast<size_t>(i)];
            const int32_t p = immediateParent(m, i);
            c.h.parent = static_cast<int16_t>(p < 0 ? -1 : newIndex[static_cast<size_t>(p)]);
            c.h.elementCount = static_cast<uint32_t>(c.e.size());
            ok &= clistInsert(name, c.e.data(), &c.h, -1);
        }
        nestMatrixFree(m);
        if (!ok) return -1;
        if (direct && reversed) *reversed = s.reversedSign;
        return s.groups;
    } catch (const std::bad_alloc&) {
        nestMatrixFree(m);
        return -1;
    }
}

int clistSortByKey(const char* name) {
    try {
        std::vector<Contour> list;
        if (!loadList(name, list)) return -1;
        const size_t n = list.size();
        if (n < 3) return 0;
        struct Key {
            size_t index;
            double key;
        };
        std::vector<Key> keys;
        keys.reserve(n - 1);
        keys.push_back({1, 0.0});
        for (size_t i = 2; i < n; ++i) {
            keys.push_back({i, ringDistance(list[1].e.data(), static_cast<int32_t>(list[1].e.size()),
                                            list[i].e.data(), static_cast<int32_t>(list[i].e.size()))});
        }
        std::stable_sort(keys.begin(), keys.end(), [](const Key& a, const Key& b) { return a.key < b.key; });
        std::reverse(keys.begin(), keys.end());
        for (size_t k = 0; k < keys.size(); ++k) {
            Contour& c = list[keys[k].index];
            if (!clistReplace(name, c.e.data(), &c.h, static_cast<int32_t>(k + 1))) return -1;
        }
        return 1;
    } catch (const std::bad_alloc&) {
        return -1;
    }
}
