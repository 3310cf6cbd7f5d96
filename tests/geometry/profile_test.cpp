#include "geometry/profile.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "geometry/frames.h"
#include "geometry/polygroup.h"
#include "geometry/textscan.h"
#include "kernel/base/runreset.h"
#include "msg_capture.h"
#include "profile_fixtures.h"
#include "workfolder.h"

namespace {

std::string withCrlf(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

struct Pt {
    double x, y, z;
};

void expectPoints(const ProfileCurve* p, const std::vector<Pt>& want, const std::string& what) {
    ASSERT_NE(p, nullptr) << what;
    ASSERT_EQ(p->count, static_cast<int32_t>(want.size())) << what;
    for (size_t i = 0; i < want.size(); ++i) {
        EXPECT_NEAR(p->points[i].x, want[i].x, 1e-12) << what << " " << i;
        EXPECT_NEAR(p->points[i].y, want[i].y, 1e-12) << what << " " << i;
        ASSERT_NE(p->z, nullptr);
        EXPECT_NEAR(p->z[i], want[i].z, 1e-12) << what << " " << i;
    }
}

}  // namespace

TEST_F(Profiles, PointLinesKeepUnsetCoordinates) {
    const struct {
        const char* text;
        std::vector<Pt> points;
    } cases[] = {
        {"X1 Y2 Z3\nX4\n", {{1, 2, 3}, {4, 2, 3}}},
        {"X1 Y2\nX+5 Y1\n", {{1, 2, 0}, {1, 1, 0}}},
        {"X1 Y2\nX1 Y2\n\nX1 Y2 Z0\nX3.5 Y.5\n", {{1, 2, 0}, {3.5, 2, 0}}},
        {"**PRF 1\n* comment X9\nN10 X5 Y2\nx7 Y3\nX 6 Y-1e1\n", {{5, 2, 0}, {5, 3, 0}, {6, -10, 0}}},
        {"Y4\nX2 X9\n**END\nX8 Y8\n", {{0, 4, 0}, {2, 4, 0}}},
        {"X1 Y1 Z1\nX1 Y1 Z2\n", {{1, 1, 1}, {1, 1, 2}}},  // a z change alone is a new point
    };
    for (const auto& c : cases) {
        for (bool crlf : {false, true}) {
            writeFile("prf_points.prf", crlf ? withCrlf(c.text) : std::string(c.text));
            ProfilePtr p(profileReadFile("prf_points.prf", nullptr, nullptr, 0.0, 0, 0));
            expectPoints(p.get(), c.points, c.text);
            if (p) {
                EXPECT_STREQ(p->name, "prf_points.prf");
            }
        }
    }
    std::remove("prf_points.prf");
}

TEST_F(Profiles, ReadPointsWithoutZAndUpToMax) {
    writeFile("prf_max.prf", "X1 Y1 Z1\nX1 Y1 Z2\nX2 Y1\nX3 Y1\nX4 Y1\n");
    Vec2 pts[8];
    EXPECT_EQ(prfReadPoints(pts, nullptr, "prf_max.prf", 8), 4);  // without z the z change is no point
    EXPECT_EQ(prfReadPoints(pts, nullptr, "prf_max.prf", 2), 2);
    EXPECT_EQ(pts[1].x, 2.0);
    EXPECT_EQ(prfReadPoints(pts, nullptr, "no_such.prf", 8), -1);
    EXPECT_EQ(prfReadPoints(pts, nullptr, "", 8), -1);
    std::remove("prf_max.prf");
}

TEST_F(Profiles, BlocksBecomeProfiles) {
    const std::string two = "**PRF 1\nX0 Y0\nX1 Y0\n**END\n\n**PRF 2\nX5 Y5 Z1\nX6 Y5\nX6 Y6\n  **END  \n";
    for (bool crlf : {false, true}) {
        writeFile("prf_two.prf", crlf ? withCrlf(two) : two);
        EXPECT_EQ(prfCountBlocks("prf_two.prf"), 2);
        ProfilePtr list(profileReadFile("prf_two.prf", nullptr, nullptr, 0.0, 0, 1));
        ASSERT_TRUE(list);
        expectPoints(list.get(), {{0, 0, 0}, {1, 0, 0}}, "first");
        expectPoints(list->next, {{5, 5, 1}, {6, 5, 1}, {6, 6, 1}}, "second");
        ASSERT_NE(list->next, nullptr);
        EXPECT_EQ(list->next->next, nullptr);
        EXPECT_STREQ(list->name, "tmp.prf");
        EXPECT_STREQ(list->next->name, "tmp.prf");
        EXPECT_EQ(list->swapFit, 1);
        EXPECT_EQ(list->kind, kProfilePoints);
        EXPECT_EQ(list->ownsPoints, 1);
        EXPECT_NEAR(list->next->end, 2.0, 1e-12);
        // The temporary file stays behind holding the last block.
        EXPECT_EQ(prfCountBlocks("tmp.prf"), 1);
    }
    writeFile("prf_noend.prf", "X0 Y0\nX3 Y4\nX3 Y0\n");
    EXPECT_EQ(prfCountBlocks("prf_noend.prf"), 0);
    ProfilePtr whole(profileReadFile("prf_noend.prf", nullptr, nullptr, 0.0, 0, 0));
    expectPoints(whole.get(), {{0, 0, 0}, {3, 4, 0}, {3, 0, 0}}, "no end");
    EXPECT_NEAR(whole->end, 9.0, 1e-12);

    EXPECT_EQ(prfCountBlocks(""), -1);
    EXPECT_EQ(prfCountBlocks("no_such.prf"), -1);
    EXPECT_EQ(profileReadFile("no_such.prf", nullptr, nullptr, 0.0, 0, 0), nullptr);
    writeFile("prf_empty.prf", "**PRF 1\n**END\n");
    EXPECT_EQ(profileReadFile("prf_empty.prf", nullptr, nullptr, 0.0, 0, 0), nullptr);
    std::remove("prf_two.prf");
    std::remove("prf_noend.prf");
    std::remove("prf_empty.prf");
}

// The reader fits with the function it is handed; a boundary without one is refused.
TEST_F(Profiles, ReaderFitsWithTheGivenFunction) {
    const ProfileFitFn fitsAtTolerance = [](ProfileCurve*, const FitBoundary* b, double tol, double* s,
                                            double* e) {
        *s = tol;
        *e = b->xmax;
        return 0;
    };
    const ProfileFitFn neverFits = [](ProfileCurve*, const FitBoundary*, double, double*, double*) {
        return -1;
    };
    Seg2D seg = {0, 0, 7, 0};
    FitBoundary b = {0, 0, 7, 0, 1, &seg};
    const struct {
        const FitBoundary* boundary;
        ProfileFitFn fit;
        bool read;
        double fitStart, fitEnd;
    } cases[] = {
        {nullptr, nullptr, true, 0, 0},
        // Nothing to fit into: the function is not called.
        {nullptr, neverFits, true, 0, 0},
        {&b, fitsAtTolerance, true, 0.25, 7},
        {&b, neverFits, false, 0, 0},
        {&b, nullptr, false, 0, 0},
    };
    writeFile("prf_fitfn.prf", "X0 Y0\nX1 Y0\n");
    for (const auto& c : cases) {
        ProfilePtr p(profileReadFile("prf_fitfn.prf", c.boundary, c.fit, 0.25, 0, 0));
        ASSERT_EQ(p != nullptr, c.read);
        if (!p) continue;
        EXPECT_EQ(p->fitStart, c.fitStart);
        EXPECT_EQ(p->fitEnd, c.fitEnd);
    }
    std::remove("prf_fitfn.prf");
}

TEST_F(Profiles, CopyBlockSkipsLeadingLinesAndStopsAfterEnd) {
    writeFile("prf_copy.prf", "junk\n\n**PRF 1\nX1 Y1\n\n**END\n**PRF 2\nX2 Y2\n**END\n");
    std::FILE* f = std::fopen("prf_copy.prf", "r");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(prfCopyBlock(f, "prf_block.prf"), 1);
    std::FILE* b = std::fopen("prf_block.prf", "r");
    ASSERT_NE(b, nullptr);
    char buf[256];
    const size_t n = std::fread(buf, 1, sizeof buf - 1, b);
    buf[n] = '\0';
    std::fclose(b);
    EXPECT_STREQ(buf, "**PRF 1\nX1 Y1\n**END\n");
    ASSERT_EQ(prfCopyBlock(f, "prf_block.prf"), 1);
    EXPECT_EQ(fileCountLines("prf_block.prf"), 3);
    std::fclose(f);
    EXPECT_EQ(prfCopyBlock(nullptr, "prf_block.prf"), -1);
    std::remove("prf_copy.prf");
    std::remove("prf_block.prf");
}

TEST_F(Profiles, LongNameIsCutToTheField) {
    const std::string name(300, 'n');
    writeFile(name.substr(0, 200).c_str(), "X0 Y0\nX1 Y0\n");
    ProfilePtr p(profileReadFile(name.substr(0, 200).c_str(), nullptr, nullptr, 0.0, 0, 0));
    ASSERT_TRUE(p);
    EXPECT_EQ(std::string(p->name), name.substr(0, 200));
    std::remove(name.substr(0, 200).c_str());
    // A name too long for the field (as a path would be) is cut, not written past the field.
    const std::string dir = "prf_long_dir_" + std::string(100, 'd');
    const std::string sub = dir + "/" + std::string(100, 'e');
    std::filesystem::create_directories(sub);
    const std::string file = sub + "/" + std::string(80, 'f') + ".prf";
    writeFile(file.c_str(), "X0 Y0\nX1 Y0\n");
    ProfilePtr q(profileReadFile(file.c_str(), nullptr, nullptr, 0.0, 0, 0));
    ASSERT_TRUE(q);
    EXPECT_EQ(std::strlen(q->name), static_cast<size_t>(kProfileNameSize - 1));
    EXPECT_EQ(std::string(q->name), file.substr(0, kProfileNameSize - 1));
    std::remove(file.c_str());
    std::filesystem::remove_all(dir);
}

TEST_F(Profiles, MirrorFrameAAndReversal) {
    const Vec3 origin{0, 0, 0}, xAxis{1, 0, 0}, zero{0, 0, 0};
    ASSERT_EQ(framePairCreate(&origin, &xAxis, &zero, &zero), 1);  // mirror in x = 0
    ASSERT_EQ(framePairGetMode(), -1);
    framePairSetFlag(kFramePairPointFiles, 1);
    const Vec3 a0{10, 0, 1}, ax{1, 0, 0}, ay{0, 1, 0}, az{0, 0, 1};
    frameSetA(&a0, &ax, &ay, &az);
    ASSERT_EQ(framesInit(), 1);
    writeFile("prf_mirror.prf", "X1 Y0 Z0\nX2 Y1\nX4 Y0\n");
    ProfilePtr p(profileReadFile("prf_mirror.prf", nullptr, nullptr, 0.0, 0, 0));
    // (x, y, z) -> (-x, y, z) -> (-x - 10, y, z - 1), then reversed.
    expectPoints(p.get(), {{-14, 0, -1}, {-12, 1, -1}, {-11, 0, -1}}, "mirrored");
    EXPECT_NEAR(p->lengths[1], std::hypot(2, 1), 1e-12);
    EXPECT_EQ(p->reversed, 0);
    // An explicit reversal on top restores the file's order.
    ProfilePtr r(profileReadFile("prf_mirror.prf", nullptr, nullptr, 0.0, 1, 0));
    expectPoints(r.get(), {{-11, 0, -1}, {-12, 1, -1}, {-14, 0, -1}}, "reversed twice");
    EXPECT_EQ(r->reversed, 1);
    // Without the flag only frame A applies.
    framePairSetFlag(kFramePairPointFiles, 0);
    ProfilePtr plain(profileReadFile("prf_mirror.prf", nullptr, nullptr, 0.0, 0, 0));
    expectPoints(plain.get(), {{-9, 0, -1}, {-8, 1, -1}, {-6, 0, -1}}, "frame A only");
    std::remove("prf_mirror.prf");
}

TEST_F(Profiles, ReverseMirrorsTheLengths) {
    ProfilePtr p = ownedProfile({{0, 0}, {3, 0}, {3, 2}}, {1, 2, 3});
    ASSERT_NEAR(p->end, 5.0, 1e-12);
    profileReverse(p.get());
    const double want[] = {0, 2, 5};
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(p->lengths[i], want[i], 1e-12);
    EXPECT_EQ(p->points[0].y, 2.0);
    EXPECT_EQ(p->z[0], 3.0);
    // A profile moved along its parameter keeps its range.
    p->start = 10;
    p->end = 15;
    for (int i = 0; i < 3; ++i) p->lengths[i] += 10;
    profileReverse(p.get());
    const double moved[] = {10, 13, 15};
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(p->lengths[i], moved[i], 1e-12);
}

TEST_F(Profiles, EvalAtParameters) {
    ProfilePtr p = ownedProfile({{0, 0}, {3, 0}, {3, 2}}, {0, 3, 5});
    const struct {
        double t;
        int32_t index;
        double x, y, z;
    } cases[] = {
        {0.0, 0, 0, 0, 0},         {1.5, 0, 1.5, 0, 1.5}, {3.0, 0, 3, 0, 3},        {3.000005, 0, 3, 0, 3},
        {4.0, 1, 3, 1, 4},         {5.0, 1, 3, 2, 5},     {5.0 + 5e-6, 1, 3, 2, 5}, {-5e-6, 0, 0, 0, 0},
        {5.0 + 2e-5, -1, 0, 0, 0}, {-2e-5, -1, 0, 0, 0},
    };
    for (const auto& c : cases) {
        Vec2 pt{-1, -1};
        double z = -1;
        EXPECT_EQ(profileEval(p.get(), c.t, &pt, &z), c.index) << c.t;
        if (c.index < 0) continue;
        EXPECT_NEAR(pt.x, c.x, 1e-4) << c.t;
        EXPECT_NEAR(pt.y, c.y, 1e-4) << c.t;
        EXPECT_NEAR(z, c.z, 1e-4) << c.t;
    }
    // A vertex parameter gives the vertex exactly, as the end of the segment before it.
    Vec2 v;
    EXPECT_EQ(profileEval(p.get(), 3.0, &v, nullptr), 0);
    EXPECT_EQ(v.x, 3.0);
    EXPECT_EQ(v.y, 0.0);
    ProfilePtr dot = ownedProfile({{7, 8}});
    EXPECT_EQ(profileEval(dot.get(), 0.0, &v, nullptr), 0);
    EXPECT_EQ(v.x, 7.0);
    EXPECT_EQ(profileEval(nullptr, 0.0, &v, nullptr), -1);
}

TEST_F(Profiles, TangentAlongTheProfile) {
    ProfilePtr p = ownedProfile({{0, 0}, {4, 0}, {4, 3}, {4, 6}});
    const struct {
        double t;
        double x, y;
    } cases[] = {
        {1.0, 1, 0}, {4.0, 0, 1},  {-1.0, 1, 0},
        {5.0, 0, 1}, {10.0, 0, 1},  // the end looks back over the last two segments: (4, 0) to (4, 6)
    };
    for (const auto& c : cases) {
        Vec2 d;
        ASSERT_EQ(profileTangent(p.get(), c.t, &d), 1) << c.t;
        EXPECT_NEAR(d.x, c.x, 1e-12) << c.t;
        EXPECT_NEAR(d.y, c.y, 1e-12) << c.t;
    }
    ProfilePtr bend = ownedProfile({{0, 0}, {4, 0}, {4, 3}});
    Vec2 d;
    ASSERT_EQ(profileTangent(bend.get(), 7.0, &d), 1);
    EXPECT_NEAR(d.x, 0.8, 1e-12);  // from (0, 0) to the end point (4, 3)
    EXPECT_NEAR(d.y, 0.6, 1e-12);
    // A single segment has a direction at its end too.
    ProfilePtr line = ownedProfile({{1, 1}, {1, 3}});
    ASSERT_EQ(profileTangent(line.get(), 2.0, &d), 1);
    EXPECT_NEAR(d.y, 1.0, 1e-12);
    ProfilePtr dot = ownedProfile({{1, 1}, {1, 1}});
    EXPECT_EQ(profileTangent(dot.get(), 0.0, &d), -1);
    ProfilePtr one = ownedProfile({{1, 1}});
    EXPECT_EQ(profileTangent(one.get(), 0.0, &d), -1);
}

TEST_F(Profiles, LinesPathsAndLengths) {
    const Vec3 a{0, 0, 1}, b{3, 4, 13};
    ProfilePtr l(profileLine(&a, &b));
    ASSERT_TRUE(l);
    EXPECT_EQ(l->kind, kProfilePoints);
    EXPECT_EQ(l->ownsPoints, 1);
    EXPECT_DOUBLE_EQ(l->end, 5.0);
    EXPECT_DOUBLE_EQ(profileLength3D(l.get()), 13.0);
    EXPECT_EQ(l->z[1], 13.0);

    Vec3 pts[] = {{0, 0, 0}, {1, 0, 1}, {1, 2, 2}};
    const ProfilePath back{1, 3, pts}, fwd{2, 3, pts}, other{3, 3, pts}, none{2, 0, pts};
    ProfilePtr pb(profileFromPath(&back));
    expectPoints(pb.get(), {{1, 2, 2}, {1, 0, 1}, {0, 0, 0}}, "kind 1");
    ProfilePtr pf(profileFromPath(&fwd));
    expectPoints(pf.get(), {{0, 0, 0}, {1, 0, 1}, {1, 2, 2}}, "kind 2");
    EXPECT_EQ(profileFromPath(&other), nullptr);
    EXPECT_EQ(profileFromPath(&none), nullptr);

    Vec2 raw[] = {{0, 0}, {1, 0}};
    ProfileCurve* c = profileCreate(raw, 2, 'x');
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->ownsPoints, 0);
    EXPECT_EQ(c->z, nullptr);
    EXPECT_STREQ(c->name, "");
    EXPECT_EQ(profileLength3D(c), 1.0);
    profileFreeList(c);  // the caller's points stay
    EXPECT_EQ(raw[1].x, 1.0);
    ProfileCurve* single = profileCreate(raw, 1, kProfilePoints);
    EXPECT_EQ(single->end, 0.0);
    EXPECT_EQ(profileLength3D(single), 0.0);
    profileFreeList(single);
    EXPECT_EQ(profileCreate(raw, -1, kProfilePoints), nullptr);
    profileFreeList(nullptr);
}

