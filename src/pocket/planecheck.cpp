#include "pocket/planecheck.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "kernel/base/constants.h"
#include "kernel/base/runreset.h"
#include "pocket/ccp.h"
#include "pocket/contourclean.h"
#include "pocket/elemaccess.h"
#include "pocket/elemdist.h"
#include "pocket/elemgap.h"
#include "pocket/elemprim.h"
#include "pocket/pocketerr.h"
#include "pocket/pocketscale.h"
#include "pocket/pocketstate.h"

namespace {

constexpr double kOpenSideDistance = 0.07;
constexpr double kJoinGap = 0.01;

double scaleFactor() {
    const double s = pocketKernel().geometryScale;
    return s > 0 ? s : 1.0;
}

}  // namespace

int wallAngleAllowance(const char* list) {
    const CcpParams& p = kvCCPParams;
    if (std::fabs(p.wallAngle) <= 1e-5) return 0;
    const double s = scaleFactor();
    const double a = p.wallAngle * 2 * kPi / 360;
    double rc = 0;
    if (p.toolType == 1) rc = 0.5 * p.toolDiameter / s;
    if (p.toolType == 3) rc = p.cornerRadius / s;
    const double h0 = p.surface - p.depth;
    const double k0 = (1 - std::sin(a)) * rc;
    const int32_t n = clistCount(list);
    for (int32_t i = 0; i < n; ++i) {
        ContourHeader h{};
        if (clistGetHeader(list, &h, i) < 0) continue;
        const double d = h.bottom - h0;
        if (d < 0) continue;
        const double off = (std::tan(a) * (d - k0) - (1 - std::cos(a)) * rc) * s;
        h.allowance += off;
        pocketAllowanceSet(i, h.allowance);
        clistSetHeader(list, &h, i);
    }
    return 1;
}

int markOpenSides(const char* list) {
    const int32_t n = clistCount(list);
    if (n < 2) return n;
    std::vector<ContourElement> outer, chain;
    ContourHeader ho{}, h{};
    if (clistGetHeader(list, &ho, 0) < 0) return 0;
    try {
        outer.resize(ho.elementCount + 1);
    } catch (const std::bad_alloc&) {
        pocketError(kPocketErrStep);
        return 0;
    }
    clistGet(list, outer.data(), &ho, 0);
    const int32_t no = static_cast<int32_t>(ho.elementCount);
    int result = n;
    for (int32_t i = 1; i < n; ++i) {
        if (clistGetHeader(list, &h, i) < 0) continue;
        try {
            chain.resize(h.elementCount + 1);
        } catch (const std::bad_alloc&) {
            pocketError(kPocketErrStep);
            return 0;
        }
        clistGet(list, chain.data(), &h, i);
        for (uint32_t j = 0; j < h.elementCount; ++j) {
            Vec2 mid;
            if (!elemPoint(&chain[j], &mid, kElemMiddle)) continue;
            const double d = contourDistance(&mid, outer.data(), no);
            if ((d >= 0 && d <= kOpenSideDistance) || pointInContour(outer.data(), no, &mid) == 0)
                chain[j].sourceTag = -1;
        }
        result = clistReplace(list, chain.data(), &h, i);
    }
    return result;
}

int mainCircleCentre(const char* list, Vec2* centre) {
    if (clistCount(list) != 1) return 0;
    ContourHeader h{};
    if (clistGetHeader(list, &h, 0) < 0 || h.elementCount < 1) return 0;
    std::vector<ContourElement> chain(h.elementCount);
    clistGet(list, chain.data(), &h, 0);
    const ContourElement& f = chain[0];
    for (const ContourElement& e : chain) {
        if (e.type != kElemArc || e.direction != f.direction || !isEqualTol(e.g[kAcx], f.g[kAcx]) ||
            !isEqualTol(e.g[kAcy], f.g[kAcy]) || !isEqualTol(e.g[kAr], f.g[kAr]))
            return 0;
    }
    if (centre) *centre = {f.g[kAcx], f.g[kAcy]};
    return 1;
}

