#include "pocket/passes.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "pocket/chaincross.h"
#include "pocket/contourclean.h"
#include "pocket/contourorient.h"
#include "pocket/elemdist.h"
#include "pocket/elemprim.h"
#include "pocket/regiontree.h"
#include "pocket/restmat.h"

namespace {

constexpr double kAxisTol = 0.00001;
constexpr double kNoLeftover = 100000.0;

// A contour of a named list as a vector; false when it cannot be read.
bool loadContour(const char* list, int32_t index, std::vector<ContourElement>& out, ContourHeader* header) {
    ContourHeader h{};
    if (clistGetHeader(list, &h, index) < 0) return false;
    out.assign(std::max<uint32_t>(h.elementCount, 1), ContourElement{});
    if (clistGet(list, out.data(), &h, index) < 0) return false;
    out.resize(h.elementCount);
    if (header) *header = h;
    return true;
}

ContourElement pieceLine(const PassPiece& p) {
    return elemLineOf({p.sx, p.sy}, {p.ex, p.ey}, 0);
}

PocketIsect freeEnd(double x, double y) {
    return PocketIsect{x, y, 0.0, 1, 0, 0};
}

void noteLine(PassTable* t, int32_t line) {
    t->lowestLine = std::min(t->lowestLine, line);
    t->highestLine = std::max(t->highestLine, line);
}

bool grow(PassTable* t) {
    if (t->count < t->capacity) return true;
    const int32_t cap = t->capacity + std::max(t->capacity / 2, 1);
    void* p = std::realloc(t->pieces, sizeof(PassPiece) * static_cast<size_t>(cap));
    if (!p) return false;
    t->pieces = static_cast<PassPiece*>(p);
    t->capacity = cap;
    return true;
}

// Length of open sides (negative tags) reachable from the hit along the
// contour, the shorter of the two ways; 0 on a material element.
double contourOpenLength(const std::vector<ContourElement>& c, const PocketIsect& hit) {
    const int32_t n = static_cast<int32_t>(c.size());
    const int32_t e = hit.elemB - 1;
    if (e < 0 || e >= n || c[e].sourceTag >= 0) return 0;
    const Vec2 at{hit.x, hit.y};
    double rest = 0;
    const double before = elemLengthTo(&c[e], &at, &rest);
    double forward = rest, backward = before;
    for (int32_t k = 1; k < n && c[(e + k) % n].sourceTag < 0; ++k) forward += elemLength(&c[(e + k) % n]);
    for (int32_t k = 1; k < n && c[(e - k + n) % n].sourceTag < 0; ++k)
        backward += elemLength(&c[(e - k + n) % n]);
    return std::min(forward, backward);
}

double openLengthAt(const std::vector<std::vector<ContourElement>>& main, int32_t contour,
                    const PocketIsect& hit) {
    if (contour < 0 || contour >= static_cast<int32_t>(main.size())) return 0;
    return contourOpenLength(main[contour], hit);
}

double pieceDistance(const Vec2& p, const PassPiece& q) {
    const ContourElement e = pieceLine(q);
    Vec2 near{};
    return elemDistance(&p, &e, &near);
}

int32_t attach(const std::vector<ContourElement>& elements, const ContourHeader& model) {
    if (elements.empty()) return 0;
    ContourHeader h = model;
    h.elementCount = static_cast<uint32_t>(elements.size());
    h.elements = nullptr;
    return regionAttachContour(elements.data(), &h, 0, 0) < 0 ? -1 : 1;
}

// The way along contour c from one hit to the other, the shorter of the two
// directions; empty when both are longer than the limit.
std::vector<ContourElement> contourLink(const std::vector<ContourElement>& c, const PocketIsect& from,
                                        const PocketIsect& to, double limit) {
    const int32_t n = static_cast<int32_t>(c.size());
    if (n < 1 || from.elemB < 1 || to.elemB < 1 || from.elemB > n || to.elemB > n) return {};
    const ContourPos a{from.elemB - 1, 0, from.x, from.y}, b{to.elemB - 1, 0, to.x, to.y};
    std::vector<ContourElement> fwd(static_cast<size_t>(n) + 1), back(static_cast<size_t>(n) + 1);
    fwd.resize(std::max(restContourPiece(fwd.data(), c.data(), n, &a, &b), 0));
    back.resize(std::max(restContourPiece(back.data(), c.data(), n, &b, &a), 0));
    contourReverse(back.data(), static_cast<int32_t>(back.size()));
    const double lf = fwd.empty() ? 0 : contourLength(fwd.data(), static_cast<int32_t>(fwd.size()));
    const double lb = back.empty() ? 0 : contourLength(back.data(), static_cast<int32_t>(back.size()));
    if (lf > limit && lb > limit) return {};
    return lf <= lb ? fwd : back;
}

// A link along one contour that crosses another has left the area between them
// (contours that come closer than the tool allows); it is not made.
bool crossesOthers(const std::vector<ContourElement>& link,
                   const std::vector<std::vector<ContourElement>>& main, int32_t own) {
    if (link.empty()) return false;
    std::vector<PocketIsect> rec;
    for (size_t j = 0; j < main.size(); ++j) {
        if (static_cast<int32_t>(j) == own || main[j].empty()) continue;
        rec.resize((link.size() + main[j].size()) * 2 + 8);
        if (intersectContours(link.data(), static_cast<int32_t>(link.size()), main[j].data(),
                              static_cast<int32_t>(main[j].size()), rec.data(),
                              static_cast<int32_t>(rec.size())) != 0)
            return true;
    }
    return false;
}

// Index in the list of the contour whose tag names the MAIN contour; -1.
int32_t findTagged(const char* list, int32_t tag) {
    const int32_t n = clistCount(list);
    for (int32_t i = 0; i < n; ++i) {
        ContourHeader h{};
        if (clistGetHeader(list, &h, i) >= 0 && h.tag == tag) return i;
    }
    return -1;
}

// The ring rotated to start at its point nearest to *at, after a joining line
// when that point is not already there; *at moves to the ring's end.
std::vector<ContourElement> ringFrom(const std::vector<ContourElement>& ring, Vec2* at) {
    const int32_t n = static_cast<int32_t>(ring.size());
    std::vector<ContourElement> out;
    if (n < 1) return out;
    int32_t k = 0;
    Vec2 q{};
    contourNearestElement(at, ring.data(), n, &k, &q);
    if (k < 0) k = 0;
    if (pointDist2D(at, &q) >= 0.0001) {
        ContourElement join{};
        join.type = kElemLine;
        join.sourceTag = ring[k].sourceTag;
        join.g[kLx1] = at->x;
        join.g[kLy1] = at->y;
        join.g[kLx2] = q.x;
        join.g[kLy2] = q.y;
        out.push_back(join);
    }
    Vec2 s{}, e{};
    elemPoint(&ring[k], &s, kElemStart);
    elemPoint(&ring[k], &e, kElemEnd);
    ContourElement head = ring[k];
    elemTrim(&head, &q, &e);
    if (!elemIsPoint(&head)) out.push_back(head);
    for (int32_t i = 1; i < n; ++i) out.push_back(ring[(k + i) % n]);
    ContourElement tail = ring[k];
    elemTrim(&tail, &s, &q);
    if (!elemIsPoint(&tail)) out.push_back(tail);
    *at = q;
    return out;
}

// The end of the piece pulled back to its first crossing with the ring.
void shortenToRing(PassPiece* p, const std::vector<ContourElement>& ring) {
    const ContourElement line = pieceLine(*p);
    std::vector<PocketIsect> rec(ring.size() * 2 + 8);
    const int32_t m = intersectContours(&line, 1, ring.data(), static_cast<int32_t>(ring.size()), rec.data(),
                                        static_cast<int32_t>(rec.size()));
    if (m < 1) return;
    p->ex = rec[0].x;
    p->ey = rec[0].y;
}

}  // namespace

