#include "plunge/plungerows.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <utility>
#include <vector>

#include "../geometry/msg_capture.h"
#include "channeltest.h"
#include "memshort.h"
#include "plunge/cutlist.h"
#include "plunge/cycparams.h"
#include "plunge/pathspace.h"
#include "plunge/profile2d.h"
#include "sidetest.h"

namespace {

struct Owned {
    Profile2D* start = nullptr;
    PlistArray* sides = nullptr;
    CutListSet* set = nullptr;
    ~Owned() {
        freeProfile2D(start);
        plistArrayFree(sides);
        cutListSetFree(set);
    }
};

// Start profile from (5, z) to (200, z + rise).
Profile2D* line(double z, double rise) {
    return profileOf({{5, z}, {200, z + rise}});
}

// Side lists at -0.3 and 0.3 (that one turning on by fan per unit of parameter); with a splitter, inner
// lists at -+0.05 cutting from parameter 8.
PlistArray* channel(bool splitter, double fan = 0) {
    std::vector<Polar> side3;
    for (int i = 0; i < 21; ++i) side3.push_back({double(i), 10.0 + i, 0.3 + fan * i, 0, 0});
    return arrayOf({ray(-0.3, 21, 2), splitter ? ray(-0.05, 21, 8) : none(),
                    splitter ? ray(0.05, 21, 8) : none(), polarPath(side3)});
}

// Largest distance from samples of the cut lines of a to the nearest cut line of b.
double bruteGap(const CutRecordList* a, const CutRecordList* b) {
    double worst = 0;
    for (int32_t i = 0; i < a->count; ++i)
        for (int k = 0; k <= 20; ++k) {
            const CutRecord& c = a->records[i];
            Vec3 x{c.top.x + k / 20.0 * (c.bottom.x - c.top.x), c.top.y + k / 20.0 * (c.bottom.y - c.top.y),
                   c.top.z + k / 20.0 * (c.bottom.z - c.top.z)};
            double best = 1e300;
            for (int32_t j = 0; j < b->count; ++j) {
                const Vec3 &s = b->records[j].top, &e = b->records[j].bottom;
                const Vec3 d{e.x - s.x, e.y - s.y, e.z - s.z}, w{x.x - s.x, x.y - s.y, x.z - s.z};
                const double h = vecDot3D(&w, &d) / vecDot3D(&d, &d);
                const Vec3 foot{s.x + h * d.x, s.y + h * d.y, s.z + h * d.z};
                best = std::min(best, dist3D(&x, &foot));
            }
            worst = std::max(worst, best);
        }
    return worst;
}

}  // namespace

