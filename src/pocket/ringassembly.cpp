#include "pocket/ringassembly.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>
#include <optional>
#include <utility>
#include <vector>

#include "kernel/base/constants.h"
#include "pocket/chaincross.h"
#include "pocket/contourclean.h"
#include "pocket/contourorient.h"
#include "pocket/elemdist.h"
#include "pocket/elemprim.h"
#include "pocket/pocketerr.h"
#include "pocket/pocketstate.h"

namespace {

constexpr double kTol = 1e-4;

// The ends read in place, as elemPoint gives them ({0, 0} for an unknown type).
Vec2 startOf(const ContourElement* e) {
    if (e->type == kElemLine) return {e->g[kLx1], e->g[kLy1]};
    if (e->type == kElemArc) return {e->g[kAsx], e->g[kAsy]};
    return {0, 0};
}

Vec2 endOf(const ContourElement* e) {
    if (e->type == kElemLine) return {e->g[kLx2], e->g[kLy2]};
    if (e->type == kElemArc) return {e->g[kAex], e->g[kAey]};
    return {0, 0};
}

// Whether p lies nearer than R to an element, exact on arcs of any radius: the
// sweep test is done by fraction along the arc, not by an angle tolerance that
// a large radius would stretch beyond the arc's ends.
bool nearerThan(const Vec2& p, const ContourElement& e, double R) {
    const double R2 = R * R;
    if (e.type == kElemArc) {
        const double cx = p.x - e.g[kAcx], cy = p.y - e.g[kAcy], c = std::sqrt(cx * cx + cy * cy);
        if (std::fabs(c - e.g[kAr]) >= R) return false;
        const double sx = p.x - e.g[kAsx], sy = p.y - e.g[kAsy], tx = p.x - e.g[kAex], ty = p.y - e.g[kAey];
        if (sx * sx + sy * sy < R2 || tx * tx + ty * ty < R2) return true;
        const double f = elemFraction(&e, &p);
        return f >= 0 && f <= 1;
    }
    const double x1 = e.g[kLx1], y1 = e.g[kLy1], dx = e.g[kLx2] - x1, dy = e.g[kLy2] - y1;
    const double l2 = dx * dx + dy * dy;
    const double u = l2 > 0 ? std::clamp(((p.x - x1) * dx + (p.y - y1) * dy) / l2, 0.0, 1.0) : 0.0;
    const double qx = p.x - x1 - u * dx, qy = p.y - y1 - u * dy;
    return qx * qx + qy * qy < R2;
}

// Input elements binned in a grid, so that "is any element nearer than R"
// looks at the few elements around a point instead of all of them.
class InputIndex {
  public:
    InputIndex(const ContourElement* in, int32_t n, double reach) : in_(in), n_(n) {
        if (n < 1) return;
        scanElements();
        buildGrid(reach);
    }

    // The same input's index for another reach: the element pass is taken over.
    InputIndex(const InputIndex& base, double reach)
        : in_(base.in_),
          n_(base.n_),
          all0_(base.all0_),
          all1_(base.all1_),
          scale_(base.scale_),
          elems_(base.elems_),
          carriers_(base.carriers_) {
        if (n_ < 1) return;
        buildGrid(reach);
    }

  private:
    void scanElements() {
        const ContourElement* in = in_;
        const int32_t n = n_;
        elems_.resize(n);
        carriers_.resize(n);
        // One pass over the elements: their boxes, the whole box gathered as the chain's box
        // is, the largest coordinate, and each line's carrier as a unit normal and offset.
        for (int32_t i = 0; i < n; ++i) {
            Vec2 lo, hi;
            elemBoundingBox(&in[i], &lo, &hi);
            elems_[i] = {lo.x, lo.y, hi.x, hi.y, i, in[i].type == kElemLine};
            if (i == 0) {
                all0_ = lo;
                all1_ = hi;
            } else {
                all0_ = {lesserOf(all0_.x, lo.x), lesserOf(all0_.y, lo.y)};
                all1_ = {greaterOf(all1_.x, hi.x), greaterOf(all1_.y, hi.y)};
            }
            scale_ = std::max({scale_, std::fabs(lo.x), std::fabs(lo.y), std::fabs(hi.x), std::fabs(hi.y)});
            Carrier& cl = carriers_[i];
            cl = {0, 0, 0, false};
            if (in[i].type != kElemLine) continue;
            const double x1 = in[i].g[kLx1], y1 = in[i].g[kLy1];
            const double dx = in[i].g[kLx2] - x1, dy = in[i].g[kLy2] - y1, len = std::sqrt(dx * dx + dy * dy);
            if (!(len > 0)) continue;
            const double inv = 1 / len;
            cl.a = -dy * inv, cl.b = dx * inv, cl.c = -(cl.a * x1 + cl.b * y1);
            cl.ok = std::isfinite(cl.a) && std::isfinite(cl.b) && std::isfinite(cl.c);
        }
    }