TEST_F(Profiles, SegListHasRoomForCapacity) {
    ProfilePtr p = ownedProfile({{0, 0}, {1, 0}, {1, 1}});
    int32_t n = -1;
    Seg2D* s = profileToSegList(p.get(), 10, &n);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(n, 2);
    EXPECT_EQ(s[1].x1, 1.0);
    EXPECT_EQ(s[1].y2, 1.0);
    s[9] = s[0];  // room for the capacity asked for
    std::free(s);
}

TEST_F(Profiles, ClampLowersPointsAboveTheProfile) {
    ProfilePtr p = ownedProfile({{0, 0}, {10, 0}}, {0, 10});
    Plist* list = plistCreate(8, 0);
    ASSERT_NE(list, nullptr);
    const struct { double t, z, want; } pts[] = {{2, 5, 2}, {5, 1, 1}, {8, 8, 8}, {20, -3, -3}, {9, 100, 9}};
    for (const auto& q : pts) {
        const Vec3 v{q.t, 0, q.z};
        ASSERT_GE(plistAppend(list, q.t, &v, 0, nullptr, 0), 0);
    }
    EXPECT_EQ(plistClampToProfile(list, p.get()), 2);
    for (int i = 0; i < 5; ++i) EXPECT_NEAR(list->points[i].z, pts[i].want, 1e-12) << i;
    EXPECT_EQ(plistClampToProfile(nullptr, p.get()), -1);
    plistFree(list);
}