TEST(PlungeRows, ArcSegmentsAndRowsAtAParameter) {
    struct Case {
        double r, phi, precision;
        int points;  // 0: the closed form
    } cases[] = {{10, 0.5, 0.01, 0},
                 {10, -1.0, 0.1, 0},
                 {1e-6, 1.0, 0.01, 2},
                 {10, 0.5, 25, 2},
                 {10, 0.5, 0, kRowArcMaxSegments + 1},
                 {10, 0.5, -1, kRowArcMaxSegments + 1}};
    const Vec3 a{0, 0, 1}, b{0, 1, 0};
    for (const Case& c : cases) {
        cycleParams()->precision = c.precision;
        Plist* row = plistCreate(8000, 1);
        const Vec3 from{c.r, 0, 2}, to{c.r * std::cos(c.phi), c.r * std::sin(c.phi), 2};
        ASSERT_EQ(rowArc(&from, &a, &to, &b, row), 1);
        EXPECT_EQ(row->count,
                  c.points ? c.points : int(std::fabs(c.phi) / (2 * std::acos(1 - c.precision / c.r))) + 2);
        double length = 0;
        for (int32_t i = 1; i < row->count; ++i) length += dist3D(&row->points[i - 1], &row->points[i]);
        EXPECT_NEAR(row->parameters[row->count - 1], length, 1e-9);
        EXPECT_NEAR(polar(row->points[row->count - 1]), c.phi, 1e-9);  // on the second point
        EXPECT_NEAR(row->vectors[row->count - 1].y, 1, 1e-9);
        plistFree(row);
    }
    // Between points of different radius and height the arc ends on the second point, radius and height
    // going over in step with the angle.
    cycleParams()->precision = 0.01;
    Plist* spiral = plistCreate(8000, 1);
    ASSERT_NE(spiral, nullptr);
    const Vec3 from{10, 0, 2}, to{10.3 * std::cos(0.5), 10.3 * std::sin(0.5), 2.4};
    ASSERT_EQ(rowArc(&from, &a, &to, &b, spiral), 1);
    EXPECT_NEAR(dist3D(&spiral->points[spiral->count - 1], &to), 0, 1e-12);
    for (int32_t i = 0; i < spiral->count; ++i) {
        const Vec3& p = spiral->points[i];
        EXPECT_NEAR(std::hypot(p.x, p.y), 10 + 0.6 * polar(p), 1e-9) << i;
        EXPECT_NEAR(p.z, 2 + 0.8 * polar(p), 1e-9) << i;
    }
    plistFree(spiral);
    // A second arc appended to a row turns its own axes by its own arc length, the first arc's stay.
    Plist* two = plistCreate(8000, 1);
    ASSERT_NE(two, nullptr);
    const Vec3 mid{10 * std::cos(0.3), 10 * std::sin(0.3), 2}, end{10 * std::cos(0.8), 10 * std::sin(0.8), 2};
    ASSERT_EQ(rowArc(&from, &a, &mid, &a, two), 1);
    const int32_t i0 = two->count;
    ASSERT_EQ(rowArc(&mid, &a, &end, &b, two), 1);
    ASSERT_GT(two->count, i0 + 2);
    const double s0 = two->parameters[i0], s1 = two->parameters[two->count - 1];
    for (int32_t i = 0; i < two->count; ++i) {
        const double turn = i < i0 ? 0.0 : (two->parameters[i] - s0) / (s1 - s0) * M_PI / 2;
        EXPECT_NEAR(std::acos(std::clamp(vecDot3D(&two->vectors[i], &a), -1.0, 1.0)), turn, 1e-9) << i;
        EXPECT_NEAR(two->vectors[i].x, 0, 1e-12) << i;
    }
    plistFree(two);
    cycleParamsResetState();
    Plist *ra = plistCreate(4000, 1), *rb = plistCreate(4000, 1);
    Owned o;
    o.sides = channel(true);
    EXPECT_EQ(rowAtParam(ra, rb, o.sides, 4), 1);  // the inner lists do not cut there yet
    EXPECT_NEAR(polar(ra->points[ra->count - 1]), 0.3, 1e-9);
    // Inner lists cutting from 8 to 15 then trailing links: halves only on a segment between cut points.
    Owned trail;
    trail.sides = arrayOf({ray(-0.3, 21), ray(-0.05, 21, 8, 5), ray(0.05, 21, 8, 5), ray(0.3, 21)});
    for (const auto& [t, rc] : {std::pair{7.5, 1}, {8.5, 2}, {14.5, 2}, {15.5, 1}})
        EXPECT_EQ(rowAtParam(ra, rb, trail.sides, t), rc) << t;
    // Inner lists of one cut point each (a list with room for no more) split the row at their parameter.
    auto single = [](double angle) {
        Plist* l = plistCreate(1, 1);
        const Vec3 q{20 * std::cos(angle), 20 * std::sin(angle), 0}, up{0, 0, 1};
        plistAppend(l, 10, &q, 0, &up, 1);
        return l;
    };
    Owned lone;
    lone.sides = arrayOf({ray(-0.3, 21), single(-0.05), single(0.05), ray(0.3, 21)});
    EXPECT_EQ(rowAtParam(ra, rb, lone.sides, 10), 2);
    ASSERT_EQ(rowAtParam(ra, rb, o.sides, 12), 2);
    // Memory short for either half's points: no row (-1), never a code of its own.
    for (long n = 1; n < 100; ++n) {
        Plist *sa = plistCreate(1, 1), *sb = plistCreate(1, 1);
        allocfail::arm(n);
        const int rc = rowAtParam(sa, sb, o.sides, 12);
        const bool fired = allocfail::fired();
        allocfail::disarm();
        plistFree(sa), plistFree(sb);
        ASSERT_EQ(rc, fired ? -1 : 2) << n;
        if (!fired) break;
    }
    EXPECT_NEAR(polar(ra->points[ra->count - 1]) - polar(rb->points[0]), -0.1, 1e-9);
    EXPECT_EQ(rowAtParam(ra, rb, o.sides, 25), -1);
    plistFree(ra);
    plistFree(rb);
}