    void buildGrid(double reach) {
        const int32_t n = n_;
        const double w = all1_.x - all0_.x, h = all1_.y - all0_.y;
        cell_ = std::max({reach, std::max(w, h) / 128, 1e-6});
        nx_ = std::min(128, static_cast<int>(w / cell_) + 1);
        ny_ = std::min(128, static_cast<int>(h / cell_) + 1);
        cell_ = std::max({cell_, w / nx_, h / ny_});
        // Runs of consecutive elements, each in every cell its box grown by the reach meets:
        // a point's own cell then holds every run within the reach of it.
        std::vector<Item> runs((n + kRun - 1) / kRun);
        for (size_t j = 0; j < runs.size(); ++j) {
            Item& u = runs[j];
            u = elems_[kRun * j];
            for (int32_t c = kRun * static_cast<int32_t>(j) + 1;
                 c < std::min(n, kRun * static_cast<int32_t>(j + 1)); ++c) {
                const Item& d = elems_[c];
                u.x0 = lower(u.x0, d.x0), u.y0 = lower(u.y0, d.y0);
                u.x1 = upper(u.x1, d.x1), u.y1 = upper(u.y1, d.y1);
                u.line = u.line && d.line;
            }
        }
        reach_ = reach;
        // The runs get a grid of their own, coarser while it has more than a few cells per
        // run: sized by the reach alone, a few long elements across a wide input filled up to
        // 128 x 128 cells on every call. Any grid that holds each run in every cell its grown
        // box meets gives closer the same answers (see there).
        double runCell = cell_;
        rnx_ = nx_, rny_ = ny_;
        const size_t cap = std::max<size_t>(64, 8 * runs.size());
        for (int k = 0; k < 8 && static_cast<size_t>(rnx_) * rny_ > cap; ++k) {
            runCell *= 2;
            rnx_ = std::min(128, static_cast<int>(w / runCell) + 1);
            rny_ = std::min(128, static_cast<int>(h / runCell) + 1);
        }
        perCell_ = 1 / runCell;
        nearStart_.assign(static_cast<size_t>(rnx_) * rny_ + 1, 0);
        std::vector<int> box(4 * runs.size());
        for (size_t j = 0; j < runs.size(); ++j) {
            const Item& u = runs[j];
            int* r = &box[4 * j];
            r[0] = cellOf(u.x0 - reach, all0_.x, rnx_), r[1] = cellOf(u.y0 - reach, all0_.y, rny_);
            r[2] = cellOf(u.x1 + reach, all0_.x, rnx_), r[3] = cellOf(u.y1 + reach, all0_.y, rny_);
            for (int y = r[1]; y <= r[3]; ++y)
                for (int x = r[0]; x <= r[2]; ++x) ++nearStart_[static_cast<size_t>(y) * rnx_ + x + 1];
        }
        for (size_t k = 1; k < nearStart_.size(); ++k) nearStart_[k] += nearStart_[k - 1];
        near_.resize(nearStart_.back());
        std::vector<int32_t> next(nearStart_.begin(), nearStart_.end() - 1);
        for (size_t j = 0; j < runs.size(); ++j) {
            const int* r = &box[4 * j];
            for (int y = r[1]; y <= r[3]; ++y)
                for (int x = r[0]; x <= r[2]; ++x) near_[next[static_cast<size_t>(y) * rnx_ + x]++] = runs[j];
        }
    }