TEST_F(Profiles, FreeListReleasesSubRecords) {
    // Run under the leak checker: every sub-record, inner list and polyline group is released.
    auto* group = static_cast<PolyGroup*>(std::calloc(1, sizeof(PolyGroup)));
    group->count = 1;
    group->ids = static_cast<int32_t*>(std::calloc(1, sizeof(int32_t)));
    group->lines = static_cast<PolyGroupLine*>(std::calloc(1, sizeof(PolyGroupLine)));
    group->lines[0].count = 2;
    group->lines[0].points = static_cast<Vec2*>(std::calloc(2, sizeof(Vec2)));
    group->lines[0].z = static_cast<double*>(std::calloc(2, sizeof(double)));
    ProfileCurve* inner = ownedProfile({{0, 0}, {1, 0}}).release();
    ASSERT_NE(inner, nullptr);
    inner->kind = kProfileSubN;  // the group is not read as an 'n' record
    inner->sub = group;
    auto* subN = static_cast<ProfileSubN*>(std::calloc(1, sizeof(ProfileSubN)));
    subN->inner = inner;
    ProfileCurve* n = ownedProfile({{0, 0}, {2, 0}}).release();
    ASSERT_NE(n, nullptr);
    n->kind = kProfileSubN;
    n->sub = subN;

    auto* subR = static_cast<ProfileSubR*>(std::calloc(1, sizeof(ProfileSubR)));
    subR->lists[0] = ownedProfile({{0, 0}, {1, 1}}).release();
    subR->lists[1] = ownedProfile({{0, 0}, {1, 2}}).release();
    subR->lists[1]->next = ownedProfile({{0, 0}, {1, 3}}).release();
    ProfileCurve* r = ownedProfile({{0, 0}, {3, 0}}).release();
    ASSERT_NE(r, nullptr);
    r->kind = kProfileSubR;
    r->sub = subR;
    n->next = r;

    auto* subF = static_cast<ProfileSubF*>(std::calloc(1, sizeof(ProfileSubF)));
    subF->lists[1] = ownedProfile({{0, 0}, {1, 1}}).release();
    ProfileCurve* f = ownedProfile({{0, 0}, {4, 0}}).release();
    ASSERT_NE(f, nullptr);
    f->kind = kProfileSubF;
    f->sub = subF;
    r->next = f;
    EXPECT_EQ(n->next->next, f);
    profileFreeList(n);
}