TEST(PlungeRows, RecordsAtStationsRunAgainstTheRow) {
    Owned o;
    o.start = line(5, 0.001);
    const Vec3 up{0, 0, 1}, back{0, -0.8, 0.6}, from{20 * std::cos(0.2), -20 * std::sin(0.2), 0},
        to{20 * std::cos(0.2), 20 * std::sin(0.2), 0};
    for (int uniform : {0, 1}) {
        Plist* row = plistCreate(4000, 1);
        ASSERT_EQ(rowArc(&from, &up, &to, &up, row), 1);
        CutRecordList* cuts = rowCuts(o.start, row, 1.3, uniform);
        ASSERT_NE(cuts, nullptr);
        const double length = row->parameters[row->count - 1];
        const int n = int(length / 1.3) + 1;
        EXPECT_EQ(cuts->count, n + 1);
        for (int k = 0; k <= n && k < cuts->count; ++k) {
            Vec3 p;
            plistPointAtParam(row, std::min(1.0, uniform ? double(k) / n : k * 1.3 / length) * length, &p);
            EXPECT_NEAR(dist3D(&cuts->records[k].bottom, &p), 0, 1e-9);
            EXPECT_NEAR(cuts->records[k].top.z, 5, 1e-3);
            EXPECT_EQ(cuts->records[k].kind, k == 0 || k == n ? 1 : 0);
        }
        idx5CutListFree(cuts);
        // An axis leaning back against the row's first segment stores the records in reverse.
        for (int32_t i = 0; i < row->count; ++i) row->vectors[i] = back;
        cuts = rowCuts(o.start, row, 1.3, uniform);
        ASSERT_NE(cuts, nullptr);
        ASSERT_GT(cuts->count, 0);
        EXPECT_NEAR(dist3D(&cuts->records[0].bottom, &row->points[row->count - 1]), 0, 1e-9);
        idx5CutListFree(cuts);
        // Level axes never meet the start profile above: no station, yet no failure.
        for (int32_t i = 0; i < row->count; ++i) row->vectors[i] = {1, 0, 0};
        cuts = rowCuts(o.start, row, 1.3, uniform);
        EXPECT_EQ(cuts ? cuts->count : -1, 0);
        idx5CutListFree(cuts);
        row->count = 1;
        EXPECT_EQ(rowCuts(o.start, row, 1, 1), nullptr);
        plistFree(row);
    }
}
// Stations go at most a step apart along the longer of the row and the polyline of its tops: a first
// axis leaning far forward spreads the tops over 5 (4 then 1) above a row of length 2.
TEST(PlungeRows, StationsFollowTheTopsWhereTheySpreadWider) {
    Owned o;
    o.start = line(5, 0.001);
    for (const double step : {0.9, 1.3, 2.4}) {
        Plist* row = plistCreate(8, 1);
        const Vec3 lean{0, std::sqrt(0.5), std::sqrt(0.5)}, up{0, 0, 1};
        for (int i = 0; i < 3; ++i) {
            const Vec3 p{20, double(i), 0};
            plistAppend(row, i, &p, 0, i == 0 ? &lean : &up, 1);
        }
        CutRecordList* cuts = rowCuts(o.start, row, step, 0);
        ASSERT_NE(cuts, nullptr);
        // Tops where each point's axis meets z = 5: (20, 5), (20, 1), (20, 2).
        const double tops = 4 + 1;
        EXPECT_EQ(cuts->count, int(std::floor(std::max(tops, 2.0) / step)) + 2) << step;
        idx5CutListFree(cuts);
        // A list holds fewer than 4000 stations: a step of 5 / 3999.5 still makes a list, 5 / 4000.5 none.
        if (step < 1) {
            cuts = rowCuts(o.start, row, tops / 3999.5, 0);
            EXPECT_EQ(cuts ? cuts->count : 0, 4001);
            idx5CutListFree(cuts);
            EXPECT_EQ(rowCuts(o.start, row, tops / 4000.5, 0), nullptr);
        }
        plistFree(row);
    }
}

