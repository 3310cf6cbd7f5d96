#include "collision/collreport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "collision/collassembly.h"
#include "geometry/msg_capture.h"

namespace {

ToolDescription toolOf(uint16_t type, double R, double r, double top, double tip, double chamfer) {
    ToolDescription t{};
    t.toolType = type, t.radius = R, t.cornerRadius = r, t.cutterTop = top, t.tipTop = tip,
    t.chamferTop = chamfer;
    return t;
}

std::vector<std::string> messagesAfter(const MessageCapture& c, size_t from) {
    return std::vector<std::string>(c.messages().begin() + static_cast<long>(from), c.messages().end());
}

}  // namespace

TEST(CollReport, InitTable) {
    collAssemblyResetState();
    const struct {
        ToolDescription tool;
        int reduce;
        double step, wantStep, wantRef;
        int32_t wantSteps;
    } cases[] = {{toolOf(1, 5, 5, 75, 0, 0), 1, 0.1, 0.1, 80, -750},  // ball R 5, 80 long
                 {toolOf(2, 3, 0, 12, 0, 0), 1, 0.05, 0.1, 12, -120},
                 {toolOf(2, 3, 0, 2.55, 0, 0), 1, 0.1, 0.1, 2.55, -25},
                 {toolOf(3, 4, 1, 20, 20, 0), 1, 0.5, 0.5, 21, 0},  // tip as long as the cutter
                 {toolOf(3, 4, 1, 20, 5, 3), 1, 0.5, 0.5, 21, -24},
                 {toolOf(1, 4, 0, 20, 5, 3), 0, 0.5, 0.5, 24, 0}};  // a ball: R, whatever its corner
    for (const auto& c : cases) {
        ASSERT_EQ(collrep_create(&c.tool, c.reduce, 0, c.step, 50), 1);
        const CollReport* r = collrep_current();
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(r->step, c.wantStep);
        EXPECT_DOUBLE_EQ(r->refLength, c.wantRef);
        EXPECT_EQ(r->reduceSteps, c.wantSteps) << c.tool.cutterTop;
    }
    collrep_free();
    EXPECT_EQ(collrep_record(nullptr, nullptr, 0, -6), -6);  // no report: the result comes back
    EXPECT_EQ(collrep_create(nullptr, 1, 0, 0.1, 50), 1);    // without a tool: done, and no report
    EXPECT_EQ(collrep_current(), nullptr);
    EXPECT_EQ(collrep_check(0), 0);  // nothing to warn of
}

// A part code is charged as given; without one a negative result names the part, others are free.
TEST(CollReport, ResultsChargeTheirParts) {
    collAssemblyResetState();
    const ToolDescription t = toolOf(1, 5, 5, 75, 0, 0);
    const Vec3 p{0, 0, 0}, a{0, 0, 1};
    const struct {
        int32_t part, result, want;
        uint8_t tool, extension, holder, head;
    } cases[] = {{0, -10, -2, 1, 0, 0, 0},
                 {0, -5, -2, 1, 0, 0, 0},
                 {0, -7, -2, 1, 0, 0, 0},
                 {0, -6, -2, 0, 1, 0, 0},
                 {0, -4, -2, 0, 0, 0, 1},
                 {0, -3, -2, 0, 0, 1, 0},
                 {0, -8, -2, 0, 0, 1, 0},
                 {0, -1, -2, 0, 0, 1, 0},
                 {0, 0, 1, 0, 0, 0, 0},
                 {0, 1, 1, 0, 0, 0, 0},
                 {kPartHead, -3, -2, 0, 0, 0, 1},
                 {kPartTaper, -3, -2, 1, 0, 0, 0},
                 {kPartExtension, -10, -2, 0, 1, 0, 0},
                 {kPartHolder, 1, -2, 0, 0, 1, 0}};
    for (const auto& c : cases) {
        ASSERT_EQ(collrep_create(&t, 0, 0, 0.1, 50), 1);
        EXPECT_EQ(collrep_record(&p, &a, c.part, c.result), c.want) << c.part << " " << c.result;
        const CollReport* r = collrep_current();
        ASSERT_NE(r, nullptr);
        const uint8_t got[4] = {r->toolHit, r->extensionHit, r->holderHit, r->headHit};
        const uint8_t want[4] = {c.tool, c.extension, c.holder, c.head};
        for (int k = 0; k < 4; ++k) EXPECT_EQ(got[k], want[k]) << c.part << " " << c.result << " " << k;
    }
    collrep_free();
}

