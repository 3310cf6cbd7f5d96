#include "kernel/base/runreset.h"
#include "surfaces/meshfiles/facetfile.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <tuple>

#include "geometry/frames.h"
#include "surfaces/meshfiles/meshtest.h"

#define KV_ALLOCFAIL_CONTROLS_ONLY
#include "allocfail.h"

namespace {

struct FacetFileTest : ::testing::Test {
    TempDir dir;
    void SetUp() override { TearDown(); }
    void TearDown() override {
        runResetAll();
    }
};

Facet98 facetAt(double base) {
    Facet98 f{};
    for (int k = 0; k < 4; ++k) f.p[k] = Vec3{base + k, base - k, base * 2 + k};
    return f;
}

// A file image built byte by byte: version, count (and layout-2 sizes), then packed records.
std::vector<uint8_t> image(float version, uint32_t count, int facets) {
    std::vector<uint8_t> b(version >= 2.0f ? 1300 : 256, 0);
    rawPut<float>(b, 0, version);
    rawPut<uint32_t>(b, 252, count);
    if (b.size() == 1300) rawPut<uint32_t>(b, 256, 1300);
    for (int i = 0; i < facets; ++i) {
        const Facet98 f = facetAt(i + 1);
        b.resize(b.size() + 98);
        std::memcpy(b.data() + b.size() - 98, &f, 98);
    }
    return b;
}

}  // namespace