  public:
    // Whether some input element lies nearer than R to p.
    bool closer(const Vec2& p, double R) const {
        if (n_ < 1 || R <= 0) return false;
        if (p.x < all0_.x - R || p.x > all1_.x + R || p.y < all0_.y - R || p.y > all1_.y + R) return false;
        // A line whose box lies this far from p holds no point nearer than R, with a
        // margin far above the rounding of the exact test, which decides everything nearer.
        const double far = R + 1e-9 * (R + scale_ + std::fabs(p.x) + std::fabs(p.y)), far2 = far * far;
        // A box that rules an element (or a run) out, screened without branches.
        auto reaches = [&](const Item& it) {
            const bool inBox =
                !((p.x < it.x0 - R) | (p.x > it.x1 + R) | (p.y < it.y0 - R) | (p.y > it.y1 + R));
            const double gx = std::max(std::max(it.x0 - p.x, p.x - it.x1), 0.0),
                         gy = std::max(std::max(it.y0 - p.y, p.y - it.y1), 0.0);
            return inBox & (!it.line | !(gx * gx + gy * gy > far2));
        };
        // The elements of [first, end) left by their boxes get the exact test.
        auto scan = [&](const Item* items, int32_t first, int32_t end) {
            for (int32_t k0 = first; k0 < end; k0 += kBatch) {
                int32_t picked[kBatch];
                int m = 0;
                const int32_t k1 = std::min(end, k0 + kBatch);
                for (int32_t k = k0; k < k1; ++k) {
                    picked[m] = items[k].index;
                    m += reaches(items[k]);
                }
                for (int q = 0; q < m; ++q) {
                    const ContourElement& e = in_[picked[q]];
                    if (e.type == kElemLine) {
                        // A line whose whole carrier lies that far off needs no closer look.
                        const double dx = e.g[kLx2] - e.g[kLx1], dy = e.g[kLy2] - e.g[kLy1];
                        const double c = (p.x - e.g[kLx1]) * dy - (p.y - e.g[kLy1]) * dx;
                        if (c * c > far2 * (dx * dx + dy * dy)) continue;
                    }
                    if (nearerThan(p, e, R)) return true;
                }
            }
            return false;
        };
        if (R <= reach_) {
            // A run that passes reaches() has p.x >= u.x0 - R >= u.x0 - reach (rounded alike, and
            // cellOf keeps the order), so it is in p's cell whatever the cell size; a NaN p is
            // nearer than R to nothing.
            const size_t c =
                static_cast<size_t>(cellOf(p.y, all0_.y, rny_)) * rnx_ + cellOf(p.x, all0_.x, rnx_);
            for (int32_t k = nearStart_[c]; k < nearStart_[c + 1]; ++k) {
                const Item& run = near_[k];
                if (!reaches(run)) continue;
                // A line whose carrier passes farther off than R (with the margin, which covers
                // the rounding of the carrier) holds no point nearer; the others get their boxes'
                // and the exact test.
                const int32_t end = std::min(n_, run.index + kRun);
                for (int32_t i = run.index; i < end; ++i) {
                    const Carrier& cl = carriers_[i];
                    if (cl.ok && std::fabs(cl.a * p.x + cl.b * p.y + cl.c) > far) continue;
                    if (reaches(elems_[i]) && nearerThan(p, in_[i], R)) return true;
                }
            }
            return false;
        }
        plainGrid();
        const int x0 = cx(p.x - R), x1 = cx(p.x + R), y0 = cy(p.y - R), y1 = cy(p.y + R);
        for (int y = y0; y <= y1; ++y) {
            // An element met in several rows is tested again: the answer is the same.
            const size_t row = static_cast<size_t>(y) * nx_;
            if (scan(items_.data(), start_[row + x0], start_[row + x1 + 1])) return true;
        }
        return false;
    }

    // Whether p lies inside the input: the crossings of the ray from p towards +x,
    // counted cell by cell along p's row (each in the cell that holds its point, by the
    // same cx() that placed the elements, so none falls between two cells).
    bool inside(const Vec2& p) const {
        if (n_ < 1 || p.y < all0_.y || p.y > all1_.y || p.x > all1_.x) return false;
        plainGrid();
        const int y = cy(p.y);
        bool in = false;
        for (int x = cx(p.x); x < nx_; ++x) {
            const size_t c = static_cast<size_t>(y) * nx_ + x;
            for (int32_t k = start_[c]; k < start_[c + 1]; ++k) {
                const Item& it = items_[k];
                if (p.y < it.y0 || p.y > it.y1 || it.x1 < p.x) continue;
                const ContourElement& e = in_[it.index];
                auto count = [&](double xc) {
                    if (xc > p.x && cx(xc) == x) in = !in;
                };
                if (e.type == kElemLine) {
                    const double y1 = e.g[kLy1], y2 = e.g[kLy2];
                    if ((y1 > p.y) != (y2 > p.y))
                        count(e.g[kLx1] + (p.y - y1) * (e.g[kLx2] - e.g[kLx1]) / (y2 - y1));
                    continue;
                }
                const double dy = p.y - e.g[kAcy], h2 = e.g[kAr] * e.g[kAr] - dy * dy;
                if (h2 <= 0) continue;
                const double h = std::sqrt(h2);
                for (double xc : {e.g[kAcx] - h, e.g[kAcx] + h}) {
                    const Vec2 q{xc, p.y};
                    const double f = elemFraction(&e, &q);
                    // Half-open at the ends, as for lines: the end whose neighbour carries on counts once.
                    const double sy = e.g[kAsy], ey = e.g[kAey];
                    if (f > 0 && f < 1)
                        count(xc);
                    else if (f == 0 && (sy > p.y) != (ey > p.y))
                        count(xc);
                }
            }
        }
        return in;
    }

  private:
    static constexpr int kBatch = 32;
    static constexpr int32_t kRun = 8;

    struct Item {
        double x0, y0, x1, y1;  // the element's box
        int32_t index;
        bool line;
    };