// Each part warns once per report, head first; mode 1 marks without a message; extend mode silences
// head, holder and extension; the result decides the part when no part code is given.
TEST(CollReport, WarningsOncePerPartInOrder) {
    collAssemblyResetState();
    const ToolDescription t = toolOf(1, 5, 5, 75, 0, 0);
    const Vec3 p{0, 0, 0}, a{0, 0, 1};
    MessageCapture capture(9);
    const struct { int32_t mode, first; } modes[] = {{0, 5510}, {2, 5520}, {3, 5530}};
    for (const auto& m : modes) {
        collrep_create(&t, 0, 0, 0.1, 50);
        for (int32_t result : {-10, -6, -8, -4}) EXPECT_EQ(collrep_record(&p, &a, 0, result), -2);
        const size_t before = capture.messages().size();
        EXPECT_EQ(collrep_check(m.mode), 1);
        EXPECT_EQ(collrep_check(m.mode), 0);
        const std::vector<std::string> want{
            std::to_string(m.first) + ",0", std::to_string(m.first + 1) + ",0",
            std::to_string(m.first + 2) + ",0", std::to_string(m.first + 3) + ",0"};
        EXPECT_EQ(messagesAfter(capture, before), want);
    }
    // The warnings are of the normal level: a lower set level drops them.
    setMessageLevel(nullptr, 8);
    collrep_create(&t, 0, 0, 0.1, 50);
    EXPECT_EQ(collrep_record(&p, &a, 0, -10), -2);
    size_t quiet = capture.messages().size();
    collrep_check(0);
    EXPECT_EQ(capture.messages().size(), quiet);
    setMessageLevel(nullptr, 9);
    collrep_create(&t, 0, 0, 0.1, 50);
    collrep_record(&p, &a, kPartHolder, -3);
    EXPECT_EQ(collrep_check(1), 0);
    EXPECT_EQ(collrep_check(0), 0);
    collrep_create(&t, 0, 1, 0.1, 50);
    EXPECT_EQ(collrep_record(&p, &a, 0, -3), 1);  // nothing built: free when pulled back
    EXPECT_EQ(collrep_record(&p, &a, 0, -7), -2);
    EXPECT_TRUE(collrep_current()->toolHit && collrep_current()->holderHit);
    size_t before = capture.messages().size();
    collrep_print(0);
    EXPECT_EQ(messagesAfter(capture, before), (std::vector<std::string>{"5513,0", "5543,0", "5506,0"}));
    collrep_create(&t, 1, 0, 0.1, 50);
    EXPECT_EQ(collrep_record(&p, &a, 0, 1), 1);
    before = capture.messages().size();
    collrep_print(0);
    EXPECT_EQ(messagesAfter(capture, before), (std::vector<std::string>{"5504,80.00,5.00"}));
    collrep_free();
}

// The summary over hand-made reports (step 0.5, reference length 80): the headline, then the extension
// and the reduction lines as the modes and the parts hit decide.
TEST(CollReport, SummaryLinesFollowModesAndHits) {
    const struct {
        uint8_t tool, head, holder, extension, extend, reduce;
        int32_t extendSteps, reduceSteps;
        std::vector<std::string> want;
    } cases[] = {
        {0, 0, 0, 0, 0, 0, 0, 0, {}},
        {0, 1, 1, 1, 0, 0, 0, 0, {"5542,0"}},
        {0, 1, 1, 0, 0, 0, 0, 0, {"5541,0"}},
        {0, 1, 0, 0, 0, 0, 0, 0, {"5540,0"}},
        {1, 1, 0, 0, 0, 0, 0, 0, {"5543,0"}},
        {0, 1, 0, 0, 1, 0, 0, 0, {"5506,0"}},
        {0, 0, 1, 0, 1, 0, 4, 0, {"5505,80.00,82.00", "5500,2.000000"}},
        {0, 0, 0, 0, 1, 0, 4, 0, {"5506,0"}},
        {0, 0, 0, 0, 1, 1, 0, -6, {"5504,80.00,77.00"}},
        {0, 0, 0, 0, 0, 1, 0, 0, {"5506,0"}},
        {0, 0, 0, 1, 0, 1, 0, -6, {"5542,0", "5506,0"}},
        {0, 0, 0, 1, 1, 1, 0, -6, {"5506,0"}},
    };
    for (const int level : {9, 8}) {  // the summary is all at level 9: below it nothing is printed
        MessageCapture capture(level);
        for (const auto& c : cases) {
            CollReport r{};
            r.step = 0.5, r.refLength = 80;
            r.toolHit = c.tool, r.headHit = c.head, r.holderHit = c.holder, r.extensionHit = c.extension;
            r.extendMode = c.extend, r.reduceMode = c.reduce, r.extendSteps = c.extendSteps,
            r.reduceSteps = c.reduceSteps;
            const size_t before = capture.messages().size();
            collrep_print_values(&r);
            EXPECT_EQ(messagesAfter(capture, before), level == 9 ? c.want : std::vector<std::string>{});
            // Mode 1 marks the parts it would warn, without a message.
            EXPECT_EQ(collrep_warn(&r, 1), 0);
            const int parts = c.extend ? 0 : 1;  // extend mode silences all but the tool
            EXPECT_EQ(r.toolWarned, c.tool);
            EXPECT_EQ(r.headWarned, c.head * parts);
            EXPECT_EQ(r.holderWarned, c.holder * parts);
            EXPECT_EQ(r.extensionWarned, c.extension * parts);
        }
    }
    MessageCapture capture(9);
    EXPECT_EQ(collrep_warn(nullptr, 0), 0);
    collrep_print_values(nullptr);  // no report: no summary
    EXPECT_TRUE(capture.messages().empty());
}