TEST_F(FacetFileTest, WriterLayoutAndSeededRoundTrip) {
    for (int n : {1, 17, 300, 1500}) {  // the last spans several write blocks
        Rng rng{1000u + n};
        TriList* tris = triListCreate(n);
        ASSERT_NE(tris, nullptr);
        double lo[3] = {1e300, 1e300, 1e300}, hi[3] = {-1e300, -1e300, -1e300};
        for (int i = 0; i < n; ++i) {
            Triangle3D t;
            for (Vec3& p : t.p) {
                p = Vec3{seededIn(&rng, -50, 50), seededIn(&rng, -20, 80), seededIn(&rng, 0, 30)};
                for (int a = 0; a < 3; ++a)
                    lo[a] = std::min(lo[a], (&p.x)[a]), hi[a] = std::max(hi[a], (&p.x)[a]);
            }
            triListAdd(tris, &t);
        }
        const std::string name = dir.file("w.3df");
        ASSERT_EQ(polymeshWrite3df(kFacetMeshTriangles, tris, nullptr, 0, name.c_str()), n);
        const std::vector<uint8_t> b = readBytes(name);
        ASSERT_EQ(b.size(), 256u + 98u * n);
        EXPECT_EQ(rawAt<float>(b, 0), 1.0f);
        EXPECT_EQ(rawAt<uint32_t>(b, 252), static_cast<uint32_t>(n));
        for (int e = 0; e < 16; ++e) EXPECT_EQ(rawAt<double>(b, 124 + 8 * e), e % 5 == 0 ? 1.0 : 0.0);
        for (int a = 0; a < 3; ++a) {
            // The box twice: minimum and maximum at 4 and 28, again at 52 and 76.
            EXPECT_EQ(rawAt<double>(b, 4 + 8 * a), lo[a]);
            EXPECT_EQ(rawAt<double>(b, 28 + 8 * a), hi[a]);
            EXPECT_EQ(rawAt<double>(b, 52 + 8 * a), lo[a]);
            EXPECT_EQ(rawAt<double>(b, 76 + 8 * a), hi[a]);
            EXPECT_EQ(rawAt<double>(b, 100 + 8 * a), 0.0);  // version 1.0 keeps no centre
        }
        FacetList* back = nullptr;
        ASSERT_EQ(facetFileLoad(name.c_str(), &back), n);
        ASSERT_NE(back, nullptr);
        for (int i = 0; i < n; ++i) {
            EXPECT_EQ(back->data[i].flag, 0);
            EXPECT_EQ(std::memcmp(&back->data[i].p[0], &tris->data[i], 72), 0);
            EXPECT_EQ(std::memcmp(&back->data[i].p[2], &back->data[i].p[3], 24), 0);
        }
        if (n == 17) {  // facets written as facets come back the same
            const std::string again = dir.file("f.3df");
            ASSERT_EQ(polymeshWrite3df(kFacetMeshFacets, nullptr, back->data, n, again.c_str()), n);
            FacetList* twice = nullptr;
            ASSERT_EQ(facetFileLoad(again.c_str(), &twice), n);
            EXPECT_EQ(std::memcmp(twice->data, back->data, sizeof(Facet98) * n), 0);
            facetListFree(twice);
            // Memory short at each allocation in turn: a failure and no list, or the whole list where the
            // allocation had a way round; never an exception. The list's own room failing says -1.
            bool noMemory = false;
            for (long k = 1; k == 1 || allocfail::fired(); ++k) {
                allocfail::arm(k);
                const int rc = facetFileLoad(again.c_str(), &twice);
                allocfail::disarm();
                EXPECT_TRUE(rc == n ? twice != nullptr : allocfail::fired() && rc < 0 && !twice) << k;
                noMemory = noMemory || rc == -1;
                facetListFree(twice);
            }
            EXPECT_TRUE(noMemory);
        }
        facetListFree(back);
        if (n == 17) {
            // A write refused part way (beyond the file size limit; at last one byte short of the
            // 256 + 98 * 17 bytes) fails the file, not retried forever.
            for (const rlim_t limit : {rlim_t{300}, rlim_t{256 + 98 * 17 - 1}}) {
                rlimit old{};
                ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
                const rlimit small{limit, old.rlim_max};
                const auto handler = std::signal(SIGXFSZ, SIG_IGN);
                ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
                EXPECT_EQ(polymeshWrite3df(kFacetMeshTriangles, tris, nullptr, 0, name.c_str()),
                          kFacetIoError)
                    << limit;
                setrlimit(RLIMIT_FSIZE, &old);
                std::signal(SIGXFSZ, handler);
            }
        }
        triListFree(tris);
    }
    // What the writer takes (no items: a header alone) and refuses with -1 before making any file: another
    // kind, a missing mesh, a negative count, facets missing for a count.
    TriList* none = triListCreate(4);
    ASSERT_NE(none, nullptr);
    TriList negative = *none;
    negative.count = -1;
    const Facet98 one = facetAt(1);
    const std::tuple<int, const TriList*, const Facet98*, int32_t, int32_t> args[] = {
        {kFacetMeshTriangles, none, nullptr, 0, 0},
        {kFacetMeshFacets, nullptr, nullptr, 0, 0},
        {kFacetMeshFacets, none, &one, 1, 1},
        {kFacetMeshTriangles, nullptr, &one, 1, -1},
        {kFacetMeshTriangles, &negative, nullptr, 0, -1},
        {2, none, &one, 1, -1},
        {6, none, &one, 1, -1},
        {kFacetMeshFacets, none, nullptr, 1, -1},
        {kFacetMeshFacets, none, &one, -1, -1}};
    for (const auto& [kind, tris, facets, count, expect] : args) {
        const std::string name = dir.file("args.3df");
        std::remove(name.c_str());
        EXPECT_EQ(polymeshWrite3df(kind, tris, facets, count, name.c_str()), expect) << kind << count;
        EXPECT_EQ(readBytes(name).size(), expect < 0 ? 0u : 256u + 98u * expect) << kind << count;
    }
    triListFree(none);
    EXPECT_EQ(polymeshWrite3df(kFacetMeshFacets, nullptr, nullptr, 0, dir.file("no/x.3df").c_str()), -1);
}

// Points taken to world beforehand (kind 5) give the file the plain kind gives for the frame-A points
// (a turned, scaled frame; zeros of both signs).
TEST_F(FacetFileTest, WorldTrianglesWriteWhatFrameATrianglesWrite) {
    const Vec3 o{3, -2, 7}, x{0.6, 0.8, 0}, y{-0.8, 0.6, 0}, z{0, 0, 1};
    frameSetA(&o, &x, &y, &z);
    ASSERT_EQ(framesInit(), 1);
    framesScale(25.4);
    Rng rng{4242u};
    TriList* lists[2] = {triListCreate(700), triListCreate(700)};
    ASSERT_TRUE(lists[0] != nullptr && lists[1] != nullptr);
    for (int i = 0; i < 700; ++i) {
        Triangle3D t;
        for (Vec3& p : t.p)
            p = Vec3{seededIn(&rng, -40, 40), rngStep(&rng) % 8 ? 5.0 : -0.0, rngStep(&rng) % 8 ? 1.0 : 0.0};
        triListAdd(lists[0], &t);
        for (Vec3& p : t.p) pointFrameAToWorld(&p);
        triListAdd(lists[1], &t);
    }
    EXPECT_EQ(polymeshWrite3df(kFacetMeshTriangles, lists[0], nullptr, 0, dir.file("a.3df").c_str()), 700);
    EXPECT_EQ(polymeshWrite3df(kFacetMeshWorldTriangles, lists[1], nullptr, 0, dir.file("b.3df").c_str()),
              700);
    EXPECT_EQ(readBytes(dir.file("a.3df")), readBytes(dir.file("b.3df")));
    for (TriList* l : lists) triListFree(l);
}

