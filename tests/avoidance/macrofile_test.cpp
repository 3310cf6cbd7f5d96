#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "avoidance/macro.h"
#include "geometry/msg_capture.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDeg = kPi / 180;

class MacroFile : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("kv_macrofile_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
        params_.arcStepAngle = 5 * kDeg;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string write(const std::string& text) {
        const std::string name = (dir_ / ("m" + std::to_string(++n_) + ".mac")).string();
        FILE* f = std::fopen(name.c_str(), "wb");
        EXPECT_NE(f, nullptr);
        if (f) {
            std::fwrite(text.data(), 1, text.size(), f);
            std::fclose(f);
        }
        return name;
    }
    MacroPath* read(const std::string& name, Vec3 p0 = {1, 2, 3}, Vec3 p1 = {0, 2, 3}) {
        return macroFileRead(kMacroLeave, &p0, &p1, &params_, name.c_str());
    }
    std::filesystem::path dir_;
    int n_ = 0;
    MacroParams params_{};
};

TEST_F(MacroFile, StatementsMoveInTheFrame) {
    // p0 (1,2,3) away from p1 (0,2,3): X = +x, Y = +y, Z = +z.
    struct Case {
        const char* text;
        Vec3 last;
        int32_t count, lines;
    } cases[] = {
        {"# only a comment\n\n   \n#LINE(5)\n", {1, 2, 3}, 1, 0},
        {"LINE(10)\n", {11, 2, 3}, 2, 1},
        {"ROTZ(90)\nLINE(10)\n", {1, 12, 3}, 2, 2},
        {"ROTZ(90)\r\nLINE(10)\r\n", {1, 12, 3}, 2, 2},
        {"ROTY(90)\nLINE(2)\n", {1, 2, 1}, 2, 2},
        {"ROTX(90)\nROTY(-90)\nLINE(2)\n", {1, 0, 3}, 2, 3},
        {" L I NE ( 4 ) trailing # note\nCC(1)\nPP()\n", {5, 2, 3}, 2, 3},
        {"LINE(1, 2, 3)\nLINE()\n", {2, 2, 3}, 3, 2},
        {"ARC(5, 90, 0)\n", {6, 7, 3}, 20, 1},
        {"ARC(5, -90, 2)\n", {6, -3, 5}, 20, 1},
        {"ARC(5, 90, 0)\nLINE(1)\n", {6, 8, 3}, 21, 2},  // the frame turned with the arc
    };
    for (const auto& c : cases) {
        MacroPath* m = read(write(c.text));
        ASSERT_NE(m, nullptr) << c.text;
        EXPECT_EQ(m->macroType, kMacroTypeFile);
        EXPECT_EQ(m->kind, kMacroLeave);
        EXPECT_EQ(m->count, c.count) << c.text;
        const Vec3& p = m->points[m->count - 1];
        EXPECT_NEAR(p.x, c.last.x, 1e-9) << c.text;
        EXPECT_NEAR(p.y, c.last.y, 1e-9) << c.text;
        EXPECT_NEAR(p.z, c.last.z, 1e-9) << c.text;
        int32_t lines = 0;
        for (const MacroLine* l = m->lines; l; l = l->next) ++lines;
        EXPECT_EQ(lines, c.lines) << c.text;
        macroPathFree(m);
    }
}

TEST_F(MacroFile, ArcChordsLieOnTheArc) {
    MacroPath* m = read(write("ARC(5, 90, 0)\n"));
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(m->count, 20);
    const double chord = 2 * 5 * std::sin(45.0 / 19 * kDeg);
    const Vec3 centre{1, 7, 3};  // left of the start, the radius away
    for (int32_t i = 1; i < m->count; ++i) {
        const Vec3 &a = m->points[i - 1], &b = m->points[i];
        EXPECT_NEAR(std::hypot(b.x - a.x, b.y - a.y), chord, 1e-12);
        EXPECT_NEAR(std::hypot(b.x - centre.x, b.y - centre.y), 5.0, 1e-9);
    }
    ASSERT_NE(m->lines, nullptr);
    EXPECT_EQ(m->lines->pointCount, 1);
    EXPECT_STREQ(m->lines->text, "ARC(5, 90, 0)");
    macroPathFree(m);
}

TEST_F(MacroFile, BadFilesGiveAMessageAndNoMacro) {
    const char* bad[] = {
        "line(10)\n",         "LINE 10\n",    "LINE(1)\nFOO(2)\nLINE(3)\n",
        "LINE(abc)\n",        "LINE(1O)\r\n", "LINE(1,2,3,4)\n",
        "ARC(5, 1e300, 0)\n", "LINE(nan)\n",  "ROTZ(90 90)\n",
    };
    for (const char* text : bad) {
        MessageCapture cap(9);
        const std::string name = write(text);
        EXPECT_EQ(read(name), nullptr) << text;
        EXPECT_EQ(cap.countOf("9999," + name), 1) << text;
    }
    MessageCapture cap(9);
    params_.arcStepAngle = 0;
    const std::string arc = write("ARC(5, 90, 0)\n");
    EXPECT_EQ(read(arc), nullptr);
    EXPECT_EQ(cap.countOf("9999," + arc), 1);
    // No frame or no file: no macro and no message.
    params_.arcStepAngle = 5 * kDeg;
    EXPECT_EQ(read(arc, {1, 1, 1}, {1, 1, 1}), nullptr);
    EXPECT_EQ(read(arc, {1, 1, 1}, {1, 1, 0}), nullptr);
    EXPECT_EQ(read((dir_ / "missing.mac").string()), nullptr);
    EXPECT_EQ(cap.messages().size(), 1u);
}

TEST_F(MacroFile, LongProgramsKeepEveryPoint) {
    std::string text;
    for (int i = 0; i < 250; ++i) text += i % 2 ? "LINE(1)\n" : "LINE(2)\n";
    text += std::string(600, ' ') + "\n";  // read in pieces, all blank
    MacroPath* m = read(write(text));
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->count, 251);
    EXPECT_GE(m->capacity, 251);
    for (int32_t i = 1; i < m->count; ++i)
        EXPECT_NEAR(m->points[i].x - m->points[i - 1].x, i % 2 ? 2 : 1, 1e-12);
    macroPathFree(m);
}

TEST_F(MacroFile, MacroBuildReadsTheNamedFile) {
    macroResetState();
    const std::string name = write("LINE(3)\n");
    ASSERT_EQ(macroSetFileNames(nullptr, name.c_str()), 1);
    MacroParams p = params_;
    p.leaveType = kMacroTypeFile;
    const Vec3 p0{0, 0, 0}, p1{-1, 0, 0};
    MacroPath* m = macroBuild(kMacroLeave, &p0, &p1, &p, 1, nullptr, 0, nullptr);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->count, 2);
    EXPECT_EQ(m->points[1].x, 3.0);
    macroPathFree(m);
    p.approachType = kMacroTypeFile;
    p.approachDistance = 1;
    EXPECT_EQ(macroBuild(kMacroApproach, &p0, &p1, &p, 1, nullptr, 0, nullptr), nullptr);  // no name
    macroResetState();
}

}  // namespace
