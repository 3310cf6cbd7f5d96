// Profile records, point files and the frame state shared by the profile tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "geometry/frames.h"
#include "geometry/profile.h"
#include "kernel/base/runreset.h"

struct ProfileDeleter {
    void operator()(ProfileCurve* p) const { profileFreeList(p); }
};
using ProfilePtr = std::unique_ptr<ProfileCurve, ProfileDeleter>;

inline void writeFile(const char* name, const std::string& text) {
    std::FILE* f = std::fopen(name, "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
}

// A kind-'p' profile that owns copies of the points.
inline ProfilePtr ownedProfile(const std::vector<Vec2>& pts, const std::vector<double>& z = {}) {
    auto* p = static_cast<Vec2*>(std::malloc(pts.size() * sizeof(Vec2)));
    std::memcpy(p, pts.data(), pts.size() * sizeof(Vec2));
    ProfileCurve* prof = profileCreate(p, static_cast<int32_t>(pts.size()), kProfilePoints);
    prof->ownsPoints = 1;
    if (!z.empty()) {
        prof->z = static_cast<double*>(std::malloc(z.size() * sizeof(double)));
        std::memcpy(prof->z, z.data(), z.size() * sizeof(double));
    }
    return ProfilePtr(prof);
}

// Point files go through the frames: every test starts and ends without any.
class Profiles : public ::testing::Test {
  protected:
    void SetUp() override {
        runResetAll();
    }
    void TearDown() override {
        runResetAll();
    }
};
