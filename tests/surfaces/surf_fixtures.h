// Surfaces for the surface tests, and an independent evaluator (the recursive basis definition) to
// check the library's evaluators against.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "surfaces/surflist.h"

// A fresh temporary folder per test.
inline std::filesystem::path tempDir() {
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    auto dir = std::filesystem::temp_directory_path() /
               ("kvsurf_" + std::string(info->test_suite_name()) + "_" + info->name());
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

// The recursive definition of N_{i,p} and its first derivative (0/0 taken as 0); t at the end of
// the range belongs to the last span.
inline double refBasis(const double* k, int n, int i, int p, double t, double* deriv) {
    auto N = [&](auto&& self, int ii, int pp) -> double {
        if (pp == 0) {
            const bool last = t == k[n] && k[ii] < k[ii + 1] && k[ii + 1] == k[n];
            return (k[ii] <= t && t < k[ii + 1]) || last ? 1.0 : 0.0;
        }
        double a = 0.0, b = 0.0;
        if (k[ii + pp] > k[ii]) a = (t - k[ii]) / (k[ii + pp] - k[ii]) * self(self, ii, pp - 1);
        if (k[ii + pp + 1] > k[ii + 1])
            b = (k[ii + pp + 1] - t) / (k[ii + pp + 1] - k[ii + 1]) * self(self, ii + 1, pp - 1);
        return a + b;
    };
    if (deriv != nullptr) {
        double d = 0.0;
        if (p > 0 && k[i + p] > k[i]) d += p / (k[i + p] - k[i]) * N(N, i, p - 1);
        if (p > 0 && k[i + p + 1] > k[i + 1]) d -= p / (k[i + p + 1] - k[i + 1]) * N(N, i + 1, p - 1);
        *deriv = d;
    }
    return N(N, i, p);
}

// Point and first derivatives by the plain sums and the quotient rule.
inline void refEval(const BsplSurface& s, double u, double v, Vec3* S, Vec3* Su, Vec3* Sv) {
    double A[3] = {0, 0, 0}, Au[3] = {0, 0, 0}, Av[3] = {0, 0, 0}, W = 0, Wu = 0, Wv = 0;
    for (int i = 0; i < s.uNum; ++i) {
        double dNu = 0;
        const double Nu = refBasis(s.uKnots, s.uNum, i, s.uOrder - 1, u, &dNu);
        for (int j = 0; j < s.vNum; ++j) {
            double dNv = 0;
            const double Nv = refBasis(s.vKnots, s.vNum, j, s.vOrder - 1, v, &dNv);
            const double w = s.rational ? s.weights[i][j] : 1.0;
            const double P[3] = {s.rows[i][j].x, s.rows[i][j].y, s.rows[i][j].z};
            for (int c = 0; c < 3; ++c) {
                A[c] += Nu * Nv * w * P[c];
                Au[c] += dNu * Nv * w * P[c];
                Av[c] += Nu * dNv * w * P[c];
            }
            W += Nu * Nv * w, Wu += dNu * Nv * w, Wv += Nu * dNv * w;
        }
    }
    double out[3][3];
    for (int c = 0; c < 3; ++c) {
        out[0][c] = A[c] / W;
        out[1][c] = (Au[c] - Wu * out[0][c]) / W;
        out[2][c] = (Av[c] - Wv * out[0][c]) / W;
    }
    if (S) *S = {out[0][0], out[0][1], out[0][2]};
    if (Su) *Su = {out[1][0], out[1][1], out[1][2]};
    if (Sv) *Sv = {out[2][0], out[2][1], out[2][2]};
}

inline double maxDiff(const Vec3& a, const Vec3& b) {
    return std::max({std::fabs(a.x - b.x), std::fabs(a.y - b.y), std::fabs(a.z - b.z)});
}