// Each row keeps within *T_CUTWIDTH of the last row of its key; a row of halves by the wider of its halves'
// gaps (beside a side list that fans out, the far half's).
TEST(PlungeRows, RowsAcrossARadialChannelKeepTheStep) {
    struct Case {
        bool split;
        double isoStart, isoEnd;
        int entry;
        double fan;
    } cases[] = {{false, 0, 1, 0, 0},
                 {false, 0.25, 0.75, 0, 0},
                 {true, 0, 1, 0, 0},
                 {false, 0, 1, 1, 0},
                 {true, 0, 1, 0, 0.06}};
    for (const Case& c : cases) {
        cycleParamsResetState();
        CycleParams* cp = cycleParams();
        cp->isoStart = c.isoStart, cp->isoEnd = c.isoEnd, cp->entryPos = int16_t(c.entry);
        cp->tCutwidth = 2.5;  // the secant search closes in on the target 2 from above
        Owned o;
        o.start = line(5, 0.001);
        o.sides = channel(c.split, c.fan);
        o.set = buildPlungeRows(o.sides, o.sides, o.start, 2);
        ASSERT_TRUE(o.set);
        ASSERT_GT(o.set->count, 2);
        const double tA = c.split ? 8 : 2, lo = tA + c.isoStart * (20 - tA),
                     hi = 20 - (1 - c.isoEnd) * (20 - tA);
        EXPECT_NEAR(o.set->values[0], c.entry == 1 ? hi : lo, 1e-9);
        bool halves = false;
        for (int32_t i = 0; i < o.set->count; ++i) {
            EXPECT_TRUE(o.set->values[i] >= lo - 1e-9 && o.set->values[i] <= hi + 1e-9);
            halves |= o.set->keys[i] == 2;
            for (int32_t j = i - 1; j >= 0; --j)
                if (o.set->keys[j] == 0 || o.set->keys[i] == 0 || o.set->keys[j] == o.set->keys[i]) {
                    EXPECT_TRUE(o.set->values[j] == o.set->values[i] ||
                                bruteGap(o.set->lists[i], o.set->lists[j]) < 2.5 + 1e-6);
                    break;
                }
        }
        EXPECT_EQ(halves, c.split);
    }
    cycleParamsResetState();
    Owned o;  // rowBetween: needs two rows, a whole row and a positive step
    o.start = line(5, 0.001);
    o.sides = channel(true);
    for (const double g : {0.0, -1.0, double(NAN)}) {  // no step: no rows
        CutListSet* none = buildPlungeRows(o.sides, o.sides, o.start, g);
        ASSERT_NE(none, nullptr);
        EXPECT_EQ(none->count, 0) << g;
        cutListSetFree(none);
    }
    o.set = cutListSetCreate(8);
    double t0 = 2;  // a gap of 0 not below a target of 0, and no last row to blend toward
    EXPECT_EQ(nextPlungeRow(o.set, o.sides, o.start, 1, 0, &t0), -1);
    EXPECT_EQ(nextPlungeRow(nullptr, o.sides, o.start, 1, 2, &t0), -1);  // no set or no parameter: no row
    EXPECT_EQ(nextPlungeRow(o.set, o.sides, o.start, 1, 2, nullptr), -1);
    EXPECT_EQ(rowBetween(o.set, o.sides, o.start, 1, 2, 4), -1);
    EXPECT_EQ(rebuildLastRow(o.start, o.set, 0, o.sides, 0.5), -1);
    // Memory short at any step of a whole row or of halves: exactly -1 with the set and *t as they were.
    for (const double from : {2.0, 10.0})
        for (long n = 1; n < 400; ++n) {
            CutListSet* set = cutListSetCreate(4);
            double t = from;
            allocfail::arm(n);
            const int rc = nextPlungeRow(set, o.sides, o.start, 1, 2, &t);
            const bool fired = allocfail::fired();
            allocfail::disarm();
            EXPECT_TRUE(rc == 1 ? set->count == (from > 8 ? 2 : 1)
                                : fired && rc == -1 && set->count == 0 && t == from)
                << from << " " << n;
            cutListSetFree(set);
            if (!fired) break;
        }
    for (double t : {2.0, 3.5}) ASSERT_EQ(nextPlungeRow(o.set, o.sides, o.start, 1, 2, &t), 1);
    EXPECT_EQ(rowBetween(o.set, o.sides, o.start, 1, 2, 12), -1);
    EXPECT_EQ(rowBetween(o.set, o.sides, o.start, 1, 0, 3), -1);
    // A whole row too far from the last ones for its first station to be covered adds nothing.
    EXPECT_EQ(rowBetween(o.set, o.sides, o.start, 1, 2, 7), -1);
    EXPECT_EQ(o.set->count, 2);
    EXPECT_EQ(rowBetween(o.set, o.sides, o.start, 1, 2, 3), 1);
    EXPECT_EQ(rebuildLastRow(o.start, o.set, o.set->count - 1, o.sides, 0.5), 1);
    // Memory short at any step of a rebuild: -1 with the row as it was, or the row whole again.
    const int32_t stations = o.set->lists[o.set->count - 1]->count;
    for (long n = 1; n < 300; ++n) {
        allocfail::arm(n);
        const int rc = rebuildLastRow(o.start, o.set, o.set->count - 1, o.sides, 0.5);
        const bool fired = allocfail::fired();
        allocfail::disarm();
        EXPECT_TRUE(rc == 1 || (fired && rc == -1)) << n;
        EXPECT_EQ(o.set->lists[o.set->count - 1]->count, stations) << n;
        if (!fired) break;
    }
    // An index past the rows is refused even where the unused slot holds a valid parameter.
    ASSERT_LT(o.set->count, o.set->capacity);
    o.set->values[o.set->count] = 3;
    EXPECT_EQ(rebuildLastRow(o.start, o.set, o.set->count, o.sides, 0.5), -1);
    EXPECT_EQ(rebuildLastRow(o.start, o.set, -1, o.sides, 0.5), -1);
    EXPECT_EQ(o.set->lists[o.set->count], nullptr);
    // Axes leaning back against the row's run: the walked row is laid from its far end.
    for (int k : {0, 3})
        for (int32_t i = 0; i < o.sides->lists[k]->count; ++i)
            o.sides->lists[k]->vectors[i] = {0, -0.1, 0.995};
    ASSERT_EQ(rowBetween(o.set, o.sides, o.start, 1, 2, 3.5), 1);
    EXPECT_NEAR(polar(o.set->lists[o.set->count - 1]->records[0].bottom), 0.3, 1e-9);
    // Entering from the end, only the first row is taken whatever its gap: a later row past the widest
    // gap (here the parameter step; 4 step widths with *CENTER_CUT, else 2) is not.
    cycleParams()->entryPos = 1;
    for (const auto& [cc, from] : {std::pair{1, 8.0}, {1, 13.4}, {1, 14.4}, {0, 15.4}}) {
        cycleParams()->centerCut = static_cast<int16_t>(cc);
        Owned e;
        e.start = line(5, 0.001), e.sides = channel(false), e.set = cutListSetCreate(4);
        double t = 18;
        EXPECT_EQ(nextPlungeRow(e.set, e.sides, e.start, 1, 2, &t), 1);
        t = from;
        // Within it the rows blend toward a gap below *T_CUTWIDTH (0 here): none is acceptable.
        EXPECT_EQ(nextPlungeRow(e.set, e.sides, e.start, 1, 2, &t), 18 - from > (cc ? 4 : 2) ? 0 : -1)
            << from;
        EXPECT_EQ(e.set->count, 1);
    }
    cycleParamsResetState();
}