double pseudoAngle(const Vec2* a, const Vec2* b) {
    const double dx = a->x - b->x, dy = a->y - b->y;
    const double s = std::fabs(dx) + std::fabs(dy);
    if (s <= 0) return 0;
    const double t = dy / s;
    if (dx >= -kAxisTol) return dy >= -kAxisTol ? 90.0 * t : 90.0 * (t + 4.0);
    return 90.0 * (2.0 - t);
}

int32_t convexHull(const Vec2* points, int32_t n, Vec2* out) {
    if (!points || !out || n < 1) return 0;
    int32_t start = 0;
    for (int32_t i = 1; i < n; ++i) {
        const double dy = points[i].y - points[start].y;
        if (dy < -kAxisTol || (std::fabs(dy) <= kAxisTol && points[i].x < points[start].x)) start = i;
    }
    std::vector<uint8_t> used(static_cast<size_t>(n), 0);
    int32_t count = 0, cur = start;
    double previous = 0;
    out[count++] = points[start];
    for (int32_t step = 0; step <= n; ++step) {
        int32_t best = -1;
        double bestAngle = 1e300, bestDist = 0;
        for (int32_t j = 0; j < n; ++j) {
            if (j == cur || (used[j] && j != start)) continue;
            const double dx = points[j].x - points[cur].x, dy = points[j].y - points[cur].y;
            if (std::fabs(dx) + std::fabs(dy) < 1e-12) continue;
            const double a = pseudoAngle(&points[j], &points[cur]);
            if (a < previous - 1e-12) continue;
            const double d = std::hypot(dx, dy);
            // Of points in one direction the farthest, so that no hull point lies on an edge.
            if (a < bestAngle - 1e-12 || (a <= bestAngle + 1e-12 && d > bestDist)) {
                best = j;
                bestAngle = a;
                bestDist = d;
            }
        }
        if (best < 0 || best == start) return count;
        if (count >= n) break;
        used[best] = 1;
        out[count++] = points[best];
        previous = bestAngle;
        cur = best;
    }
    return count;
}