    // fmin and fmax without the library calls: the number when the other is NaN.
    static double lesserOf(double a, double b) { return a < b ? a : (b < a || a != a) ? b : a; }
    static double greaterOf(double a, double b) { return a > b ? a : (b > a || a != a) ? b : a; }

    // Bounds of a run's box; a NaN bound leaves the run unbounded, never ruled out.
    static double lower(double a, double b) { return a != a || b != b ? -HUGE_VAL : std::min(a, b); }
    static double upper(double a, double b) { return a != a || b != b ? HUGE_VAL : std::max(a, b); }

    // The cell of a coordinate in the grid of runs, unbounded and NaN ones at the edge.
    int cellOf(double v, double origin, int cells) const {
        const double t = (v - origin) * perCell_;
        if (!(t >= 0)) return 0;
        return t >= cells - 1 ? cells - 1 : static_cast<int>(t);
    }

    // The grid of the element boxes, built on first use: every element in the cells its box meets.
    void plainGrid() const {
        if (!start_.empty()) return;
        start_.assign(static_cast<size_t>(nx_) * ny_ + 1, 0);
        std::vector<int> box(4 * static_cast<size_t>(n_));
        for (int32_t i = 0; i < n_; ++i) {
            int* r = &box[4 * static_cast<size_t>(i)];
            const Item& e = elems_[i];
            r[0] = cx(e.x0), r[1] = cy(e.y0), r[2] = cx(e.x1), r[3] = cy(e.y1);
            for (int y = r[1]; y <= r[3]; ++y)
                for (int x = r[0]; x <= r[2]; ++x) ++start_[static_cast<size_t>(y) * nx_ + x + 1];
        }
        for (size_t k = 1; k < start_.size(); ++k) start_[k] += start_[k - 1];
        items_.resize(start_.back());
        std::vector<int32_t> next(start_.begin(), start_.end() - 1);
        for (int32_t i = 0; i < n_; ++i) {
            const int* r = &box[4 * static_cast<size_t>(i)];
            for (int y = r[1]; y <= r[3]; ++y)
                for (int x = r[0]; x <= r[2]; ++x)
                    items_[next[static_cast<size_t>(y) * nx_ + x]++] = elems_[i];
        }
    }

    int cx(double x) const { return std::clamp(static_cast<int>((x - all0_.x) / cell_), 0, nx_ - 1); }
    int cy(double y) const { return std::clamp(static_cast<int>((y - all0_.y) / cell_), 0, ny_ - 1); }

    const ContourElement* in_;
    int32_t n_;
    Vec2 all0_{}, all1_{};  // the box of the whole input
    double cell_ = 1;
    double perCell_ = 1;  // 1 / the cell size of the grid of runs, which takes cells by cellOf alone
    double scale_ = 0;    // the largest coordinate of the input's boxes
    double reach_ = 0;
    int nx_ = 1, ny_ = 1;
    int rnx_ = 1, rny_ = 1;               // the grid of runs
    mutable std::vector<int32_t> start_;  // the grid of the element boxes
    mutable std::vector<Item> items_;
    std::vector<int32_t> nearStart_;  // the grid of the grown run boxes
    std::vector<Item> near_;
    std::vector<Item> elems_;  // every element's box, in input order
    struct Carrier {
        double a, b, c;  // a x + b y + c is the distance from the carrier, signed
        bool ok;
    };
    std::vector<Carrier> carriers_;
};

// The grid of the given index for this radius (made on first use), else one of the call's own.
const InputIndex& gridFor(RingInputIndex* given, std::optional<InputIndex>& own, const ContourElement* input,
                          int32_t inputCount, double reach);

// A place on the chain where a crossing record lies.
struct Place {
    int32_t rec;
    int which;  // 1 first element, 2 second
    int32_t elem;
    double frac;
    Vec2 p;
};

bool placeUsed(const PocketIsect& r, int which) {
    return r.state == kIsectSpent || (which == 1 && r.state == kIsectUsedA) ||
           (which == 2 && r.state == kIsectUsedB);
}

void placeMarkUsed(PocketIsect& r, int which) {
    const int32_t mine = which == 1 ? kIsectUsedA : kIsectUsedB;
    if (r.state == kIsectUsedA || r.state == kIsectUsedB)
        r.state = r.state == mine ? mine : kIsectSpent;
    else if (r.state != kIsectSpent)
        r.state = mine;
}

// Appends the chain from place a to place b; false when out would overflow.
bool copyPiece(const ContourElement* chain, int32_t n, const Place& a, const Place& b,
               std::vector<ContourElement>& out, size_t capacity) {
    const bool sameElemAhead = b.elem == a.elem && b.frac >= a.frac;
    const int32_t steps = b.elem > a.elem || sameElemAhead ? b.elem - a.elem + 1 : n - a.elem + b.elem + 1;
    for (int32_t s = 0; s < steps; ++s) {
        ContourElement e = chain[(a.elem + s) % n];
        Vec2 from = startOf(&e), to = endOf(&e);
        if (s == 0) from = a.p;
        if (s == steps - 1) to = b.p;
        elemTrim(&e, &from, &to);
        if (elemIsPoint(&e)) continue;
        if (out.size() >= capacity) return false;
        out.push_back(e);
    }
    return true;
}

// Length of an element from its ends and, for an arc, its sweep.
double quickLength(const ContourElement& e) {
    if (e.type != kElemArc) {
        const double dx = e.g[kLx2] - e.g[kLx1], dy = e.g[kLy2] - e.g[kLy1];
        return std::sqrt(dx * dx + dy * dy);
    }
    const double a0 = std::atan2(e.g[kAsy] - e.g[kAcy], e.g[kAsx] - e.g[kAcx]);
    double w =
        (e.direction > 0 ? 1.0 : -1.0) * (std::atan2(e.g[kAey] - e.g[kAcy], e.g[kAex] - e.g[kAcx]) - a0);
    while (w < 0) w += kTwoPi;
    return e.g[kAr] * w;
}

// The point halfway along a run of elements.
Vec2 midway(const std::vector<ContourElement>& run) {
    std::vector<double> len(run.size());
    double total = 0;
    for (size_t i = 0; i < run.size(); ++i) total += len[i] = quickLength(run[i]);
    double left = 0.5 * total;
    for (size_t i = 0; i < run.size(); ++i) {
        if (left <= len[i] && len[i] > 0) {
            const double t = left / len[i];
            Vec2 p;
            if (run[i].type == kElemArc) {
                arcPointAt(&run[i], t, &p);
            } else {
                p = {run[i].g[kLx1] + t * (run[i].g[kLx2] - run[i].g[kLx1]),
                     run[i].g[kLy1] + t * (run[i].g[kLy2] - run[i].g[kLy1])};
            }
            return p;
        }
        left -= len[i];
    }
    return run.empty() ? Vec2{0, 0} : startOf(&run[0]);
}

}  // namespace