int contourValidate(ContourElement* elements, int32_t count) {
    if (!elements || count < 1) return 0;
    for (int32_t i = 1; i < count; ++i) {
        Vec2 end, start;
        elemPoint(&elements[i - 1], &end, kElemEnd);
        elemPoint(&elements[i], &start, kElemStart);
        if (!pointsEqual2D(&end, &start) && pointDist2D(&end, &start) > kJoinGap) return 0;
    }
    for (int32_t i = 0; i < count; ++i) {
        ContourElement& e = elements[i];
        if (e.type != kElemArc) continue;
        const double d1 = std::hypot(e.g[kAsx] - e.g[kAcx], e.g[kAsy] - e.g[kAcy]);
        const double d2 = std::hypot(e.g[kAex] - e.g[kAcx], e.g[kAey] - e.g[kAcy]);
        const double diff = std::fabs(d1 - d2);
        if (diff <= pocketKernel().tolerance) continue;
        if (diff > kJoinGap) return 0;
        arcFixRadius(&e);
    }
    return contourIsClosed(elements, count) ? 1 : 0;
}

namespace {

// The walls of a list (INPUT or CLAMPS) in a grid of cells, so that a move is measured only against the
// elements near it: the guard measures every cut written, and a plane's walls may hold thousands of
// elements. Rebuilt when the list changes.
struct WallEntry {
    ContourElement e;
    Vec2 lo, hi;
    double allowance, top, bottom;
    ElemGapShape shape;
};

// Most cuts run far from every wall. A finer grid holds, per cell, how many cells lie at least between it
// and the nearest cell a wall's points reach (counted as a king moves): a move whose box lies in cells far
// enough from all walls is passed without a wall measured.
struct WallClearance {
    std::vector<int32_t> steps;  // empty when some wall has no bound (then every move is measured)
    Vec2 origin{};
    double cell = 1, size = 0;  // size: the largest coordinate magnitude of the walls
    int32_t nx = 0, ny = 0;
};

// The planes of a pocket with upright walls cut the same moves against the same walls: answers are kept
// under the move, the reach and the set of walls that stand at the height, as long as the walls and the
// kernel's tolerances stay the same.
struct RoomKey {
    double g[7], reach;
    int32_t type, direction, heights;  // heights: the set of walls standing at the height
    int32_t pad = 0;
    bool operator==(const RoomKey& o) const { return std::memcmp(this, &o, sizeof o) == 0; }
};

static_assert(sizeof(RoomKey) % 16 == 0, "the hash takes the key's words in pairs");

uint64_t roomHash(const RoomKey& k) {
    uint64_t w[sizeof(RoomKey) / 8], a = 0x9e3779b97f4a7c15ull, b = 0xc2b2ae3d27d4eb4full;
    std::memcpy(w, &k, sizeof w);
    for (size_t i = 0; i + 1 < std::size(w); i += 2) {
        a = (a ^ w[i]) * 0xff51afd7ed558ccdull;
        b = (b ^ w[i + 1]) * 0xc4ceb9fe1a85ec53ull;
    }
    const uint64_t h = (a ^ (b >> 31)) * 0x9e3779b97f4a7c15ull;
    return h ^ (h >> 29);
}

// Answers in a table of open slots, each the hash's high half and the answer's place (1-based): a lookup
// reads one slot and, on a likely match, one answer.
struct RoomAnswers {
    struct Answer {
        RoomKey key;
        bool meets;
    };
    std::vector<uint64_t> slots;
    std::vector<Answer> answers;
    // The place after the answer found or added last. The planes of a level ask for the same moves in the
    // same order: the answer there is tried before the slots, whose reads miss the cache.
    size_t following = 0;

