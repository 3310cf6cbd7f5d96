// Flat channel geometry for the plunge tests: hub and shroud as horizontal profiles, flat patches.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "geometry/profile.h"
#include "plunge/cycparams.h"
#include "plunge/hubshroud.h"
#include "plunge/profile2d.h"
#include "surfaces/kvxsurf.h"

namespace channeltest {

// A profile through the (r, z) points, its parameters the arc length.
inline Profile2D* profileOf(const std::vector<Vec2>& pts) {
    Profile2D* p = newProfile2D(static_cast<int32_t>(pts.size()));
    if (p == nullptr) return nullptr;
    for (const Vec2& q : pts) p->points[p->count++] = q;
    recomputeProfile2DParams(p);
    return p;
}

// Hub at z = 0 and shroud at z = height, both from r = r0 to 60.
inline HubShroud* flatChannel(double height, double r0 = 10) {
    const Vec3 h0{r0, 0, 0}, h1{60, 0, 0}, s0{r0, 0, height}, s1{60, 0, height};
    ProfileCurve* hub = profileLine(&h0, &h1);
    ProfileCurve* shroud = profileLine(&s0, &s1);
    HubShroud* pair = makeHubShroudPair(hub, shroud);
    profileFreeList(hub);
    profileFreeList(shroud);
    return pair;
}

// The parallelogram o + u du + v dv, trimmed by its parameter square.
inline void addPatch(SurfList* list, Vec3 o, Vec3 du, Vec3 dv) {
    TrimSurface rec;
    kvxInitTrimSurface(&rec);
    ASSERT_EQ(bsplSurfaceAlloc(&rec.surface, 2, 2, 2, 2, 0), 1);
    for (int i = 0; i < 4; ++i) rec.surface.uKnots[i] = rec.surface.vKnots[i] = i / 2;
    for (int i = 0; i < 2; ++i)
        for (int j = 0; j < 2; ++j)
            rec.surface.rows[i][j] = {o.x + i * du.x + j * dv.x, o.y + i * du.y + j * dv.y,
                                      o.z + i * du.z + j * dv.z};
    const Vec2 loop[5] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0, 0}};
    ASSERT_EQ(trimSurfaceAddLoop(&rec, loop, 5), 1);
    ASSERT_EQ(surfListAppend(list, &rec), 1);
}

inline std::string example(const char* name) {
    return (std::filesystem::path(KV_SOURCE_DIR) / "examples" / "plunge" / name).string();
}

inline void setText(char* field, const std::string& text) {
    snprintf(field, kCycleTextMax + 1, "%s", text.c_str());
}

// The run's record with the example's selections, a coarse conversion (*PRECISION 0.2) and the given
// temporary folder.
inline CycleParams* exampleParams(const std::string& tmp, bool splitter) {
    cycleParamsResetState();
    CycleParams* p = cycleParamsApplied();
    setText(p->tmpDir, tmp);
    setText(p->dllDir, KV_BIN_DIR);
    setText(p->hubKvx, example("hub.kvx"));
    setText(p->shroudKvx, example("shroud.kvx"));
    setText(p->bladeKvx, example("blade.kvx"));
    setText(p->splitKvx, example("split.kvx"));
    p->splitKvxOk = splitter ? 1 : 0;
    p->precision = 0.2;
    scaleLengthParams(1.0);
    return cycleParams();
}

// The example impeller's hub and shroud.
inline HubShroud* exampleChannel() {
    ProfileCurve* hub = idx5CreateHubShroudCurve(example("hub.kvx").c_str(), 0.5);
    ProfileCurve* shroud = idx5CreateHubShroudCurve(example("shroud.kvx").c_str(), 0.5);
    HubShroud* pair = makeHubShroudPair(hub, shroud);
    profileFreeList(hub);
    profileFreeList(shroud);
    return pair;
}

}  // namespace channeltest
using namespace channeltest;