struct RingInputIndex {
    const ContourElement* input;
    int32_t count;
    // The grids by radius: a grid's cells are sized by its radius, and its inside test depends on them.
    std::vector<std::pair<double, std::unique_ptr<InputIndex>>> grids;
};

namespace {

const InputIndex& gridFor(RingInputIndex* given, std::optional<InputIndex>& own, const ContourElement* input,
                          int32_t inputCount, double reach) {
    if (!given || given->input != input || given->count != inputCount)
        return own.emplace(input, inputCount, reach);
    for (const auto& g : given->grids)
        if (g.first == reach) return *g.second;
    given->grids.emplace_back(reach, given->grids.empty()
                                         ? std::make_unique<InputIndex>(input, inputCount, reach)
                                         : std::make_unique<InputIndex>(*given->grids[0].second, reach));
    return *given->grids.back().second;
}

}  // namespace

RingInputIndex* ringInputIndexCreate(const ContourElement* input, int32_t inputCount) {
    return new (std::nothrow) RingInputIndex{input, inputCount, {}};
}

void ringInputIndexFree(RingInputIndex* index) {
    delete index;
}

double isectClassifyRadius(double d) {
    const PocketOffsetState& st = pocketOffsetState();
    double t = st.growMode == 0 ? 0.04 : st.classifyTol;
    if (d <= 0.5)
        t /= 10;
    else if (d < 1)
        t /= 5;
    else if (d < 4.8)
        t /= 2;
    else if (d > 50)
        t *= 2;
    return t < d ? d - t : d;
}

void isectClassify(PocketIsect* records, int32_t count, const ContourElement* chain, int32_t chainCount,
                   const ContourElement* input, int32_t inputCount, double distance, int side,
                   RingInputIndex* given) {
    (void)chain;
    (void)chainCount;
    (void)side;
    const double r = isectClassifyRadius(distance) - pocketKernel().tolerance;
    std::optional<InputIndex> own;
    const InputIndex& index = gridFor(given, own, input, inputCount, r);
    for (int32_t i = count - 1; i >= 0; --i) {
        const Vec2 p{records[i].x, records[i].y};
        records[i].state = index.closer(p, r) ? kIsectInvalid : kIsectValid;
    }
    isectMarkNearInvalid(records, count);
}

void isectMarkNearInvalid(PocketIsect* records, int32_t count) {
    const double tol = pocketKernel().tolerance;
    for (int32_t i = 0; i < count; ++i) {
        if (records[i].state != kIsectInvalid) continue;
        for (int32_t k = 0; k < count; ++k) {
            if (std::fabs(records[k].x - records[i].x) < tol && std::fabs(records[k].y - records[i].y) < tol)
                records[k].state = kIsectInvalid;
        }
    }
}