    void clear() {
        slots.clear();
        answers.clear();
        following = 0;
    }
    // The answer at the following place when it is the key's (keys are kept once), else null.
    const Answer* next(const RoomKey& key) {
        if (following >= answers.size() || !(answers[following].key == key)) return nullptr;
        return &answers[following++];
    }
    const Answer* find(const RoomKey& key, uint64_t hash) {
        if (slots.empty()) return nullptr;
        const size_t mask = slots.size() - 1;
        for (size_t i = hash & mask;; i = (i + 1) & mask) {
            const uint64_t s = slots[i];
            if (s == 0) return nullptr;
            if (s >> 32 == hash >> 32 && answers[(s & 0xffffffffu) - 1].key == key) {
                following = s & 0xffffffffu;
                return &answers[following - 1];
            }
        }
    }
    void add(const RoomKey& key, uint64_t hash, bool meets) {
        if (2 * (answers.size() + 1) > slots.size()) {
            slots.assign(std::max<size_t>(1024, 2 * slots.size()), 0);
            answers.push_back({key, meets});
            for (size_t k = 0; k < answers.size(); ++k) place(roomHash(answers[k].key), k);
        } else {
            answers.push_back({key, meets});
            place(hash, answers.size() - 1);
        }
        following = answers.size();
    }