// Counts on either side of the writer's and the reader's block sizes: every record in the file is
// a zero flag and the triangle's corners (the third twice) at their packed places, and the visit hands
// every record over once, in order, in blocks that add up to the count.
TEST_F(FacetFileTest, RecordsAcrossBlockEdgesKeepTheirPackedLayout) {
    for (int n : {639, 640, 641, 1023, 1024, 1025, 1281, 2049}) {
        Rng rng{7000u + n};
        TriList* tris = triListCreate(n);
        ASSERT_NE(tris, nullptr);
        for (int i = 0; i < n; ++i) {
            Triangle3D t;
            for (Vec3& p : t.p) p = Vec3{seededIn(&rng, -9, 9), seededIn(&rng, -9, 9), seededIn(&rng, -9, 9)};
            triListAdd(tris, &t);
        }
        const std::string name = dir.file("b.3df");
        ASSERT_EQ(polymeshWrite3df(kFacetMeshTriangles, tris, nullptr, 0, name.c_str()), n);
        const std::vector<uint8_t> b = readBytes(name);
        ASSERT_EQ(b.size(), 256u + 98u * n);
        for (int i = 0; i < n; ++i) {
            const size_t at = 256u + 98u * i;
            for (int k = 0; k < 4; ++k) {
                const Vec3& p = tris->data[i].p[std::min(k, 2)];
                EXPECT_EQ(rawAt<double>(b, at + 2 + 24 * k), p.x) << n << " " << i;
                EXPECT_EQ(rawAt<double>(b, at + 2 + 24 * k + 8), p.y);
                EXPECT_EQ(rawAt<double>(b, at + 2 + 24 * k + 16), p.z);
            }
            EXPECT_EQ(rawAt<uint16_t>(b, at), 0u);
        }
        struct Seen {
            std::vector<Facet98> facets;
            std::vector<int32_t> blocks;
            int32_t expected = -1;
        } seen;
        const int rc = facetFileVisit(
            name.c_str(), &seen,
            [](void* c, int32_t count) { return static_cast<Seen*>(c)->expected = count, true; },
            [](void* c, const Facet98* f, int32_t m) {
                auto* s = static_cast<Seen*>(c);
                s->facets.insert(s->facets.end(), f, f + m);
                s->blocks.push_back(m);
                return m > 0;
            });
        ASSERT_EQ(rc, n);
        EXPECT_EQ(seen.expected, n);
        // Blocks of 1024 facets, the last one the rest: a caller's room per block stays bounded.
        ASSERT_EQ(seen.blocks.size(), static_cast<size_t>((n + 1023) / 1024));
        for (size_t k = 0; k < seen.blocks.size(); ++k)
            EXPECT_EQ(seen.blocks[k], std::min(1024, n - 1024 * int(k)));
        // A refusal from either callback stops the read with -1.
        const auto yes = [](void*, int32_t) { return true; };
        const auto no = [](void*, int32_t) { return false; };
        const auto take = [](void*, const Facet98*, int32_t) { return true; };
        const auto drop = [](void*, const Facet98*, int32_t) { return false; };
        EXPECT_EQ(facetFileVisit(name.c_str(), nullptr, no, take), -1);
        EXPECT_EQ(facetFileVisit(name.c_str(), nullptr, yes, drop), -1);
        EXPECT_EQ(facetFileVisit(dir.file("none.3df").c_str(), nullptr, yes, take), kFacetIoError);
        ASSERT_EQ(seen.facets.size(), static_cast<size_t>(n));
        for (int i = 0; i < n; ++i)
            EXPECT_EQ(std::memcmp(&seen.facets[i].p[0], b.data() + 256 + 98 * i + 2, 96), 0) << n << " " << i;
        triListFree(tris);
    }
}