int32_t offsetBuildFromHits(PocketIsect* records, int32_t count, const ContourElement* chain,
                            int32_t chainCount, ContourElement* out, int32_t outCapacity,
                            const ContourElement* input, int32_t inputCount, double distance, int inside,
                            RingInputIndex* given) {
    // Every crossing cuts the chain, an invalid one too: the pieces on either side
    // of it are judged on their own.
    std::vector<Place> places;
    for (int32_t i = 0; i < count; ++i) {
        const Vec2 p{records[i].x, records[i].y};
        for (int which : {1, 2}) {
            const int32_t e = (which == 1 ? records[i].elemA : records[i].elemB) - 1;
            if (e < 0 || e >= chainCount) continue;
            places.push_back({i, which, e, elemFraction(&chain[e], &p), p});
        }
    }
    std::stable_sort(places.begin(), places.end(), [](const Place& a, const Place& b) {
        return a.elem != b.elem ? a.elem < b.elem : a.frac < b.frac;
    });
    const int32_t m = static_cast<int32_t>(places.size());
    if (m < 2) return 0;
    std::vector<int32_t> other(m, -1), seen(count, -1);
    for (int32_t k = 0; k < m; ++k) {
        int32_t& first = seen[places[k].rec];
        if (first < 0) {
            first = k;
        } else {
            other[k] = first;
            other[first] = k;
        }
    }
    // Pieces of the raw chain lie exactly at the distance from their own source, so
    // only rounding is forgiven: the smallest loop left at a shallow corner dips
    // distance x turn^2 / 8 below it.
    const double r = distance * (1 - 1e-7) - 1e-9;
    std::optional<InputIndex> own;
    const InputIndex& index = gridFor(given, own, input, inputCount, r);
    std::vector<ContourElement> ring, piece;
    // A piece keeps the distance when its middle does; a piece between two
    // neighbouring crossings lies wholly on one side of the distance.
    auto pieceValid = [&](int32_t k) {
        piece.clear();
        if (!copyPiece(chain, chainCount, places[k], places[(k + 1) % m], piece, kClistMaxElements))
            return false;
        if (piece.empty()) return true;
        const Vec2 mid = midway(piece);
        if (index.closer(mid, r)) return false;
        // An arc about a sharp inner corner can reach round to the wrong side of the
        // contour at the full distance from everything.
        return inside == 0 || index.inside(mid) == (inside > 0);
    };
    auto free = [&](int32_t k) { return !placeUsed(records[places[k].rec], places[k].which); };
    auto spend = [&](int32_t k) { placeMarkUsed(records[places[k].rec], places[k].which); };
    for (;;) {
        int32_t start = -1;
        for (int32_t k = 0; k < m && start < 0; ++k) {
            if (!free(k)) continue;
            if (pieceValid(k))
                start = k;
            else
                spend(k);
        }
        if (start < 0) return 0;
        ring.clear();
        int32_t cur = start;
        bool closed = false;
        for (int32_t step = 0; step <= m && !closed; ++step) {
            if (!copyPiece(chain, chainCount, places[cur], places[(cur + 1) % m], ring,
                           static_cast<size_t>(outCapacity))) {
                pocketError(kPocketErrElementCap);
                return -1;
            }
            spend(cur);
            const int32_t endAt = (cur + 1) % m;
            const int32_t across = other[endAt];
            if (across == start) {
                closed = true;
            } else if (across >= 0 && free(across) && pieceValid(across)) {
                cur = across;
            } else if (endAt == start) {
                closed = true;
            } else if (free(endAt) && pieceValid(endAt)) {
                cur = endAt;
            } else if (pointsEqual2D(&places[endAt].p, &places[start].p)) {
                closed = true;
            } else {
                break;
            }
        }
        if (!closed) {
            pocketOffsetState().problem = 1;
            return -2;
        }
        int32_t n = static_cast<int32_t>(ring.size());
        std::copy(ring.begin(), ring.end(), out);
        n = contourClean(out, n);
        if (n == 0) continue;
        const bool twoLines = n == 2 && out[0].type == kElemLine && out[1].type == kElemLine;
        if (twoLines || offsetArcBulges(out, n, input, inputCount, distance)) pocketOffsetState().problem = 1;
        return n;
    }
}

int offsetArcBulges(const ContourElement* ring, int32_t count, const ContourElement* source,
                    int32_t sourceCount, double distance) {
    for (int32_t i = 0; i < count; ++i) {
        const ContourElement* e = &ring[i];
        if (e->type != kElemArc || e->g[kAr] < 5000) continue;
        const Vec2 s = startOf(e), t = endOf(e);
        if (std::hypot(t.x - s.x, t.y - s.y) > 1.0) continue;
        Vec2 m;
        elemPoint(e, &m, kElemMiddle);
        if (contourDistance(&m, source, sourceCount) > 2 * distance) return 1;
    }
    return 0;
}