// A row step so fine that the channel (parameters 2 to 20) needs more rows than a set holds: the rows
// stop at the limit short of the window's end (the run then fails with 6226); a coarser step reaches it.
TEST(PlungeRows, RowsThatReachTheLimitSaySo) {
    for (const double g : {0.012, 0.03}) {
        cycleParamsResetState();
        cycleParams()->tCutwidth = 1.25 * g;
        Owned o;
        o.start = line(5, 0.001), o.sides = channel(false);
        o.set = buildPlungeRows(o.sides, o.sides, o.start, g);
        ASSERT_TRUE(o.set);
        const bool more = 18 / g > static_cast<double>(kRowSetCapacity);
        EXPECT_EQ(plungeRowsReachEnd(o.set, o.sides, g), more ? 0 : 1) << g;
        EXPECT_TRUE(more ? o.set->count == kRowSetCapacity
                         : std::fabs(o.set->values[o.set->count - 1] - 20) <= g);
    }
}

// Where the inner lists begin, their axes lean (as the tilt search leaves them beside a splitter's nose)
// ahead along the channel: the first halves lie farther from the last whole row than any gap the rows
// accept. The rows still cross into the halves and reach the window's end, in both running directions,
// without crowding at the change.
TEST(PlungeRows, RowsCrossWhereTheInnerListsBeginWithLeaningAxes) {
    const struct {
        double lean;  // radians off the vertical, outward along the channel
        int entry;
    } cases[] = {{0.0, 0}, {0.6, 0}, {0.9, 0}, {0.6, 1}, {0.9, 1}};
    for (const auto& c : cases) {
        cycleParamsResetState();
        CycleParams* cp = cycleParams();
        cp->entryPos = int16_t(c.entry);
        cp->tCutwidth = 2.5;
        Owned o;
        o.start = line(5, 0.001);
        // Inner lists that run in front of the splitter as cut points of the whole rows (per-point byte
        // 0) and belong to the splitter from parameter 8.
        o.sides = arrayOf({ray(-0.3, 21, 2), ray(-0.05, 21), ray(0.05, 21), ray(0.3, 21)});
        for (int k : {1, 2}) {
            Plist* l = o.sides->lists[k];
            for (int32_t i = 0; i < l->count; ++i) {
                l->bytes[i] = i >= 8 ? 1 : 0;
                const double phi = polar(l->points[i]);
                l->vectors[i] = {std::sin(c.lean) * std::cos(phi), std::sin(c.lean) * std::sin(phi),
                                 std::cos(c.lean)};
            }
        }
        o.set = buildPlungeRows(o.sides, o.sides, o.start, 2);
        ASSERT_TRUE(o.set);
        ASSERT_GT(o.set->count, 2);
        const double first = o.set->values[0], last = o.set->values[o.set->count - 1];
        EXPECT_NEAR(c.entry ? first : last, 20, 1e-9) << c.lean;  // the end of the common cut range
        EXPECT_NEAR(c.entry ? last : first, 2, 1e-9) << c.lean;
        int whole = 0, halves = 0, nearChange = 0;
        for (int32_t i = 0; i < o.set->count; ++i) {
            (o.set->keys[i] == 0 ? whole : halves) += 1;
            nearChange += o.set->keys[i] == 0 && std::fabs(o.set->values[i] - 8) < 0.1;
            // Past the inner lists' start (within the lists' parameter tolerance) every row is split; rows
            // never crowd closer than the lists tell parameters apart.
            EXPECT_EQ(o.set->keys[i] != 0, o.set->values[i] > 8 + 2e-5) << c.lean << " " << o.set->values[i];
            if (i > 0 && o.set->keys[i] != 2) {
                EXPECT_GT(std::fabs(o.set->values[i] - o.set->values[i - 1]), 1e-5);
            }
        }
        EXPECT_GT(whole, 2);
        EXPECT_GT(halves, 8);
        EXPECT_LE(nearChange, 1) << c.lean;  // a whole row at the change, none crowding up to it
        EXPECT_LT(o.set->count, 60) << c.lean;
        // Asked past the change, the row goes back to it from the last row, whatever slots past it hold.
        if (c.entry == 0 && c.lean > 0) {
            Owned d;
            d.start = line(5, 0.001), d.set = cutListSetCreate(4);
            double t = 6;
            ASSERT_EQ(nextPlungeRow(d.set, o.sides, d.start, 1, 2, &t), 1);
            d.set->values[2] = 12, t = 10;
            EXPECT_EQ(nextPlungeRow(d.set, o.sides, d.start, 1, 2, &t), 1);
            EXPECT_TRUE(t > 6 && t <= 8 + 2e-5 && d.set->keys[d.set->count - 1] == 0) << t;
            for (const int key : {0, 2}) {  // then up to the change, and the first halves just past it
                const double last = t;
                t = 10;
                ASSERT_EQ(nextPlungeRow(d.set, o.sides, d.start, 1, 2, &t), 1);
                EXPECT_TRUE(t > last && t < 8 + 1e-3 && d.set->keys[d.set->count - 1] == key) << t;
            }
        }
    }
    cycleParamsResetState();
}