TEST_F(FacetFileTest, CentreFromVersionOnePointNine) {
    for (float version : {1.0f, 1.5f, 1.9f, 1.95f}) {
        ASSERT_EQ(facetFileOpen(dir.file("c.3df").c_str(), kFacetCreate), 1);
        uint8_t header[256] = {};
        std::memcpy(header, &version, 4);
        EXPECT_EQ(facetFileWriteHeader(1, nullptr), kFacetIoError);
        ASSERT_EQ(facetFileWriteHeader(1, header), 0);
        const Facet98 a = facetAt(-7.0), c = facetAt(4.0);
        ASSERT_EQ(facetFileWriteFacet(1, &a), 0);
        ASSERT_EQ(facetFileWriteFacet(1, &c), 0);
        ASSERT_EQ(facetFileClose(1), 2);
        const std::vector<uint8_t> b = readBytes(dir.file("c.3df"));
        const double lo[3] = {-7, -10, -14}, hi[3] = {7, 4, 11};
        for (int a = 0; a < 3; ++a)
            EXPECT_EQ(rawAt<double>(b, 100 + 8 * a), version >= 1.9f ? (lo[a] + hi[a]) / 2 : 0.0) << version;
    }
}

TEST_F(FacetFileTest, LoadChoosesLayoutByVersionAndChecksTheCount) {
    const struct {
        float version;
        uint32_t count;
        int stored, expect;
    } cases[] = {{1.0f, 3, 3, 3},   {1.99f, 3, 3, 3},           {2.5f, 3, 3, 3},
                 {2.5f, 2, 3, 2},   {0.9f, 3, 3, -4},           {3.0f, 3, 3, -4},
                 {-1.0f, 3, 3, -4}, {1.0f, 0, 3, -4},           {1.0f, 4, 3, -4},
                 {2.5f, 4, 3, -4},  {1.0f, 0xFFFFFFFFu, 3, -4}, {1.0f, 1, 0, -4}};
    for (const auto& c : cases) {
        const std::string name = dir.file("l.3df");
        writeBytes(name, image(c.version, c.count, c.stored));
        FacetList* list = nullptr;
        ASSERT_EQ(facetFileLoad(name.c_str(), &list), c.expect) << c.version << " " << c.count;
        if (c.expect > 0) {
            ASSERT_NE(list, nullptr);
            EXPECT_EQ(list->data[c.expect - 1].p[3].z, 2.0 * c.expect + 3);
            // The list's box is the box of every point read.
            double lo[3] = {1e300, 1e300, 1e300}, hi[3] = {-1e300, -1e300, -1e300};
            for (int i = 0; i < list->count; ++i)
                for (int k = 0; k < 4; ++k)
                    for (int a = 0; a < 3; ++a) {
                        const Vec3 p = list->data[i].p[k];
                        lo[a] = std::min(lo[a], (&p.x)[a]), hi[a] = std::max(hi[a], (&p.x)[a]);
                    }
            EXPECT_EQ(list->xmin, lo[0]);
            EXPECT_EQ(list->ymin, lo[1]);
            EXPECT_EQ(list->zmin, lo[2]);
            EXPECT_EQ(list->xmax, hi[0]);
            EXPECT_EQ(list->ymax, hi[1]);
            EXPECT_EQ(list->zmax, hi[2]);
        }
        EXPECT_EQ(list == nullptr, c.expect < 0);
        facetListFree(list);
        EXPECT_EQ(facetFileOpen(name.c_str(), kFacetRead), 1);  // both slots are free again
        EXPECT_EQ(facetFile2Open(name.c_str(), kFacetRead), 1);
        facetFileResetState();
    }
    FacetList* list = nullptr;
    EXPECT_EQ(facetFileLoad(dir.file("absent.3df").c_str(), &list), -2);
    EXPECT_EQ(facetFileLoad(dir.file("absent.3df").c_str(), nullptr), kFacetWrongMode);
    writeBytes(dir.file("short.3df"), {0, 0});
    EXPECT_EQ(facetFileLoad(dir.file("short.3df").c_str(), &list), -2);
}

