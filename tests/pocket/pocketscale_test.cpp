#include "pocket/pocketscale.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "pocket_util.h"

// The whole geometry scaled by the factor the tool radius picks: every listed length of the record and
// the kernel, the INPUT allowances (entries past them, e.g. CLAMPS', stay), INPUT's contours, CLAMPS'
// only when a clamp file is named (a count past the table scales the table); heights are no lengths of the
// plane and stay.
TEST(PocketScale, GeometryScaledByTheToolFactor) {
    const struct {
        double r, f;
        bool clamps;
        int32_t used;
    } cases[] = {{0.003, 500, true, 2}, {0.05, 50, false, 2}, {0.5, 25, true, kPocketMaxAllowances + 1}};
    for (const auto& c : cases) {
        PocketErrors state;
        PocketKernel& k = pocketKernel();
        CcpParams& p = kvCCPParams;
        double* fields[] = {&k.stockTolerance,
                            &k.filletRadiusLimit,
                            &k.infeedRadiusLimit,
                            &k.tolerance,
                            &p.toolDiameter,
                            &p.planeAllowance,
                            &p.infeedLength,
                            &p.startX,
                            &p.startY,
                            &p.rifMinLength,
                            &p.referenceRadius,
                            &p.cornerRadius,
                            &p.approachLength,
                            &p.leavingLength,
                            &k.amWord,
                            &k.startX,
                            &k.startY,
                            &k.startRadius};
        const int nFields = static_cast<int>(std::size(fields));
        for (int i = 0; i < nFields; ++i) *fields[i] = 1.5 + i;
        k.toolRadius = c.r;
        p.depth = -7;
        k.planeTop = 3;
        k.inputAllowances = c.used;
        for (int32_t i = 0; i < 4; ++i) ASSERT_EQ(pocketAllowanceSet(i, 0.25 * (i + 1)), 1);
        ASSERT_EQ(pocketAllowanceSet(kPocketMaxAllowances - 1, 1), 1);
        const std::vector<ContourElement> sq = polygon({{0, 0}, {2, 0}, {2, 1}});
        ASSERT_TRUE(clistCreate("INPUT"));
        ASSERT_TRUE(clistCreate("CLAMPS"));
        ASSERT_TRUE(putContour("INPUT", sq));
        ASSERT_TRUE(putContour("CLAMPS", sq));
        std::strcpy(p.clamps, c.clamps ? "clamps.kvx" : "");

        ASSERT_EQ(ccpScaleGeometry(&kvCCP), 1) << c.r;
        EXPECT_EQ(k.geometryScale, c.f);
        for (int i = 0; i < nFields; ++i) EXPECT_DOUBLE_EQ(*fields[i], (1.5 + i) * c.f) << c.r << " " << i;
        EXPECT_DOUBLE_EQ(k.toolRadius, c.r * c.f);
        EXPECT_EQ(p.depth, -7);
        EXPECT_EQ(k.planeTop, 3);
        for (int32_t i = 0; i < 4; ++i)
            EXPECT_DOUBLE_EQ(pocketAllowanceGet(i), 0.25 * (i + 1) * (i < c.used ? c.f : 1)) << i;
        EXPECT_DOUBLE_EQ(pocketAllowanceGet(kPocketMaxAllowances - 1), c.used > 2 ? c.f : 1);
        for (const char* list : {"INPUT", "CLAMPS"}) {
            ContourElement back[3];
            ContourHeader h;
            ASSERT_EQ(clistGet(list, back, &h, 0), 0);
            const double f = std::strcmp(list, "INPUT") == 0 || c.clamps ? c.f : 1;
            EXPECT_DOUBLE_EQ(back[1].g[kLx1], 2 * f) << list;
            EXPECT_DOUBLE_EQ(back[1].g[kLy2], 1 * f) << list;
        }
        scaleReset();
    }
}

// Single elements and values: a factor within 1e-5 of 1 leaves elements as they are, any other scales
// lines' four and arcs' seven numbers and nothing of an element of another type; unscaling inverts.
TEST(PocketScale, ElementsAndValuesScaleBothWays) {
    PocketErrors state;
    for (const double f : {1.000009, 1.00002, 50.0}) {
        pocketKernel().geometryScale = f;
        const bool unit = f < 1.00001;
        ContourElement e[3] = {lineElem(1, 2, 3, 4), arcElem(1, 1, 2, 0, 1, 1), lineElem(1, 2, 3, 4)};
        e[2].type = 0;
        const ContourElement orig[3] = {e[0], e[1], e[2]};
        scaleElements(e, 3);
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 7; ++j) {
                const bool scaled = !unit && j < (i == 1 ? 7 : i == 0 ? 4 : 0);
                EXPECT_DOUBLE_EQ(e[i].g[j], orig[i].g[j] * (scaled ? f : 1)) << f << " " << i << " " << j;
            }
        unscaleElements(e, 3);
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 7; ++j) EXPECT_NEAR(e[i].g[j], orig[i].g[j], 1e-12) << f << " " << i;
        EXPECT_DOUBLE_EQ(scaleValue(3), 3 * f);
        EXPECT_DOUBLE_EQ(unscaleValue(3), 3 / f);
    }
    scaleReset();
    EXPECT_EQ(pocketKernel().geometryScale, 1);
}