// Rows that stop short of their window's end by more than the row step are told apart, in both running
// directions; a channel without a window needs none.
TEST(PlungeRows, RowsShortOfTheWindowEndAreToldApart) {
    for (int entry : {0, 1}) {
        cycleParamsResetState();
        cycleParams()->entryPos = int16_t(entry);
        Owned o;
        o.start = line(5, 0.001);
        o.sides = channel(false);  // window 2 .. 20
        o.set = cutListSetCreate(8);
        ASSERT_TRUE(o.set);
        EXPECT_EQ(plungeRowsReachEnd(o.set, o.sides, 2), 0);
        CutRecordList* row = idx5CutListCreate(1);
        ASSERT_TRUE(row);
        const struct {
            double at;
            int reached;
        } ends[] = {{11, 0}, {entry ? 4.5 : 17.5, 0}, {entry ? 3.9 : 18.1, 1}, {entry ? 2.0 : 20.0, 1}};
        for (const auto& e : ends) {
            ASSERT_EQ(cutListSetAdd(o.set, row, 0, e.at), 1);
            EXPECT_EQ(plungeRowsReachEnd(o.set, o.sides, 2), e.reached) << entry << " " << e.at;
        }
        Owned none;
        none.sides = arrayOf({sidetest::none(), sidetest::none(), sidetest::none(), sidetest::none()});
        EXPECT_EQ(plungeRowsReachEnd(nullptr, none.sides, 2), 1);
        Plist* kept = std::exchange(none.sides->lists[1], nullptr);  // a missing list is no list
        EXPECT_EQ(plungeRowsReachEnd(nullptr, none.sides, 2), 1);
        none.sides->lists[1] = kept;
        // Only the counted side lists make the window (0 .. 20): one left past the count (0 .. 1) is not
        // read, so a last row at 1 is short of the end running up and reaches it running down.
        Owned stale;
        stale.sides = arrayOf({ray(-0.2, 21), ray(0.2, 21), ray(0, 2)});
        stale.set = cutListSetCreate(1);
        ASSERT_EQ(cutListSetAdd(stale.set, row, 0, 1.0), 1);
        --stale.sides->count;
        EXPECT_EQ(plungeRowsReachEnd(nullptr, stale.sides, 2), 0);
        EXPECT_EQ(plungeRowsReachEnd(stale.set, stale.sides, 2), entry);
        ++stale.sides->count;
        idx5CutListFree(row);
    }
    // A window running backward (*ISO_START past *ISO_END) by the row step g = 2, to within 1e-5, holds no
    // row and needs none; one short of that by more still gets its rows.
    const struct {
        double back;
        bool rows;
    } windows[] = {{2 - 5e-6, false}, {2.0, false}, {3.0, false}, {2 - 5e-5, true}};
    for (const auto& w : windows) {
        cycleParamsResetState();
        cycleParams()->isoStart = 0.5;
        cycleParams()->isoEnd = 0.5 - w.back / 18;  // window 2 .. 20
        Owned o;
        o.start = line(5, 0.001);
        o.sides = channel(false);
        o.set = buildPlungeRows(o.sides, o.sides, o.start, 2);
        ASSERT_TRUE(o.set);
        EXPECT_EQ(o.set->count > 0, w.rows) << w.back;
        if (!w.rows) {
            EXPECT_EQ(plungeRowsReachEnd(o.set, o.sides, 2), 1) << w.back;
        }
    }
    cycleParamsResetState();
}