TEST_F(FacetFileTest, SecondOpenRefusedAndFirstStaysUsable) {
    ASSERT_EQ(facetFileOpen(dir.file("a.3df").c_str(), kFacetCreate), 1);
    uint8_t header[256] = {0, 0, 0x80, 0x3f};  // 1.0f
    ASSERT_EQ(facetFileWriteHeader(1, header), 0);
    EXPECT_EQ(facetFileOpen(dir.file("b.3df").c_str(), kFacetCreate), -3);
    EXPECT_EQ(polymeshWrite3df(kFacetMeshFacets, nullptr, nullptr, 0, dir.file("b.3df").c_str()), -3);
    EXPECT_FALSE(std::filesystem::exists(dir.file("b.3df")));
    const Facet98 f = facetAt(2);
    EXPECT_EQ(facetFileWriteFacet(1, &f), 0);
    EXPECT_EQ(facetFileClose(1), 1);
}

TEST_F(FacetFileTest, AppendKeepsBoxCountsWholeRecordsAndAlwaysFreesTheSlot) {
    const std::string name = dir.file("app.3df");
    std::vector<uint8_t> b = image(1.95f, 1, 1);
    rawPut<double>(b, 4, -123.0);
    b.resize(b.size() + 40, 0xEE);  // a partial record
    writeBytes(name, b);
    ASSERT_EQ(facetFileOpen(name.c_str(), kFacetAppend), 1);
    const Facet98 far = facetAt(500);
    ASSERT_EQ(facetFileWriteFacet(1, &far), 0);
    EXPECT_EQ(facetFileClose(1), (98 + 40 + 98) / 98);
    b = readBytes(name);
    EXPECT_EQ(rawAt<uint32_t>(b, 252), 2u);
    EXPECT_EQ(rawAt<double>(b, 4), -123.0);
    EXPECT_EQ(rawAt<double>(b, 124), 1.0);
    writeBytes(dir.file("tiny.3df"), {1, 2, 3});  // no header to rewrite
    ASSERT_EQ(facetFileOpen(dir.file("tiny.3df").c_str(), kFacetAppend), 1);
    EXPECT_EQ(facetFileClose(1), -2);
    EXPECT_EQ(facetFileOpen(name.c_str(), kFacetRead), 1);
}

// The box of the header holds the four points of each facet written, nothing that lies beyond a record.
TEST_F(FacetFileTest, HeaderBoxHoldsTheFourPointsOfEachFacetWritten) {
    ASSERT_EQ(facetFileOpen(dir.file("box.3df").c_str(), kFacetCreate), 1);
    uint8_t header[256] = {0, 0, 0x80, 0x3f};  // 1.0f
    ASSERT_EQ(facetFileWriteHeader(1, header), 0);
    double lo[3] = {1e300, 1e300, 1e300}, hi[3] = {-1e300, -1e300, -1e300};
    // Some hundred metres out, all above 1e5 in x and z and below -1e5 in y: the box is still tight.
    for (const double base : {3e5, 2e5}) {
        uint8_t bytes[98 + 48];
        Facet98 g = facetAt(base);
        for (int k = 0; k < 4; ++k) g.p[k].y = -g.p[k].y;
        const Facet98 f = g;
        std::memcpy(bytes, &f, 98);
        const Vec3 beyond[2] = {{1e9, -1e9, 1e9}, {-1e9, 1e9, -1e9}};
        std::memcpy(bytes + 98, beyond, sizeof beyond);
        ASSERT_EQ(facetFileWriteFacet(1, reinterpret_cast<const Facet98*>(bytes)), 0);
        for (const Vec3& p : f.p)
            for (int a = 0; a < 3; ++a)
                lo[a] = std::min(lo[a], (&p.x)[a]), hi[a] = std::max(hi[a], (&p.x)[a]);
    }
    ASSERT_EQ(facetFileClose(1), 2);
    const std::vector<uint8_t> b = readBytes(dir.file("box.3df"));
    for (int a = 0; a < 3; ++a) {
        EXPECT_EQ(rawAt<double>(b, 4 + 8 * a), lo[a]) << a;
        EXPECT_EQ(rawAt<double>(b, 28 + 8 * a), hi[a]) << a;
    }
    // The version word: -1 without a file, -2 when it is short.
    double version = 0;
    writeBytes(dir.file("v.3df"), {0, 0, 0x80});
    EXPECT_EQ(facetFileReadVersion(dir.file("v.3df").c_str(), &version), -2);
    EXPECT_EQ(facetFileReadVersion(dir.file("none.3df").c_str(), &version), -1);
    writeBytes(dir.file("v.3df"), {0, 0, 0x80, 0x3f});
    EXPECT_EQ(facetFileReadVersion(dir.file("v.3df").c_str(), &version), 1);
    EXPECT_EQ(version, 1.0);
    ASSERT_EQ(facetFileOpen(dir.file("v.3df").c_str(), kFacetRead), 1);
    EXPECT_EQ(facetFileReadHeader(1, nullptr), kFacetIoError);
    EXPECT_EQ(facetFileReadHeader(1, header), kFacetIoError);  // 4 bytes of 256
}