TEST_F(Profiles, OptimisationBoxes) {
    // Length 10 along x, then a bend up.
    ProfilePtr p = ownedProfile({{0, 0}, {6, 0}, {6, 4}});
    const struct {
        uint8_t kind;
        double margin, width;
        std::vector<IntervalBox> boxes;
    } cases[] = {
        {kProfilePoints, 0.5, 4, {{-0.5, -0.5, 4.5, 0.5}, {3.5, -0.5, 6.5, 2.5}, {5.5, 1.5, 6.5, 4.5}}},
        {kProfilePoints, -1, 5, {{0, 0, 5, 0}, {5, 0, 6, 4}}},  // a whole multiple: one box fewer than n
        {kProfileBoxX, 1, 4, {{-1, -1, 7, 5}}},
        {kProfileBoxY, 0, 0, {{0, 0, 6, 4}}},
        {kProfilePoints, 0, 1e-6, {}},  // width 1: ten boxes
    };
    for (const auto& c : cases) {
        p->kind = c.kind;
        IntervalList* list = profileOptIntervals(p.get(), c.margin, nullptr, c.width);
        ASSERT_NE(list, nullptr);
        if (c.boxes.empty()) {
            EXPECT_EQ(list->count, 10);
            EXPECT_NEAR(list->boxes[9].ymax, 4, 1e-12);
            EXPECT_NEAR(list->boxes[9].ymin, 3, 1e-12);
        } else {
            ASSERT_EQ(list->count, static_cast<int32_t>(c.boxes.size())) << c.width;
            for (size_t i = 0; i < c.boxes.size(); ++i) {
                EXPECT_NEAR(list->boxes[i].xmin, c.boxes[i].xmin, 1e-12) << c.width << " " << i;
                EXPECT_NEAR(list->boxes[i].ymin, c.boxes[i].ymin, 1e-12) << c.width << " " << i;
                EXPECT_NEAR(list->boxes[i].xmax, c.boxes[i].xmax, 1e-12) << c.width << " " << i;
                EXPECT_NEAR(list->boxes[i].ymax, c.boxes[i].ymax, 1e-12) << c.width << " " << i;
            }
        }
        intervalListFree(list);
    }
    p->kind = kProfilePoints;
    // A range record limits the walk to [first start, last end].
    ProfileRangeEntry entries[] = {{2, 3}, {4, 8}};
    const ProfileRange range{2, entries};
    IntervalList* r = profileOptIntervals(p.get(), 0, &range, 4);
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(r->count, 2);
    EXPECT_NEAR(r->boxes[0].xmin, 2, 1e-12);
    EXPECT_NEAR(r->boxes[1].ymax, 2, 1e-12);
    intervalListFree(r);
    // A single parameter gives one box around its point; a backward range none.
    ProfileRangeEntry at[] = {{3, 3}};
    const ProfileRange point{1, at};
    IntervalList* one = profileOptIntervals(p.get(), 1, &point, 2);
    ASSERT_NE(one, nullptr);
    ASSERT_EQ(one->count, 1);
    EXPECT_NEAR(one->boxes[0].xmin, 2, 1e-12);
    EXPECT_NEAR(one->boxes[0].xmax, 4, 1e-12);
    intervalListFree(one);
    ProfileRangeEntry backward[] = {{8, 2}};
    const ProfileRange back{1, backward};
    IntervalList* none = profileOptIntervals(p.get(), 0, &back, 2);
    ASSERT_NE(none, nullptr);
    EXPECT_EQ(none->count, 0);
    intervalListFree(none);
    ProfileRangeEntry outside[] = {{0, 20}};
    const ProfileRange far{1, outside};
    EXPECT_EQ(profileOptIntervals(p.get(), 0, &far, 4), nullptr);
    ProfilePtr dot = ownedProfile({{1, 1}});
    EXPECT_EQ(profileOptIntervals(dot.get(), 0, nullptr, 4), nullptr);
    intervalListFree(nullptr);
}