TEST(PlungeRows, ExampleImpellerRowsStayInTheSectorAndWithinTheStepover) {
    cycleParamsResetState();
    HubShroud* pair = exampleChannel();
    ASSERT_NE(pair, nullptr);
    // Walls on the hub wrapping by 0.6 rad along the channel, 0.6 rad apart; axes toward the shroud.
    const double length = pair->hub->param[pair->hub->count - 1];
    std::vector<Plist*> walls;
    for (double offset : {-0.3, 0.3}) {
        Plist* l = plistCreate(256, 1);
        for (int i = 0; i <= 100; ++i) {
            Vec2 h, sh;
            evalHubShroud(pair, length * i / 100, &h, &sh);
            Vec3 p, top;
            meridianToWorld(&h, 0.006 * i + offset, &p);
            meridianToWorld(&sh, 0.006 * i + offset, &top);
            Vec3 axis{top.x - p.x, top.y - p.y, top.z - p.z};
            vecNormalize3D(&axis, &axis);
            plistAppend(l, length * i / 100, &p, 0, &axis, 1);
        }
        walls.push_back(l);
    }
    Owned o;
    o.sides = arrayOf({walls[0], none(), none(), walls[1]});
    o.start = copyProfile2D(pair->shroud);
    const double stepover = cycleParams()->horizustel;
    cycleParams()->tCutwidth = stepover;  // rows aimed below the stepover, accepted within it
    o.set = buildPlungeRows(o.sides, o.sides, o.start, 0.8 * stepover);
    ASSERT_TRUE(o.set);
    ASSERT_GT(o.set->count, 5);
    for (int32_t i = 0; i < o.set->count; ++i) {
        Vec3 p0, p3;
        ASSERT_GE(plistPointAtParam(o.sides->lists[0], o.set->values[i], &p0), 0);
        ASSERT_GE(plistPointAtParam(o.sides->lists[3], o.set->values[i], &p3), 0);
        for (int32_t k = 0; k < o.set->lists[i]->count; ++k) {
            const Vec3& b = o.set->lists[i]->records[k].bottom;
            EXPECT_TRUE(pathSignedAngle(&p0, &b) >= -1e-6 && pathSignedAngle(&b, &p3) >= -1e-6);
        }
        EXPECT_TRUE(i == 0 || bruteGap(o.set->lists[i], o.set->lists[i - 1]) < stepover + 1e-6) << i;
    }
    freeHubShroud(pair);
    cycleParamsResetState();
}

// Halves of a row at parameter 10 (radius 20) from side list 0 to inner list 1 and inner list 2 to side
// list 3: a half with too many stations for a list (4000, at 5 mm of arc per 1000) makes no row, and
// neither half is added alone.
TEST(PlungeRows, NoRowWhereAHalfHasTooManyStations) {
    cycleParamsResetState();
    const struct {
        double side0, side3, step;
        int added;
    } rows[] = {{-0.3, 2.5, 0.05, 1}, {-0.3, 2.5, 0.005, -1}, {-2.5, 0.3, 0.005, -1}, {-0.3, 0.3, 0.005, 1}};
    for (const auto& r : rows) {
        Owned o;
        o.start = line(5, 0.001);
        o.sides = arrayOf({ray(r.side0, 21), ray(-0.05, 21, 8), ray(0.05, 21, 8), ray(r.side3, 21)});
        o.set = cutListSetCreate(4);
        double t = 10;
        EXPECT_EQ(nextPlungeRow(o.set, o.sides, o.start, r.step, 2, &t), r.added) << r.side0 << " " << r.step;
        EXPECT_EQ(o.set->count, r.added == 1 ? 2 : 0);
    }
}

// The last row of a set that is whole (key 0) or of the key asked for, against a scan from the end.
TEST(PlungeRows, LastRowOfAKeyOrWhole) {
    std::mt19937 rng(7);
    for (int trial = 0; trial < 30; ++trial) {
        CutListSet* set = cutListSetCreate(2);
        ASSERT_NE(set, nullptr);
        std::vector<int32_t> keys(rng() % 6);
        for (int32_t& k : keys) {
            k = int32_t(rng() % 3);
            CutRecordList* row = idx5CutListCreate(1);
            ASSERT_EQ(cutListSetAdd(set, row, k, 0.0), 1);
            idx5CutListFree(row);
        }
        for (int32_t key : {1, 2}) {
            int32_t expected = -1;
            for (int32_t i = 0; i < int32_t(keys.size()); ++i)
                if (keys[size_t(i)] == 0 || keys[size_t(i)] == key) expected = i;
            int32_t index = -7;
            const CutRecordList* got = lastRowOfSet(set, key, &index);
            EXPECT_EQ(got, expected < 0 ? nullptr : set->lists[expected]) << trial;
            EXPECT_EQ(index, expected < 0 ? -7 : expected) << trial;
            EXPECT_EQ(lastRowOfSet(set, key, nullptr), got);
        }
        cutListSetFree(set);
    }
    EXPECT_EQ(lastRowOfSet(nullptr, 1, nullptr), nullptr);
}