void arcCentreRepair(ContourElement* ring, int32_t count) {
    const double tol = pocketKernel().tolerance;
    for (int32_t i = 0; i < count; ++i) {
        ContourElement* e = &ring[i];
        if (e->type != kElemArc) continue;
        const double sx = e->g[kAsx], sy = e->g[kAsy], ex = e->g[kAex], ey = e->g[kAey];
        const double chord = std::hypot(ex - sx, ey - sy);
        if (chord <= tol) continue;
        const double mx = 0.5 * (sx + ex), my = 0.5 * (sy + ey);
        const double line[4] = {sx, sy, ex, ey};
        // distPointLine(centre, line) < tol, by the squared distance away from the tolerance.
        Vec2 foot;
        projectOnLine(line, e->g[kAcx], e->g[kAcy], &foot);
        const double fx = e->g[kAcx] - foot.x, fy = e->g[kAcy] - foot.y, q = fx * fx + fy * fy,
                     t2 = tol * tol;
        const bool safe = tol > 0 && t2 > 1e-290;
        const bool onChord = safe && q > t2 * (1 + 1e-9) ? false
                             : safe && q < t2 * (1 - 1e-9)
                                 ? true
                                 : distPointLine(e->g[kAcx], e->g[kAcy], line) < tol;
        if (onChord) {
            e->g[kAcx] = mx;
            e->g[kAcy] = my;
            continue;
        }
        const double h2 = e->g[kAr] * e->g[kAr] - 0.25 * chord * chord;
        if (h2 < 0) continue;
        double nx = -(ey - sy) / chord, ny = (ex - sx) / chord;
        if (nx * (e->g[kAcx] - mx) + ny * (e->g[kAcy] - my) < 0) {
            nx = -nx;
            ny = -ny;
        }
        const double h = std::sqrt(h2);
        e->g[kAcx] = mx + h * nx;
        e->g[kAcy] = my + h * ny;
    }
}

int ringHasDuplicate(const ContourElement* ring, int32_t count) {
    // Equal elements share their start: only elements with nearly the same start x are compared.
    std::vector<int32_t> order(count);
    std::vector<double> key(count);
    for (int32_t i = 0; i < count; ++i) {
        order[i] = i;
        key[i] = startOf(&ring[i]).x;
    }
    std::sort(order.begin(), order.end(), [&](int32_t a, int32_t b) { return key[a] < key[b]; });
    auto same = [](double a, double b) { return std::fabs(a - b) < kTol; };
    for (int32_t u = 0; u < count; ++u) {
        const ContourElement* a = &ring[order[u]];
        const Vec2 as = startOf(a), ae = endOf(a);
        for (int32_t v = u + 1; v < count; ++v) {
            const ContourElement* b = &ring[order[v]];
            const Vec2 bs = startOf(b), be = endOf(b);
            if (bs.x - as.x >= kTol) break;
            const int32_t gap = std::abs(order[u] - order[v]);
            if (gap < 2 || a->type != b->type) continue;
            if (!same(as.y, bs.y) || !same(ae.x, be.x) || !same(ae.y, be.y)) continue;
            if (a->type == kElemArc && (a->direction != b->direction || !same(a->g[kAcx], b->g[kAcx]) ||
                                        !same(a->g[kAcy], b->g[kAcy])))
                continue;
            return 1;
        }
    }
    return 0;
}

int ringHasFullArc(int32_t count, const ContourElement* ring, int mode) {
    if (count < 5) return 0;
    const int32_t last = mode == 1 ? 1 : count;
    for (int32_t i = 0; i < last; ++i) {
        if (ring[i].type == kElemArc && elemLength(&ring[i]) > 0.9 * kTwoPi * ring[i].g[kAr]) return 1;
    }
    return 0;
}

int ringHasZeroElement(const ContourElement* ring, int32_t count) {
    if (count < 2) return 0;
    const Vec2 first = endOf(&ring[0]);
    for (int32_t i = 1; i < count; ++i) {
        const Vec2 e = endOf(&ring[i]);
        if (std::fabs(e.x - first.x) < 1e-5 && std::fabs(e.y - first.y) < 1e-5) return 1;
    }
    return 0;
}

int ringKeepsDistance(const ContourElement* ring, int32_t count, const ContourElement* input,
                      int32_t inputCount, double distance, RingInputIndex* given) {
    if (distance < 0.00011 || count <= 1) return 1;
    const double R = 0.9 * distance;
    std::optional<InputIndex> own;
    const InputIndex& index = gridFor(given, own, input, inputCount, R);
    for (int32_t i = 1; i < count; ++i) {
        if (index.closer(endOf(&ring[i]), R)) return 0;
    }
    return 1;
}

