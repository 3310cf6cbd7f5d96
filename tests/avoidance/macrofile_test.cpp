#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>

#define KV_ALLOCFAIL_CONTROLS_ONLY
#include "allocfail.h"
#include "avoidance/macro.h"
#include "geometry/msg_capture.h"
#include "kernel/base/rng.h"
#include "near.h"
#include "workfolder.h"

namespace {

constexpr double kDeg = 3.14159265358979323846 / 180;

class MacroFile : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::create_directories(dir_);
        params_.arcStepAngle = 5 * kDeg;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string write(const std::string& text) {
        const std::string name = dir_ + "/m" + std::to_string(++n_) + ".mac";
        if (FILE* f = std::fopen(name.c_str(), "wb")) std::fputs(text.c_str(), f), std::fclose(f);
        return name;
    }
    // p0 (1,2,3) away from p1 (0,2,3): the frame starts as X = +x, Y = +y, Z = +z.
    MacroPath* read(const std::string& name, Vec3 p0 = {1, 2, 3}, Vec3 p1 = {0, 2, 3}) {
        return macroFileRead(kMacroLeave, &p0, &p1, &params_, name.c_str());
    }
    std::string dir_ = "macros";  // inside the binary's fresh work folder
    int n_ = 0;
    MacroParams params_{};
};

TEST_F(MacroFile, StatementsMoveInTheFrame) {
    std::string many;
    for (int i = 0; i < 250; ++i) many += i % 2 ? "LINE(1)\n" : "LINE(2)\n";
    struct Case {
        std::string text;
        Vec3 last;
        int32_t count, lines;
    } cases[] = {
        {"# only a comment\n\n   \n#LINE(5)\n", {1, 2, 3}, 1, 0},
        {"ROTZ(90)\r\nLINE(10)\r\n", {1, 12, 3}, 2, 2},  // along the Y before the turn
        {"ROTY(90)\nLINE(2)\n", {1, 2, 1}, 2, 2},
        {"ROTX(90)\nROTY(-90)\nLINE(2)\n", {1, 0, 3}, 2, 3},
        {" L I NE ( 4 ) trailing # note\nCC(1)\nPP()\nLINE(1,2,3)\nLINE()\n", {6, 2, 3}, 4, 5},
        {"ARC(5, 90, 0)\n", {6, 7, 3}, 20, 1},
        {"LINE(4,)\nLINE(,1)\n", {5, 2, 3}, 3, 2},  // an empty field is 0
        {"LINE(2\n", {3, 2, 3}, 2, 1},              // unclosed: the arguments run to the end of the line
        {"ARC(5, -90, 2)\nLINE(1)\n", {6, -4, 5}, 21, 2},              // the frame turned with the arc
        {many + std::string(600, ' ') + "\n", {376, 2, 3}, 251, 250},  // growth; a long blank line
    };
    for (const auto& c : cases) {
        MacroPath* m = read(write(c.text));
        ASSERT_NE(m, nullptr) << c.text;
        EXPECT_EQ(m->macroType * 10 + m->kind, kMacroTypeFile * 10 + kMacroLeave);
        EXPECT_EQ(m->count, c.count) << c.text;
        EXPECT_EQ(m->capacity, (c.count + 99) / 100 * 100) << c.text;  // grown by 100 only when full
        EXPECT_VEC_NEAR(m->points[m->count - 1], c.last, 1e-9);
        int32_t lines = 0;
        for (const MacroLine* l = m->lines; l; l = l->next) ++lines;
        EXPECT_EQ(lines, c.lines) << c.text;
        macroPathFree(m);
    }
}