  private:
    void place(uint64_t hash, size_t k) {
        const size_t mask = slots.size() - 1;
        size_t i = hash & mask;
        while (slots[i] != 0) i = (i + 1) & mask;
        slots[i] = (hash >> 32) << 32 | (k + 1);
    }
};

constexpr size_t kRoomAnswers = 1u << 18;  // at most this many answers kept per list (about 30 MB)
constexpr size_t kHeightSets = 64;         // nor answers at more sets of standing walls

struct WallGrid {
    uint64_t generation = 0;
    std::vector<WallEntry> walls;
    std::vector<std::vector<int32_t>> cells;
    std::vector<uint32_t> seen;  // the query that last took each wall
    uint32_t query = 0;
    Vec2 origin{};
    double cell = 1, maxAllowance = 0;
    int32_t nx = 0, ny = 0;
    WallClearance clear;
    RoomAnswers answers;
    std::vector<std::vector<bool>> heightSets;  // the walls standing, per set met
    double tolerances[3] = {};                  // the kernel's, as the answers were found
    double lastHeight = 0;
    int32_t lastSet = -1;
};

WallGrid& wallGrid(int which) {
    static WallGrid grids[2];
    return grids[which];
}

int32_t cellOf(double v, double origin, double cell, int32_t n) {
    const double c = std::floor((v - origin) / cell);
    return c < 0 ? 0 : c >= n ? n - 1 : static_cast<int32_t>(c);
}

void buildClearance(WallGrid* g) {
    WallClearance& c = g->clear;
    c.steps.clear();
    c.size = 0;
    if (g->walls.empty()) return;
    Vec2 lo = g->walls[0].shape.lo, hi = g->walls[0].shape.hi;
    for (const WallEntry& w : g->walls) {
        if (!w.shape.kind) return;
        lo = {std::min(lo.x, w.shape.lo.x), std::min(lo.y, w.shape.lo.y)};
        hi = {std::max(hi.x, w.shape.hi.x), std::max(hi.y, w.shape.hi.y)};
        c.size = std::max(c.size, w.shape.size);
    }
    const double w = hi.x - lo.x, h = hi.y - lo.y;
    c.cell = std::max({g->cell / 4, w / 512, h / 512, 1e-6});
    c.nx = static_cast<int32_t>(w / c.cell) + 1;
    c.ny = static_cast<int32_t>(h / c.cell) + 1;
    c.origin = lo;
    c.steps.assign(static_cast<size_t>(c.nx) * c.ny, -1);
    std::vector<int32_t> front;
    for (const WallEntry& e : g->walls) {
        const int32_t x0 = cellOf(e.shape.lo.x, lo.x, c.cell, c.nx),
                      x1 = cellOf(e.shape.hi.x, lo.x, c.cell, c.nx);
        const int32_t y0 = cellOf(e.shape.lo.y, lo.y, c.cell, c.ny),
                      y1 = cellOf(e.shape.hi.y, lo.y, c.cell, c.ny);
        for (int32_t y = y0; y <= y1; ++y)
            for (int32_t x = x0; x <= x1; ++x) {
                int32_t& s = c.steps[static_cast<size_t>(y) * c.nx + x];
                if (s == 0) continue;
                s = 0;
                front.push_back(y * c.nx + x);
            }
    }
    // Breadth first from the cells the walls reach, one king's move a round.
    for (size_t k = 0; k < front.size(); ++k) {
        const int32_t at = front[k], x = at % c.nx, y = at / c.nx, next = c.steps[at] + 1;
        for (int32_t v = std::max(0, y - 1); v <= std::min(c.ny - 1, y + 1); ++v)
            for (int32_t u = std::max(0, x - 1); u <= std::min(c.nx - 1, x + 1); ++u) {
                int32_t& s = c.steps[static_cast<size_t>(v) * c.nx + u];
                if (s >= 0) continue;
                s = next;
                front.push_back(v * c.nx + u);
            }
    }
}

bool sameWall(const WallEntry& a, const WallEntry& b) {
    return a.e.type == b.e.type && a.e.sourceTag == b.e.sourceTag && a.e.direction == b.e.direction &&
           std::memcmp(a.e.g, b.e.g, sizeof a.e.g) == 0 && std::memcmp(&a.allowance, &b.allowance, 8) == 0 &&
           std::memcmp(&a.top, &b.top, 8) == 0 && std::memcmp(&a.bottom, &b.bottom, 8) == 0;
}

void buildWallGrid(const char* list, WallGrid* g) {
    std::vector<WallEntry> walls;
    double maxAllowance = 0;
    Vec2 lo{0, 0}, hi{0, 0};
    const int32_t n = clistCount(list);
    for (int32_t i = 0; i < n; ++i) {
        ContourHeader h{};
        if (clistGetHeader(list, &h, i) < 0 || !h.elements || h.stock) continue;
        for (uint32_t j = 0; j < h.elementCount; ++j) {
            if (h.elements[j].sourceTag < 0) continue;
            WallEntry w{h.elements[j], {}, {}, h.allowance, h.top, h.bottom, {}};
            elemBoundingBox(&w.e, &w.lo, &w.hi);
            if (walls.empty()) lo = w.lo, hi = w.hi;
            lo = {std::fmin(lo.x, w.lo.x), std::fmin(lo.y, w.lo.y)};
            hi = {std::fmax(hi.x, w.hi.x), std::fmax(hi.y, w.hi.y)};
            maxAllowance = std::fmax(maxAllowance, h.allowance);
            walls.push_back(w);
        }
    }
    // A list written anew with the same walls (each plane's) keeps its grid and its answers.
    if (walls.size() == g->walls.size() && std::equal(walls.begin(), walls.end(), g->walls.begin(), sameWall))
        return;
    g->answers.clear();
    g->heightSets.clear();
    g->lastSet = -1;
    g->walls.swap(walls);
    for (WallEntry& w : g->walls) elemGapShapeOf(&w.e, &w.shape);
    g->maxAllowance = maxAllowance;
    g->seen.assign(g->walls.size(), 0);
    g->query = 0;
    const double w = hi.x - lo.x, h = hi.y - lo.y;
    const double side =
        std::sqrt(std::fmax(w * h, 1e-12) / std::fmax(1.0, static_cast<double>(g->walls.size())));
    g->cell = std::max({side, w / 256, h / 256, 1e-6});
    g->nx = static_cast<int32_t>(w / g->cell) + 1;
    g->ny = static_cast<int32_t>(h / g->cell) + 1;
    g->origin = lo;
    g->cells.assign(static_cast<size_t>(g->nx) * g->ny, {});
    for (size_t k = 0; k < g->walls.size(); ++k) {
        const WallEntry& e = g->walls[k];
        const int32_t x0 = cellOf(e.lo.x, lo.x, g->cell, g->nx), x1 = cellOf(e.hi.x, lo.x, g->cell, g->nx);
        const int32_t y0 = cellOf(e.lo.y, lo.y, g->cell, g->ny), y1 = cellOf(e.hi.y, lo.y, g->cell, g->ny);
        for (int32_t y = y0; y <= y1; ++y)
            for (int32_t x = x0; x <= x1; ++x)
                g->cells[static_cast<size_t>(y) * g->nx + x].push_back(int32_t(k));
    }
    buildClearance(g);
}

// Every wall lies so far from the move that none can come nearer than the reach: a point of the move's box
// in a cell k steps from the nearest cell a wall reaches lies at least k - 1 cells from every wall (also
// past the grid's edge, which the cells of the edge stand for).
bool clearOfAll(const WallGrid& g, const ElemGapShape& move, double reach) {
    const WallClearance& c = g.clear;
    if (c.steps.empty() || !move.kind) return false;
    const double need = elemGapSure(reach, std::max(c.size, move.size));
    const int32_t x0 = cellOf(move.lo.x, c.origin.x, c.cell, c.nx),
                  x1 = cellOf(move.hi.x, c.origin.x, c.cell, c.nx);
    const int32_t y0 = cellOf(move.lo.y, c.origin.y, c.cell, c.ny),
                  y1 = cellOf(move.hi.y, c.origin.y, c.cell, c.ny);
    for (int32_t y = y0; y <= y1; ++y)
        for (int32_t x = x0; x <= x1; ++x)
            if ((c.steps[static_cast<size_t>(y) * c.nx + x] - 1) * c.cell < need) return false;
    return true;
}

// The set of walls standing at the height, as the measure below takes them; -1 past the sets kept.
int32_t heightSet(WallGrid& g, double height, double tolerance) {
    if (g.lastSet >= 0 && std::memcmp(&height, &g.lastHeight, sizeof height) == 0) return g.lastSet;
    std::vector<bool> standing(g.walls.size());
    for (size_t k = 0; k < g.walls.size(); ++k) {
        const WallEntry& w = g.walls[k];
        standing[k] = !(w.bottom > height + tolerance || w.top < height + 1e-5);
    }
    const auto found = std::find(g.heightSets.begin(), g.heightSets.end(), standing);
    int32_t set = static_cast<int32_t>(found - g.heightSets.begin());
    if (found == g.heightSets.end()) {
        if (g.heightSets.size() >= kHeightSets) return -1;
        g.heightSets.push_back(std::move(standing));
    }
    g.lastHeight = height;
    g.lastSet = set;
    return set;
}

// Some wall element of the list's contours that stand at the height comes nearer the move (a line, or a
// point when it has no length) than the reach plus that contour's allowance (all scaled). Stock
// boundaries and open sides are not walls: the tool may pass them.
bool measureWalls(WallGrid& g, const ContourElement& move, double reach, double height);

bool meetsWall(const char* list, int which, const ContourElement& move, double reach, double height) {
    WallGrid& g = wallGrid(which);
    const uint64_t generation = clistGeneration(list);
    if (generation != g.generation) {
        buildWallGrid(list, &g);
        g.generation = generation;
    }
    if (g.walls.empty()) return false;
    const PocketKernel& k = pocketKernel();
    const double tolerances[3] = {k.tolerance, k.tolerance2, k.geometryScale};
    if (std::memcmp(tolerances, g.tolerances, sizeof tolerances) != 0) {
        g.answers.clear();
        g.heightSets.clear();
        g.lastSet = -1;
        std::memcpy(g.tolerances, tolerances, sizeof tolerances);
    }
    RoomKey key{};
    std::memcpy(key.g, move.g, sizeof key.g);
    key.reach = reach;
    key.type = move.type;
    key.direction = move.direction;
    key.heights = heightSet(g, height, k.tolerance);
    if (key.heights >= 0)
        if (const RoomAnswers::Answer* found = g.answers.next(key)) return found->meets;
    const uint64_t hash = roomHash(key);
    if (key.heights >= 0)
        if (const RoomAnswers::Answer* found = g.answers.find(key, hash)) return found->meets;
    const bool meets = measureWalls(g, move, reach, height);
    if (key.heights >= 0 && g.answers.answers.size() < kRoomAnswers) g.answers.add(key, hash, meets);
    return meets;
}

bool measureWalls(WallGrid& g, const ContourElement& move, double reach, double height) {
    if (++g.query == 0) {
        std::fill(g.seen.begin(), g.seen.end(), 0);
        g.query = 1;
    }
    ElemGapShape shape;
    elemGapShapeOf(&move, &shape);
    if (clearOfAll(g, shape, reach + g.maxAllowance)) return false;
    const double tolerance = pocketKernel().tolerance;
    const bool point = move.type == kElemLine && elemIsPoint(&move);
    const Vec2 at{move.g[kLx1], move.g[kLy1]};
    Vec2 near, lo, hi;
    elemBoundingBox(&move, &lo, &hi);
    const double m = std::fmax(reach + g.maxAllowance, 0.0);
    const int32_t x0 = cellOf(lo.x - m, g.origin.x, g.cell, g.nx),
                  x1 = cellOf(hi.x + m, g.origin.x, g.cell, g.nx);
    const int32_t y0 = cellOf(lo.y - m, g.origin.y, g.cell, g.ny),
                  y1 = cellOf(hi.y + m, g.origin.y, g.cell, g.ny);
    for (int32_t y = y0; y <= y1; ++y)
        for (int32_t x = x0; x <= x1; ++x)
            for (const int32_t k : g.cells[static_cast<size_t>(y) * g.nx + x]) {
                if (g.seen[k] == g.query) continue;
                g.seen[k] = g.query;
                const WallEntry& w = g.walls[k];
                if (w.bottom > height + tolerance || w.top < height + 1e-5) continue;
                const double r = reach + w.allowance;
                if (w.lo.x > hi.x + r || w.hi.x < lo.x - r || w.lo.y > hi.y + r || w.hi.y < lo.y - r)
                    continue;
                // Most walls near the move's box lie well beyond the reach: a bound passes over them.
                if (elemGapBeyond(&shape, &w.shape, r)) continue;
                const double d = point ? elemDistance(&at, &w.e, &near) : elemGap(&move, &w.e);
                if (d < r) return true;
            }
    return false;
}

}  // namespace

