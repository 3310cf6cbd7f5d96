// Surfaces for the surface tests.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "surfaces/surflist.h"
#include "workfolder.h"

// A namespace of their own: one test binary links these beside other families' helpers.
namespace surftest {

// A surface record freed with its owner.
struct RecGuard {
    TrimSurface rec;
    ~RecGuard() { kvxFreeTrimSurface(&rec); }
};

// A fresh folder per test inside the binary's temporary working folder (removed at its end).
inline std::filesystem::path tempDir() {
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    auto dir = std::filesystem::current_path() /
               ("surf_" + std::string(info->test_suite_name()) + "_" + info->name());
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

inline std::string writeText(const std::string& name, const std::string& text) {
    const auto path = (tempDir() / name).string();
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

// Full cylinder of radius R about z, heights 0..h: rational quadratic circle in u (0..1), linear v.
inline void makeCylinder(TrimSurface* rec, double R, double h) {
    kvxInitTrimSurface(rec);
    ASSERT_EQ(bsplSurfaceAlloc(&rec->surface, 3, 2, 9, 2, 1), 1);
    BsplSurface& s = rec->surface;
    const double uk[] = {0, 0, 0, .25, .25, .5, .5, .75, .75, 1, 1, 1};
    const double vk[] = {0, 0, 1, 1};
    std::copy(uk, uk + 12, s.uKnots);
    std::copy(vk, vk + 4, s.vKnots);
    const double cx[] = {1, 1, 0, -1, -1, -1, 0, 1, 1}, cy[] = {0, 1, 1, 1, 0, -1, -1, -1, 0};
    for (int i = 0; i < 9; ++i)
        for (int j = 0; j < 2; ++j) {
            s.rows[i][j] = {R * cx[i], R * cy[i], h * j};
            s.weights[i][j] = i % 2 ? std::sqrt(0.5) : 1.0;
        }
}

// A random clamped surface with ascending inner knots over 0..1 and points in a 100 mm cube.
inline void makeRandomSurface(TrimSurface* rec, std::mt19937& rng, int uOrder, int vOrder, int uNum, int vNum,
                              bool rational) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    kvxInitTrimSurface(rec);
    ASSERT_EQ(bsplSurfaceAlloc(&rec->surface, uOrder, vOrder, uNum, vNum, rational), 1);
    BsplSurface& s = rec->surface;
    auto knots = [&](double* k, int order, int num) {
        std::vector<double> inner(num - order);
        for (double& t : inner) t = 0.05 + 0.9 * unit(rng);
        std::sort(inner.begin(), inner.end());
        for (int i = 0; i < order; ++i) k[i] = 0.0, k[num + i] = 1.0;
        for (int i = order; i < num; ++i) k[i] = inner[i - order];
    };
    knots(s.uKnots, uOrder, uNum);
    knots(s.vKnots, vOrder, vNum);
    for (int i = 0; i < uNum; ++i)
        for (int j = 0; j < vNum; ++j) {
            s.rows[i][j] = {100 * unit(rng), 100 * unit(rng), 100 * unit(rng)};
            if (rational) s.weights[i][j] = 0.5 + 1.5 * unit(rng);
        }
}

inline double maxDiff(const Vec3& a, const Vec3& b) {
    return std::max({std::fabs(a.x - b.x), std::fabs(a.y - b.y), std::fabs(a.z - b.z)});
}

// The octant x, y, z >= 0 of the sphere of radius R: a quarter meridian in u revolved a quarter turn.
inline void makeSphereOctant(TrimSurface* rec, double R) {
    kvxInitTrimSurface(rec);
    ASSERT_EQ(bsplSurfaceAlloc(&rec->surface, 3, 3, 3, 3, 1), 1);
    BsplSurface& s = rec->surface;
    const double k[] = {0, 0, 0, 1, 1, 1}, r[] = {R, R, 0}, z[] = {0, R, R}, cx[] = {1, 1, 0},
                 cy[] = {0, 1, 1};
    const double w[] = {1, std::sqrt(0.5), 1};
    std::copy(k, k + 6, s.uKnots);
    std::copy(k, k + 6, s.vKnots);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            s.rows[i][j] = {r[i] * cx[j], r[i] * cy[j], z[i]};
            s.weights[i][j] = w[i] * w[j];
        }
}

// The plane patch [0, a] x [0, b] at height z (bilinear, knots 0..1).
inline void makePlane(TrimSurface* rec, double a, double b, double z) {
    kvxInitTrimSurface(rec);
    ASSERT_EQ(bsplSurfaceAlloc(&rec->surface, 2, 2, 2, 2, 0), 1);
    BsplSurface& s = rec->surface;
    const double k[] = {0, 0, 1, 1};
    std::copy(k, k + 4, s.uKnots);
    std::copy(k, k + 4, s.vKnots);
    s.rows[0][0] = {0, 0, z}, s.rows[0][1] = {0, b, z}, s.rows[1][0] = {a, 0, z}, s.rows[1][1] = {a, b, z};
}

}  // namespace surftest
using namespace surftest;