// Side list 3 widens the channel at 10 by 3 mm, past the gap the rows accept (2.5), within the widest (5):
// rows crowd up to the jump until none can follow, and the last is laid again at the plunge step; none
// goes back behind the row before it.
TEST(PlungeRows, RowBeforeAJumpIsRebuiltAtThePlungeStep) {
    cycleParamsResetState();
    cycleParams()->tCutwidth = 2.5;
    std::vector<Polar> wide;
    for (double t = 0; t <= 20; t += 1) wide.push_back({t, 10 + t, t < 10 ? 0.3 : 0.45, 0, 0});
    wide.insert(wide.begin() + 10, {10 - 1e-4, 20 - 1e-4, 0.3, 0, 0});
    Owned o, even;
    o.start = line(5, 0.001), o.sides = arrayOf({ray(-0.3, 21, 2), none(), none(), polarPath(wide)});
    even.sides = channel(false);  // rows stepped evenly: none lands inside the jump
    ASSERT_TRUE(o.set = buildPlungeRows(o.sides, even.sides, o.start, 2));
    int rebuilt = 0;
    for (int32_t i = 0; i < o.set->count; ++i) {
        const CutRecordList* r = o.set->lists[i];
        ASSERT_GT(r->count, 2);
        if (i > 0) {
            EXPECT_GT(o.set->values[i], o.set->values[i - 1]) << i;
        }
        const double first = dist3D(&r->records[0].bottom, &r->records[1].bottom);
        if (first < 2) continue;  // stations at the row step, 1
        ++rebuilt;
        EXPECT_TRUE(first <= 3 + 1e-9 && std::fabs(o.set->values[i] - 10) < 0.1) << i;
        for (int32_t k = 2; k < r->count; ++k)
            EXPECT_NEAR(dist3D(&r->records[k - 1].bottom, &r->records[k].bottom), first, 1e-6) << i;
    }
    EXPECT_GT(rebuilt, 0);
    EXPECT_EQ(plungeRowsReachEnd(o.set, o.sides, 2), 1);  // past the jump the rows go on to the end
    cycleParamsResetState();
}

// One side's axes leaning along the row part the stations' lines toward their tops: the walk halves its
// step where the next station would leave the cut width and still reaches the far side. Each station
// lies within the step of the last two rows' lines or of its own row's earlier ones (brute force).
TEST(PlungeRows, WalkedRowHalvesItsStepWhereTheAxesFanOut) {
    for (const double lean : {0.0, 0.6, 1.2}) {
        cycleParamsResetState();
        Owned o;
        o.start = line(5, 0.001), o.sides = channel(false), o.set = cutListSetCreate(8);
        for (double t : {1.0, 2.0}) ASSERT_EQ(nextPlungeRow(o.set, o.sides, o.start, 1, 2, &t), 1);
        Plist* l3 = o.sides->lists[3];
        for (int32_t i = 0; i < l3->count; ++i) {
            const double phi = polar(l3->points[i]), s = std::sin(lean);
            l3->vectors[i] = {-std::sin(phi) * s, std::cos(phi) * s, std::cos(lean)};
        }
        ASSERT_EQ(rowBetween(o.set, o.sides, o.start, 1, 2, 3.5), 1) << lean;
        const CutRecordList *last = o.set->lists[1], *row = o.set->lists[2];
        EXPECT_NEAR(polar(row->records[row->count - 1].bottom) - polar(row->records[0].bottom), 0.6, 1e-9);
        CutRecordList *seen = idx5CutListCopy(o.set->lists[0]), *one = idx5CutListCreate(1);
        ASSERT_TRUE(seen && one);
        for (const CutRecordList* l : {last, row})
            for (int32_t i = 0; i < l->count; ++i) {
                one->records[0] = l->records[i], one->count = 1;
                EXPECT_TRUE(l != row || bruteGap(one, seen) < 2) << lean << " " << i;
                idx5CutListAdd(seen, &l->records[i].top, &l->records[i].bottom, 0);
            }
        one->count = 0, idx5CutListFree(seen), idx5CutListFree(one);
    }
}