int hullWidthDirection(const ContourElement* elements, int32_t count, Vec2 base[2], double* width) {
    if (!elements || count < 1 || !base || !width) return -1;
    std::vector<Vec2> pts;
    pts.reserve(static_cast<size_t>(count) * 2);
    for (int32_t i = 0; i < count; ++i) {
        Vec2 p{};
        if (elemPoint(&elements[i], &p, kElemEnd)) pts.push_back(p);
        if (elements[i].type != kElemArc) continue;
        // Points along the arc whose chords stay within 0.01 of it: the end and middle points alone made
        // a circle's hull a square, 0.7 of its width, and the passes stopped short of the far side.
        const double r = elements[i].g[kAr], sweep = std::fabs(arcSweepAngle(&elements[i]));
        const int32_t steps = std::clamp(
            static_cast<int32_t>(std::ceil(sweep / (2 * std::acos(std::fmax(1 - 0.01 / r, -1.0))))), 2, 720);
        for (int32_t k = 1; k < steps; ++k) {
            arcPointAt(&elements[i], static_cast<double>(k) / steps, &p);
            pts.push_back(p);
        }
    }
    std::vector<Vec2> hull(pts.size() + 1);
    const int32_t h = convexHull(pts.data(), static_cast<int32_t>(pts.size()), hull.data());
    if (h < 2) return -1;
    int32_t winner = -1;
    double best = 0;
    Vec2 bestU{};
    for (int32_t i = 0; i < h; ++i) {
        const Vec2& a = hull[(i + h - 1) % h];
        const Vec2& b = hull[i];
        const double len = std::hypot(b.x - a.x, b.y - a.y);
        if (len <= 0) continue;
        const Vec2 u{(b.x - a.x) / len, (b.y - a.y) / len};
        double far = 0;
        for (int32_t j = 0; j < h; ++j) {
            const double d = u.x * (hull[j].y - a.y) - u.y * (hull[j].x - a.x);
            if (std::fabs(d) > std::fabs(far)) far = d;
        }
        if (winner < 0 || std::fabs(far) < std::fabs(best)) {
            winner = i;
            best = far;
            bestU = u;
        }
    }
    if (winner < 0) return -1;
    const Vec2& a = hull[(winner + h - 1) % h];
    double lo = 1e300, hi = -1e300;
    for (int32_t j = 0; j < h; ++j) {
        const double t = bestU.x * (hull[j].x - a.x) + bestU.y * (hull[j].y - a.y);
        lo = std::min(lo, t);
        hi = std::max(hi, t);
    }
    base[0] = {a.x + bestU.x * (lo - 1.0), a.y + bestU.y * (lo - 1.0)};
    base[1] = {a.x + bestU.x * (hi + 1.0), a.y + bestU.y * (hi + 1.0)};
    // The passes lie left of the base line: a hull on its right turns the line round.
    if (best < 0) std::swap(base[0], base[1]);
    *width = std::fabs(best);
    return 1;
}