// Each layout-1 and layout-2 routine refuses a handle that is not the open file's and a file opened
// for another use; nothing is written to a file that is not open for writing.
TEST_F(FacetFileTest, WrongHandlesAndModesAreRefused) {
    uint8_t header[256] = {0, 0, 0x80, 0x3f};
    uint8_t header2[1300] = {};
    Facet98 f = facetAt(1);
    const auto expectHandles = [&](int wrong) {
        EXPECT_EQ(facetFileWriteHeader(wrong, header), kFacetWrongHandle) << wrong;
        EXPECT_EQ(facetFileReadHeader(wrong, header), kFacetWrongHandle) << wrong;
        EXPECT_EQ(facetFileReadFacet(wrong, &f), kFacetWrongHandle) << wrong;
        EXPECT_EQ(facetFileWriteFacet(wrong, &f), kFacetWrongHandle) << wrong;
        EXPECT_EQ(facetFile2ReadHeader(wrong, header2), kFacetWrongHandle) << wrong;
        EXPECT_EQ(facetFile2ReadFacet(wrong, &f), kFacetWrongHandle) << wrong;
    };
    expectHandles(1);  // nothing open
    EXPECT_EQ(facetFileOpen("", kFacetRead), kFacetIoError);
    EXPECT_EQ(facetFileOpen(nullptr, kFacetCreate), kFacetIoError);
    EXPECT_EQ(facetFile2Open("", kFacetRead), kFacetIoError);
    EXPECT_EQ(facetFile2Open(nullptr, kFacetRead), kFacetIoError);
    EXPECT_EQ(facetFile2Open(dir.file("none.3df").c_str(), kFacetRead), kFacetIoError);
    EXPECT_EQ(facetFile2Open(dir.file("none.3df").c_str(), kFacetCreate), kFacetWrongMode);
    EXPECT_EQ(facetFileClose(1), kFacetWrongMode);
    EXPECT_EQ(facetFile2Close(1), -1);
    const std::string name = dir.file("m.3df");
    ASSERT_EQ(facetFileOpen(name.c_str(), kFacetCreate), 1);
    expectHandles(0);
    expectHandles(2);
    EXPECT_EQ(facetFileReadHeader(1, header), kFacetWrongMode);
    EXPECT_EQ(facetFileReadFacet(1, &f), kFacetWrongMode);
    ASSERT_EQ(facetFileWriteHeader(1, header), kFacetOk);
    ASSERT_EQ(facetFileWriteFacet(1, &f), kFacetOk);
    EXPECT_EQ(facetFileClose(2), kFacetWrongMode);
    EXPECT_EQ(facetFileClose(1), 1);
    for (const int mode : {kFacetRead, kFacetUpdate}) {
        ASSERT_EQ(facetFileOpen(name.c_str(), mode), 1) << mode;
        EXPECT_EQ(facetFileWriteHeader(1, header), kFacetWrongMode) << mode;
        EXPECT_EQ(facetFileWriteFacet(1, &f), kFacetWrongMode) << mode;
        EXPECT_EQ(facetFileClose(1), 0) << mode;
    }
    EXPECT_EQ(readBytes(name).size(), 256u + 98u);
    for (const int mode : {0, 5}) EXPECT_EQ(facetFileOpen(name.c_str(), mode), kFacetWrongMode) << mode;
    for (const int mode : {kFacetUpdate, kFacetAppend})
        EXPECT_EQ(facetFileOpen(dir.file("none.3df").c_str(), mode), kFacetIoError) << mode;
    EXPECT_EQ(facetFileReadVersion(name.c_str(), nullptr), -1);
    // A layout-2 file read by hand: its header (or a refusal when cut short or given no room), each
    // record as stored, a failure past the last; the close answers the header's count, or -1 when that
    // is beyond int32 or the header cannot be read again.
    const std::tuple<uint32_t, size_t, int> twos[] = {
        {3, 1594, 3}, {0x7FFFFFFFu, 1594, INT32_MAX}, {0x80000000u, 1594, -1}, {3, 1450, 3}, {3, 1299, -1}};
    for (const auto& [count, size, close] : twos) {
        std::vector<uint8_t> b = image(2.5f, count, 3);
        b.resize(size);
        writeBytes(name, b);
        ASSERT_EQ(facetFile2Open(name.c_str(), kFacetRead), 1);
        EXPECT_EQ(facetFile2ReadHeader(1, nullptr), kFacetWrongMode);
        EXPECT_EQ(facetFile2ReadHeader(1, header2), size >= 1300 ? kFacetOk : kFacetWrongMode) << size;
        for (int i = 0; i < (size >= 1300 ? static_cast<int>(size - 1300) / 98 : 0); ++i) {
            const Facet98 want = facetAt(i + 1);
            ASSERT_EQ(facetFile2ReadFacet(1, &f), kFacetOk) << i;
            EXPECT_EQ(std::memcmp(&f, &want, sizeof f), 0) << i;
        }
        EXPECT_EQ(facetFile2ReadFacet(1, &f), kFacetIoError) << size;
        EXPECT_EQ(facetFile2Close(1), close) << count << " " << size;
    }
}