// On any move that is not upright the frame is X along the move, Y level and to its left, Z square to
// both and rising: LINE(2) ROTZ(90) LINE(3) ROTY(-90) LINE(4) ends at p0 + 2 X + 3 Y + 4 Z.
TEST_F(MacroFile, FrameLiesAlongTheMoveLevelAndRising) {
    const std::string name = write("LINE(2)\nROTZ(90)\nLINE(3)\nROTY(-90)\nLINE(4)\n");
    rngSeed(8040);
    for (int i = 0; i < 12; ++i) {
        const double a = rngUniform() * 360 * kDeg, e = (rngUniform() - 0.5) * 170 * kDeg;
        const double ca = std::cos(a), sa = std::sin(a), ce = std::cos(e), se = std::sin(e);
        const Vec3 X{ca * ce, sa * ce, se}, Y{-sa, ca, 0}, Z{-ca * se, -sa * se, ce};
        const Vec3 p0{rngUniform() * 10, rngUniform() * 10, rngUniform() * 10};
        MacroPath* m = read(name, p0, {p0.x - X.x, p0.y - X.y, p0.z - X.z});
        ASSERT_NE(m, nullptr);
        ASSERT_EQ(m->count, 4);
        const Vec3 end{p0.x + 2 * X.x + 3 * Y.x + 4 * Z.x, p0.y + 2 * X.y + 3 * Y.y + 4 * Z.y,
                       p0.z + 2 * X.z + 3 * Y.z + 4 * Z.z};
        EXPECT_VEC_NEAR(m->points[3], end, 1e-9);
        macroPathFree(m);
    }
}

TEST_F(MacroFile, ArcChordsLieOnTheArc) {
    MacroPath* m = read(write("ARC(5, 90, 0)\n"));
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(m->count, 20);
    const double chord = 2 * 5 * std::sin(45.0 / 19 * kDeg);
    for (int32_t i = 1; i < m->count; ++i) {
        const Vec3 &a = m->points[i - 1], &b = m->points[i];
        EXPECT_NEAR(std::hypot(b.x - a.x, b.y - a.y), chord, 1e-12);
        EXPECT_NEAR(std::hypot(b.x - 1, b.y - 7), 5.0, 1e-9);  // centre left of the start
    }
    ASSERT_NE(m->lines, nullptr);
    EXPECT_EQ(m->lines->pointCount, 1);
    EXPECT_STREQ(m->lines->text, "ARC(5, 90, 0)");
    macroPathFree(m);
}

TEST_F(MacroFile, BadFilesGiveAMessageAndNoMacro) {
    // The last: 40001 steps of 5 degrees, one more than a list holds.
    for (const char* text : {"line(10)\n", "LINE 10\n", "LINE(1)\nFOO(2)\nLINE(3)\n", "LINE(abc)\n",
                             "LINE(1O)\r\n", "LINE(1,2,3,4)\n", "LINE(1,2,3,)\n", "ARC(5, 1e300, 0)\n",
                             "LINE(nan)\n", "ARC(1, 200002.5, 0)\n"}) {
        const std::string name = write(text);
        for (int32_t level : {8, 9}) {  // a message of level 9
            MessageCapture cap(level);
            EXPECT_EQ(read(name), nullptr) << text;
            EXPECT_EQ(cap.countOf("9999," + name), level - 8) << text;
        }
    }
    MessageCapture cap(9);
    params_.arcStepAngle = 0;
    const std::string arc = write("ARC(5, 90, 0)\n"), still = write("ARC(5, 0, 0)\n");
    EXPECT_EQ(read(arc), nullptr);
    EXPECT_EQ(read(still), nullptr);  // no step is an error even for an arc without angle
    EXPECT_EQ(cap.countOf("9999," + arc) + cap.countOf("9999," + still), 2);
    // No frame or no file: no macro and no message.
    params_.arcStepAngle = 5 * kDeg;
    EXPECT_EQ(read(arc, {1, 1, 1}, {1, 1, 1}), nullptr);
    EXPECT_EQ(read(arc, {1, 1, 1}, {1, 1, 0}), nullptr);
    EXPECT_EQ(read(arc, {7e-6, 0, 1}, {0, 0, 0}), nullptr);  // 7e-6 off upright is upright still
    EXPECT_EQ(read(dir_ + "/missing.mac"), nullptr);
    EXPECT_EQ(read(""), nullptr);
    const Vec3 p0{1, 2, 3}, p1{0, 2, 3};
    EXPECT_EQ(macroFileRead(kMacroLeave, &p0, nullptr, &params_, arc.c_str()), nullptr);
    EXPECT_EQ(macroFileRead(kMacroLeave, nullptr, &p1, &params_, arc.c_str()), nullptr);
    EXPECT_EQ(macroFileRead(kMacroLeave, &p0, &p1, nullptr, arc.c_str()), nullptr);
    EXPECT_EQ(macroFileRead(kMacroLeave, &p0, &p1, &params_, nullptr), nullptr);
    EXPECT_EQ(cap.messages().size(), 2u);
    EXPECT_EQ(read(dir_), nullptr);  // a folder opens but cannot be read: an error like a bad line
    EXPECT_EQ(cap.messages().size(), 3u);
    macroPathFree(nullptr);
}