PassTable* passTableCreate(int32_t passes) {
    auto* t = static_cast<PassTable*>(std::calloc(1, sizeof(PassTable)));
    if (!t) return nullptr;
    t->capacity = std::max(passes, 1000);
    t->pieces = static_cast<PassPiece*>(std::calloc(static_cast<size_t>(t->capacity), sizeof(PassPiece)));
    if (!t->pieces) {
        std::free(t);
        return nullptr;
    }
    t->lowestLine = 10000;
    t->highestLine = -10000;
    return t;
}

void passTableFree(PassTable* table) {
    if (!table) return;
    std::free(table->pieces);
    std::free(table);
}

int passTableAppend(PassTable* table, const PassPiece* piece) {
    return table ? passTableInsert(table, table->count, piece) : 0;
}

int passTableInsert(PassTable* table, int32_t index, const PassPiece* piece) {
    if (!table || !piece || index < 0 || index > table->count) return 0;
    const PassPiece copy = *piece;  // the piece may live in the table that is about to move
    if (!grow(table)) return 0;
    std::memmove(&table->pieces[index + 1], &table->pieces[index],
                 sizeof(PassPiece) * static_cast<size_t>(table->count - index));
    table->pieces[index] = copy;
    ++table->count;
    noteLine(table, copy.line);
    return 1;
}

PassTable* passTableCopy(const PassTable* table) {
    if (!table) return nullptr;
    PassTable* t = passTableCreate(table->count);
    if (!t) return nullptr;
    std::memcpy(t->pieces, table->pieces, sizeof(PassPiece) * static_cast<size_t>(table->count));
    t->count = table->count;
    t->lowestLine = table->lowestLine;
    t->highestLine = table->highestLine;
    return t;
}

void passTableReverseLines(PassTable* table) {
    if (!table) return;
    for (int32_t i = 0; i < table->count; ++i)
        table->pieces[i].line = table->highestLine - table->pieces[i].line + table->lowestLine;
}

void passPieceSwapEnds(PassPiece* p) {
    if (!p) return;
    std::swap(p->sx, p->ex);
    std::swap(p->sy, p->ey);
    std::swap(p->contourStart, p->contourEnd);
    std::swap(p->hitStart, p->hitEnd);
}

PassTable* passesCreate(const Vec2 base[2], double width, double radius, double step) {
    if (!base || !(step > 0)) return nullptr;
    // A hull exactly as wide as the tool radius must still get its one pass.
    const double q = (width - step - radius) / step;
    const int32_t n = static_cast<int32_t>(std::floor(q + 1e-9)) + 2;
    PassTable* t = passTableCreate(std::max(n, 0));
    if (!t || n < 1) return t;
    const double dx = base[1].x - base[0].x, dy = base[1].y - base[0].y, len = std::hypot(dx, dy);
    if (len <= 0) return t;
    const Vec2 normal{-dy / len, dx / len};
    for (int32_t k = 1; k <= n; ++k) {
        PassPiece p{};
        p.sx = base[0].x + k * step * normal.x;
        p.sy = base[0].y + k * step * normal.y;
        p.ex = base[1].x + k * step * normal.x;
        p.ey = base[1].y + k * step * normal.y;
        p.line = k;
        p.contourStart = p.contourEnd = -1;
        p.hitStart = freeEnd(p.sx, p.sy);
        p.hitEnd = freeEnd(p.ex, p.ey);
        if (!passTableAppend(t, &p)) break;
    }
    return t;
}