int ringKeepsOffset(const ContourElement* ring, int32_t count, const ContourElement* input,
                    int32_t inputCount, double distance, RingInputIndex* given) {
    if (distance < 0.00011) return 1;
    const double r = isectClassifyRadius(distance) - pocketKernel().tolerance;
    std::optional<InputIndex> own;
    const InputIndex& index = gridFor(given, own, input, inputCount, r);
    for (int32_t i = 0; i < count; ++i) {
        const ContourElement& el = ring[i];
        if (el.type != kElemLine && el.type != kElemArc) continue;
        Vec2 e = endOf(&el);
        if (index.closer(e, r)) return 0;
        // A long element could dip in between its ends: a chord longer than the distance,
        // or an arc of more than half a turn.
        const Vec2 s0 = startOf(&el);
        const double len2 = (e.x - s0.x) * (e.x - s0.x) + (e.y - s0.y) * (e.y - s0.y);
        bool longOne = len2 > distance * distance;
        if (el.type == kElemArc && !longOne) {
            const double ax = s0.x - el.g[kAcx], ay = s0.y - el.g[kAcy], bx = e.x - el.g[kAcx],
                         by = e.y - el.g[kAcy];
            longOne = el.direction * (ax * by - ay * bx) <= 0;
        }
        // Below the flat radius a corner arc of the offset is cleaned into its chord, whose middle lies
        // sqrt(d^2 - L^2/4) from the corner: held to the arc's own distance, the ring would be lost.
        double rMiddle = r;
        if (el.type == kElemLine && distance < kPocketFlatRadius && 0.25 * len2 < distance * distance)
            rMiddle = std::min(r, std::sqrt(distance * distance - 0.25 * len2) - pocketKernel().tolerance);
        if (longOne && elemPoint(&el, &e, kElemMiddle) && index.closer(e, rMiddle)) return 0;
    }
    return 1;
}

int ringsContainInput(const ContourElement* rings, const int32_t* ringStart, const int32_t* ringCount,
                      int32_t nRings, const ContourElement* input, int32_t inputCount) {
    for (int32_t i = 0; i < nRings; ++i) {
        if (contourContainsChain(input, inputCount, rings + ringStart[i], ringCount[i]) != 0) return 1;
    }
    return 0;
}

int ringsAlreadyClosed(const ContourElement* chain, int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
        const Vec2 e = endOf(&chain[(i + count - 1) % count]), s = startOf(&chain[i]);
        if (std::fabs(e.x - s.x) >= kTol || std::fabs(e.y - s.y) >= kTol) return 0;
    }
    return 1;
}

int chainJoinSingleGap(ContourElement* chain, int32_t count) {
    const double scale = pocketKernel().geometryScale;
    if (scale < 2 || count < 1) return 0;
    int32_t breakAt = -1;
    for (int32_t i = 0; i < count; ++i) {
        const Vec2 e = endOf(&chain[(i + count - 1) % count]), s = startOf(&chain[i]);
        if (std::fabs(e.x - s.x) > kTol || std::fabs(e.y - s.y) > kTol) {
            if (breakAt >= 0) return 0;
            breakAt = i;
        }
    }
    if (breakAt < 0) return 0;
    ContourElement* before = &chain[(breakAt + count - 1) % count];
    ContourElement* after = &chain[breakAt];
    const Vec2 e = endOf(before), s = startOf(after);
    if (std::hypot(e.x - s.x, e.y - s.y) > 0.02 * scale) return 0;
    const Vec2 mid{0.5 * (e.x + s.x), 0.5 * (e.y + s.y)};
    elemSetPoint(before, &mid, kElemEnd);
    elemSetPoint(after, &mid, kElemStart);
    if (before->type == kElemArc) arcFixRadius(before);
    if (after->type == kElemArc) arcFixRadius(after);
    return 1;
}

int32_t chainCloseEnd(ContourElement* chain, int32_t count, int snap) {
    if (count < 1) return count;
    const Vec2 s = startOf(&chain[0]), e = endOf(&chain[count - 1]);
    if (std::fabs(s.x - e.x) <= 0.01 && std::fabs(s.y - e.y) <= 0.01) return count;
    if (snap && std::hypot(s.x - e.x, s.y - e.y) < 0.05) {
        if (chain[count - 1].type == kElemLine) {
            elemSetPoint(&chain[count - 1], &s, kElemEnd);
            return count;
        }
        if (chain[0].type == kElemLine) {
            elemSetPoint(&chain[0], &e, kElemStart);
            return count;
        }
    }
    ContourElement line = chain[count - 1];
    line.type = kElemLine;
    for (double& g : line.g) g = 0;
    line.g[kLx1] = e.x;
    line.g[kLy1] = e.y;
    line.g[kLx2] = s.x;
    line.g[kLy2] = s.y;
    line.direction = 0;
    chain[count] = line;
    return count + 1;
}