int toolRoomAt(const Vec2* centre, double reach, double height) {
    return centre ? toolRoomAlong(centre, centre, reach, height) : 0;
}

int toolRoomAlong(const Vec2* from, const Vec2* to, double reach, double height) {
    if (!from || !to) return 0;
    const ContourElement move = elemLineOf(*from, *to, 0);
    return toolRoomOn(&move, reach, height);
}

int toolRoomOn(const ContourElement* move, double reach, double height) {
    if (!move) return 0;
    const double r = 0.5 * kvCCPParams.toolDiameter + reach - pocketKernel().tolerance;
    return meetsWall("INPUT", 0, *move, r, height) || meetsWall("CLAMPS", 1, *move, r, height) ? 0 : 1;
}

void planeCheckResetState() {
    for (int i = 0; i < 2; ++i) wallGrid(i) = WallGrid{};
}
static const RunReset gRunReset(kRunResetCycles, "planeCheck", planeCheckResetState);

int helixClearCheck(const Vec2* centre, double helixRadius, double bottom) {
    if (!centre) return 0;
    // Every wall and island standing at the plane bottom limits the helix, each with its own
    // allowance. (Checking only contours whose bottom lies above the plane's, as before, checked
    // nothing in a pocket of one depth: a helix ran through the walls of a narrow slot.)
    const double s = scaleFactor();
    const Vec2 c{centre->x * s, centre->y * s};
    if (!toolRoomAt(&c, helixRadius * s, bottom)) {
        pocketError(kPocketErrHelix);
        return 0;
    }
    return 1;
}