int passesCut(PassTable* table, const ContourElement* elements, int32_t count, int32_t contour, int island) {
    if (!table || !elements || count < 1) return 1;
    PassTable* out = passTableCreate(table->count);
    if (!out) return 1;
    std::vector<PocketIsect> rec(static_cast<size_t>(count) * 2 + 8);
    for (int32_t i = 0; i < table->count; ++i) {
        const PassPiece& p = table->pieces[i];
        const ContourElement line = pieceLine(p);
        const int32_t m =
            intersectContours(&line, 1, elements, count, rec.data(), static_cast<int32_t>(rec.size()));
        if (m < 1) {
            // An uncut pass lies wholly on one side: beyond the boundary or across an island it goes.
            const Vec2 mid{0.5 * (p.sx + p.ex), 0.5 * (p.sy + p.ey)};
            if (m == 0 && (pointInContour(elements, count, &mid) != 0) == (island == 0))
                passTableAppend(out, &p);
            continue;
        }
        // The sequence start, hits, end; each hit is the end of one sub-piece and the start of the next.
        for (int32_t j = 0; j <= m; ++j) {
            PassPiece s = p;
            if (j > 0) {
                s.sx = rec[j - 1].x;
                s.sy = rec[j - 1].y;
                s.contourStart = contour;
                s.hitStart = rec[j - 1];
            }
            if (j < m) {
                s.ex = rec[j].x;
                s.ey = rec[j].y;
                s.contourEnd = contour;
                s.hitEnd = rec[j];
            }
            const Vec2 a{s.sx, s.sy}, b{s.ex, s.ey};
            if (pointsEqual2D(&a, &b)) continue;
            const Vec2 mid{0.5 * (a.x + b.x), 0.5 * (a.y + b.y)};
            const bool inside = pointInContour(elements, count, &mid) != 0;
            if (inside == (island == 0)) passTableAppend(out, &s);
        }
    }
    std::swap(*table, *out);
    passTableFree(out);
    return 1;
}