// With the meshes' option of the frame pair, triangles and facets in frame A are written mirrored (here
// in the plane z = 5), points already in world as they are; without the option nothing is mirrored.
TEST_F(FacetFileTest, MeshOptionMirrorsOnlyFrameAPoints) {
    const Vec3 p1{0, 0, 5}, a1{0, 0, 1}, none{0, 0, 0};
    ASSERT_EQ(framePairCreate(&p1, &a1, &none, &none), 1);
    Rng rng{99u};
    TriList* tris = triListCreate(3);
    ASSERT_NE(tris, nullptr);
    std::vector<Facet98> facets(3);
    for (int i = 0; i < 3; ++i) {
        Triangle3D t;
        for (Vec3& p : t.p) p = Vec3{seededIn(&rng, -9, 9), seededIn(&rng, -9, 9), seededIn(&rng, -9, 9)};
        triListAdd(tris, &t);
        facets[i].flag = 3;
        for (int k = 0; k < 4; ++k) facets[i].p[k] = t.p[std::min(k, 2)];
    }
    const struct {
        int kind, flag;
        bool mirrored;
    } cases[] = {{kFacetMeshTriangles, 0, false},      {kFacetMeshTriangles, 1, true},
                 {kFacetMeshWorldTriangles, 1, false}, {kFacetMeshWorldTriangles, 0, false},
                 {kFacetMeshFacets, 1, true},          {kFacetMeshFacets, 0, false}};
    for (const auto& c : cases) {
        framePairSetFlag(kFramePairMeshes, c.flag);
        const std::string name = dir.file("m.3df");
        ASSERT_EQ(polymeshWrite3df(c.kind, tris, facets.data(), 3, name.c_str()), 3);
        const std::vector<uint8_t> b = readBytes(name);
        ASSERT_EQ(b.size(), 256u + 98u * 3);
        for (int i = 0; i < 3; ++i)
            for (int k = 0; k < 4; ++k) {
                const Vec3& p = tris->data[i].p[std::min(k, 2)];
                const size_t at = 256u + 98u * i + 2 + 24 * k;
                EXPECT_EQ(rawAt<double>(b, at), p.x) << c.kind << c.flag;
                EXPECT_EQ(rawAt<double>(b, at + 8), p.y) << c.kind << c.flag;
                EXPECT_EQ(rawAt<double>(b, at + 16), c.mirrored ? 10 - p.z : p.z)
                    << c.kind << c.flag << i << k;
            }
    }
    triListFree(tris);
}
