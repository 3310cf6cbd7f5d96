#include "avoidance/avoidfit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "geometry/rng.h"
#include "near.h"
#include "workfolder.h"

namespace {

// n points along x, parameters step apart, axes tilted by b[i] towards azimuth c.
Plist* fitList(int n, double step, const std::vector<double>& b, double c) {
    Plist* l = plistCreate(n, 1);
    if (!l) return nullptr;
    for (int i = 0; i < n; ++i) {
        const Vec3 p = {static_cast<double>(i), 0.0, 0.0};
        const Vec3 v = {std::sin(b[i]) * std::cos(c), std::sin(b[i]) * std::sin(c), std::cos(b[i])};
        plistAppend(l, step * i, &p, 0, &v, 0);
    }
    return l;
}

std::string readAll(const char* name) {
    std::ifstream f(name);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

}  // namespace

// Seeded B bands around a wavy profile, parameters rising or falling: the fitted B stays in every
// band and the list's axes carry it (tilt acos z, azimuth unchanged).
TEST(AvoidFit, BandFitStaysInsideEveryInterval) {
    rngResetState();
    for (int trial = 0; trial < 24; ++trial) {
        const int n = 5 + rngBelow(30);
        const double step = trial % 2 ? -0.7 : 0.7, c = 2.0 * rngUniform() - 1.0;
        std::vector<double> b(n);
        for (int i = 0; i < n; ++i) b[i] = 0.5 + 0.2 * std::sin(0.3 * i + trial) + 0.05 * rngUniform();
        Plist* l = fitList(n, step, b, c);
        ASSERT_NE(l, nullptr);
        AvoidTable* t = avoidTableCreate(l, 0.4, 1.2);
        ASSERT_NE(t, nullptr);
        for (int i = 0; i < n; ++i) {
            AvoidEntry& e = t->entries[i];
            e.b = b[i];
            e.bMin = b[i] - 0.05 - 0.1 * rngUniform();
            e.bMax = b[i] + 0.05 + 0.1 * rngUniform();
        }
        const std::vector<AvoidEntry> before(t->entries, t->entries + n);
        EXPECT_EQ(avoidFitBandB(t, l), 1) << trial;
        for (int i = 0; i < n; ++i) {
            EXPECT_GE(t->entries[i].b, before[i].bMin - 1e-9) << trial << " " << i;
            EXPECT_LE(t->entries[i].b, before[i].bMax + 1e-9) << trial << " " << i;
            EXPECT_NEAR(std::acos(l->vectors[i].z), t->entries[i].b, 1e-9);
            EXPECT_NEAR(std::atan2(l->vectors[i].y, l->vectors[i].x), c, 1e-9);
        }
        avoidTableFree(t);
        plistFree(l);
    }
}

TEST(AvoidFit, UnusableRangesFail) {
    struct Case {
        int n;
        double step;
    } cases[] = {{1, 1.0}, {3, 0.0}};  // one point; equal parameters
    for (const Case& c : cases) {
        Plist* l = fitList(c.n, c.step, std::vector<double>(c.n, 0.3), 0.5);
        ASSERT_NE(l, nullptr);
        AvoidTable* t = avoidTableCreate(l, 0.3, 1.0);
        ASSERT_NE(t, nullptr);
        t->entries[0].bMin = 0.0;
        const Vec3 axis0 = l->vectors[0];
        EXPECT_EQ(avoidFitBandB(t, l), -1) << c.n;
        if (c.step == 0.0) EXPECT_VEC_NEAR(l->vectors[0], axis0, 0.0);  // never reached the fit
        avoidTableFree(t);
        plistFree(l);
    }
}

TEST(AvoidFit, RecordLifeCycleAndDump) {
    EXPECT_EQ(fillet_rec_create(0), nullptr);
    FreeLineFillet2Args* r = fillet_rec_create(3);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->capacity, 12);
    EXPECT_EQ(r->count, 3);
    EXPECT_EQ(r->eps, 0.05);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(r->out[i], 0.0);
        r->para[i] = i, r->lower[i] = -1.0 - i, r->upper[i] = 1.0 + i, r->out[i] = 0.5;
    }
    fillet_rec_scale(r, 2.0);
    EXPECT_EQ(r->para[2], 2.0);
    EXPECT_EQ(r->lower[2], -6.0);
    EXPECT_EQ(r->out[1], 1.0);
    const double svec[2] = {0.6, 0.8};
    ASSERT_EQ(FreeLineFillet2_dump(r, "zltop1", 1.5, 2.25, svec, 0.05, 100.0), 1);
    const std::string dash(85, '-');
    EXPECT_EQ(readAll("zltop1.txt"),
              dash + "\nCALL:: FreeLineFillet2( Para, Plower, Pupper, Pout, Count, Mode, Ys, " +
                  "Svec, Ye, Evec )\n" + dash +
                  "\nMode = 1\tYs = 1.500000\t Ye = 2.250000\nSvec = (0.600000,0.800000)\t " +
                  "Evec = (0.0,1.000)\nEps  = 0.050\nMindist = 100.000\n" + dash + "\n");
    const std::string bnd = readAll("zltop1.bnd");
    EXPECT_EQ(bnd.substr(0, 38), "**BND layer[ CORV_KVXBND ] color[ 3 ]\n");
    EXPECT_NE(bnd.find("X2.000000 Y-6.000000 Z0.000000\n**END\n**BND"), std::string::npos);
    EXPECT_NE(bnd.find("X2.000000 Y6.000000 Z0.000000\n**END\n"), std::string::npos);
    fillet_rec_free(r);
}

TEST(AvoidFit, ListInsertInterpolatesTheAxis) {
    Plist* l = fitList(2, 1.0, {0.0, 0.6}, 0.0);
    ASSERT_NE(l, nullptr);
    EXPECT_EQ(avoidListInsert(l, 0.5), 1);
    ASSERT_EQ(l->count, 3);
    EXPECT_NEAR(std::acos(l->vectors[1].z), 0.3, 1e-9);
    EXPECT_NEAR(l->points[1].x, 0.5, 1e-12);
    EXPECT_EQ(avoidListInsert(l, 0.5), 1);  // a vertex is already there
    EXPECT_EQ(l->count, 3);
    EXPECT_EQ(avoidListInsert(l, 2.0), 0);
    plistFree(l);
}