TEST_F(MacroFile, MacroBuildReadsTheNamedFile) {
    macroResetState();
    ASSERT_EQ(macroSetFileNames(nullptr, write("LINE(3)\n").c_str()), 1);
    MacroParams p = params_;
    p.leaveType = p.approachType = kMacroTypeFile;
    p.approachDistance = 1;
    const Vec3 p0{0, 0, 0}, p1{-1, 0, 0};
    MacroPath* m = macroBuild(kMacroLeave, &p0, &p1, &p, 1, nullptr, 0, nullptr);
    ASSERT_NE(m, nullptr);
    EXPECT_VEC_NEAR(m->points[m->count - 1], (Vec3{3, 0, 0}), 0);
    macroPathFree(m);
    EXPECT_EQ(macroBuild(kMacroApproach, &p0, &p1, &p, 1, nullptr, 0, nullptr), nullptr);  // no name
    // Either name may be missing or empty: that kind reads nothing, the other its file.
    for (const char* none : {static_cast<const char*>(nullptr), ""}) {
        ASSERT_EQ(macroSetFileNames(write("LINE(2)\n").c_str(), none), 1);
        EXPECT_EQ(macroBuild(kMacroLeave, &p0, &p1, &p, 1, nullptr, 0, nullptr), nullptr);
        m = macroBuild(kMacroApproach, &p0, &p1, &p, 1, nullptr, 0, nullptr);
        ASSERT_NE(m, nullptr);
        EXPECT_VEC_NEAR(m->points[m->count - 1], (Vec3{2, 0, 0}), 0);
        macroPathFree(m);
        ASSERT_EQ(macroSetFileNames(none, none), 1);
        EXPECT_EQ(macroBuild(kMacroApproach, &p0, &p1, &p, 1, nullptr, 0, nullptr), nullptr);
    }
    macroResetState();
}

// Renaming the macro files short of memory: -1 with the old names kept, or 1 with both new ones.
TEST_F(MacroFile, RenamingShortOfMemoryKeepsBothOldNamesOrTakesBothNew) {
    macroResetState();
    const std::string a1 = write("LINE(1)\n"), l1 = write("LINE(2)\n"), a2 = write("LINE(3)\n"),
                      l2 = write("LINE(4)\n");
    MacroParams p = params_;
    p.leaveType = p.approachType = kMacroTypeFile;
    p.approachDistance = 1;
    const Vec3 p0{0, 0, 0}, p1{-1, 0, 0};
    for (long n = 1; n < 20; ++n) {
        ASSERT_EQ(macroSetFileNames(a1.c_str(), l1.c_str()), 1);
        allocfail::arm(n);
        const int r = macroSetFileNames(a2.c_str(), l2.c_str());
        const bool fired = allocfail::fired();
        allocfail::disarm();
        ASSERT_TRUE(r == 1 || r == -1) << n;
        for (int32_t kind : {kMacroApproach, kMacroLeave}) {
            MacroPath* m = macroBuild(kind, &p0, &p1, &p, 1, nullptr, 0, nullptr);
            ASSERT_NE(m, nullptr) << n << " " << kind;
            EXPECT_EQ(m->points[m->count - 1].x, (kind == kMacroApproach ? 1 : 2) + (r == 1 ? 2 : 0)) << n;
            macroPathFree(m);
        }
        if (!fired) break;
    }
    macroResetState();
}

}  // namespace