int passesOrderAndLink(PassTable* table, double linkLimit) {
    if (!table || table->count < 1) return 1;
    std::vector<std::vector<ContourElement>> main(static_cast<size_t>(std::max(clistCount("MAIN"), 0)));
    ContourHeader model{};
    for (size_t i = 0; i < main.size(); ++i) {
        ContourHeader h{};
        if (!loadContour("MAIN", static_cast<int32_t>(i), main[i], &h)) main[i].clear();
        if (i == 0) model = h;
    }
    model.leftSide = 1;
    auto openStart = [&](const PassPiece& p) { return openLengthAt(main, p.contourStart, p.hitStart); };
    auto openEnd = [&](const PassPiece& p) { return openLengthAt(main, p.contourEnd, p.hitEnd); };

    // Starting direction: from the end of the first or the last line with the shorter open side behind it.
    PassPiece first = table->pieces[0], last = table->pieces[table->count - 1];
    const bool firstRev = openEnd(first) < openStart(first);
    const bool lastRev = openEnd(last) < openStart(last);
    if (firstRev) passPieceSwapEnds(&first);
    if (lastRev) passPieceSwapEnds(&last);
    bool reverseAll = firstRev;
    if (openStart(last) < openStart(first)) {
        passTableReverseLines(table);
        reverseAll = lastRev;
    }
    if (reverseAll)
        for (int32_t i = 0; i < table->count; ++i) passPieceSwapEnds(&table->pieces[i]);

    int32_t left = table->count;
    while (left > 0) {
        int32_t prev = -1;
        bool prevReversed = false;
        Vec2 at{};
        for (int32_t line = table->lowestLine; line <= table->highestLine; ++line) {
            int32_t chosen = -1;
            double dChosen = 0;
            for (int32_t i = 0; i < table->count; ++i) {
                const PassPiece& p = table->pieces[i];
                if (p.done || p.line != line) continue;
                const double d =
                    prev < 0 ? 0 : pieceDistance({table->pieces[prev].ex, table->pieces[prev].ey}, p);
                if (chosen < 0 || d < dChosen) {
                    chosen = i;
                    dChosen = d;
                }
            }
            if (chosen < 0) continue;
            if (prev >= 0) {
                const PassPiece& q = table->pieces[prev];
                double leftover = kNoLeftover;
                for (int32_t i = 0; i < table->count; ++i) {
                    const PassPiece& p = table->pieces[i];
                    if (!p.done && p.line == q.line)
                        leftover = std::min(leftover, pieceDistance({q.ex, q.ey}, p));
                }
                if (1.2 * dChosen > leftover) break;
            }
            PassPiece& c = table->pieces[chosen];
            const bool reverse = prev < 0 ? openEnd(c) < openStart(c) : !prevReversed;
            if (reverse) passPieceSwapEnds(&c);
            if (prev >= 0) {
                const PassPiece& q = table->pieces[prev];
                if (q.contourEnd >= 0 && q.contourEnd == c.contourStart &&
                    q.contourEnd < static_cast<int32_t>(main.size())) {
                    const std::vector<ContourElement> link =
                        contourLink(main[q.contourEnd], q.hitEnd, c.hitStart, linkLimit);
                    if (!crossesOthers(link, main, q.contourEnd) && attach(link, model) < 0) return -1;
                }
            }
            const int32_t islandRing = c.contourEnd >= 0 ? findTagged("INSEL", c.contourEnd) : -1;
            const int32_t fullRing = islandRing >= 0 ? findTagged("GKT", c.contourEnd) : -1;
            std::vector<ContourElement> ring;
            if (fullRing >= 0 && loadContour("GKT", fullRing, ring, nullptr)) shortenToRing(&c, ring);
            if (attach({pieceLine(c)}, model) < 0) return -1;
            at = {c.ex, c.ey};
            if (islandRing >= 0) {
                if (fullRing >= 0 && !ring.empty()) {
                    if (attach(ringFrom(ring, &at), model) < 0) return -1;
                    clistDelete("GKT", fullRing);
                }
                const int32_t again = findTagged("INSEL", c.contourEnd);
                if (again >= 0 && loadContour("INSEL", again, ring, nullptr)) {
                    if (attach(ringFrom(ring, &at), model) < 0) return -1;
                    clistDelete("INSEL", again);
                }
            }
            c.done = 1;
            --left;
            prev = chosen;
            prevReversed = reverse;
        }
    }
    return 1;
}

int pocketBuildMainTransitions(double toolRadius, double step) {
    std::vector<ContourElement> outer;
    if (!loadContour("MAIN", 0, outer, nullptr) || outer.empty()) return -1;
    Vec2 base[2];
    double width = 0;
    if (hullWidthDirection(outer.data(), static_cast<int32_t>(outer.size()), base, &width) != 1) return -1;
    PassTable* table = passesCreate(base, width, toolRadius, step);
    if (!table) return -1;
    int result = 1;
    if (table->count > 0) {
        passesCut(table, outer.data(), static_cast<int32_t>(outer.size()), 0, 0);
        const int32_t n = clistCount("MAIN");
        std::vector<ContourElement> island;
        for (int32_t i = 1; i < n && table->count > 0; ++i)
            if (loadContour("MAIN", i, island, nullptr))
                passesCut(table, island.data(), static_cast<int32_t>(island.size()), i, 1);
        if (table->count > 0 && passesOrderAndLink(table, 10.0 * toolRadius) < 0) result = -1;
    }
    passTableFree(table);
    return result;
}
