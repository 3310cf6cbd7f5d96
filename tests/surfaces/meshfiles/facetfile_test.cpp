#include "surfaces/meshfiles/facetfile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "geometry/frames.h"
#include "surfaces/meshfiles/meshtest.h"

namespace {

struct FacetFileTest : ::testing::Test {
    TempDir dir;
    void SetUp() override {
        facetFileResetState();
        framesResetState();
        framePairResetState();
    }
    void TearDown() override {
        facetFileResetState();
        framesResetState();
        framePairResetState();
    }
};

TriList* randomTriangles(uint32_t seed, int n) {
    Rng rng{seed};
    TriList* list = triListCreate(n);
    for (int i = 0; list != nullptr && i < n; ++i) {
        Triangle3D t;
        for (Vec3& p : t.p) p = Vec3{seededIn(&rng, -50, 50), seededIn(&rng, -20, 80), seededIn(&rng, 0, 30)};
        triListAdd(list, &t);
    }
    return list;
}

Facet98 facetAt(double base) {
    Facet98 f{};
    for (int k = 0; k < 4; ++k) f.p[k] = Vec3{base + k, base - k, base * 2 + k};
    return f;
}

// A layout-1 or layout-2 image built here byte by byte: version, count and the facets.
std::vector<uint8_t> facetImage(float version, uint32_t count, const std::vector<Facet98>& facets) {
    const size_t headerBytes = version >= 2.0f ? 1300 : 256;
    std::vector<uint8_t> bytes(headerBytes, 0);
    rawPut<float>(bytes, 0, version);
    rawPut<uint32_t>(bytes, 252, count);
    if (headerBytes == 1300) {
        rawPut<uint32_t>(bytes, 256, 1300);
        rawPut<uint32_t>(bytes, 260, 98);
    }
    for (const Facet98& f : facets) {
        const size_t at = bytes.size();
        bytes.resize(at + 98);
        std::memcpy(bytes.data() + at, &f, 98);  // the record is packed like the file
    }
    return bytes;
}

}  // namespace

TEST_F(FacetFileTest, WriterLaysOutTrianglesCountIdentityAndBox) {
    for (int n : {1, 2, 17, 300}) {
        TriList* tris = randomTriangles(1000u + n, n);
        ASSERT_NE(tris, nullptr);
        const std::string name = dir.file("w.3df");
        ASSERT_EQ(polymeshWrite3df(kFacetMeshTriangles, tris, nullptr, 0, name.c_str()), n);
        const std::vector<uint8_t> b = readBytes(name);
        ASSERT_EQ(b.size(), 256u + 98u * n);
        EXPECT_EQ(rawAt<float>(b, 0), 1.0f);
        EXPECT_EQ(rawAt<uint32_t>(b, 252), static_cast<uint32_t>(n));
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c)
                EXPECT_EQ(rawAt<double>(b, 124 + 8 * (4 * r + c)), r == c ? 1.0 : 0.0);
        double lo[3] = {1e300, 1e300, 1e300}, hi[3] = {-1e300, -1e300, -1e300};
        for (int i = 0; i < n; ++i) {
            const size_t rec = 256 + 98 * static_cast<size_t>(i);
            EXPECT_EQ(rawAt<uint16_t>(b, rec), 0);
            for (int k = 0; k < 3; ++k) {
                const double* v = &tris->data[i].p[k].x;
                for (int a = 0; a < 3; ++a) {
                    EXPECT_EQ(rawAt<double>(b, rec + 2 + 24 * k + 8 * a), v[a]);
                    lo[a] = std::min(lo[a], v[a]);
                    hi[a] = std::max(hi[a], v[a]);
                }
            }
            EXPECT_EQ(std::memcmp(b.data() + rec + 50, b.data() + rec + 74, 24), 0);  // point 3 = point 2
        }
        for (int a = 0; a < 3; ++a) {
            EXPECT_EQ(rawAt<double>(b, 4 + 8 * a), lo[a]);
            EXPECT_EQ(rawAt<double>(b, 28 + 8 * a), hi[a]);
            EXPECT_EQ(rawAt<double>(b, 52 + 8 * a), lo[a]);
            EXPECT_EQ(rawAt<double>(b, 76 + 8 * a), hi[a]);
            EXPECT_EQ(rawAt<double>(b, 100 + 8 * a), 0.0);  // version 1.0 has no centre
        }
        triListFree(tris);
    }
}

TEST_F(FacetFileTest, WriterTakesPointsFromFrameAToWorld) {
    const Vec3 origin{10, -5, 2}, x{0, 1, 0}, y{-1, 0, 0}, z{0, 0, 1};
    frameSetA(&origin, &x, &y, &z);
    ASSERT_EQ(framesInit(), 1);
    Facet98 f = facetAt(3.0);
    f.flag = 0x0008;
    const std::string name = dir.file("f.3df");
    ASSERT_EQ(polymeshWrite3df(kFacetMeshFacets, nullptr, &f, 1, name.c_str()), 1);
    const std::vector<uint8_t> b = readBytes(name);
    ASSERT_EQ(b.size(), 354u);
    EXPECT_EQ(rawAt<uint16_t>(b, 256), 0);  // flags are written as 0
    for (int k = 0; k < 4; ++k) {
        const Vec3 p = f.p[k];  // local (x, y, z) -> origin + x * X + y * Y + z * Z
        const double world[3] = {10 - p.y, -5 + p.x, 2 + p.z};
        for (int a = 0; a < 3; ++a) EXPECT_NEAR(rawAt<double>(b, 256 + 2 + 24 * k + 8 * a), world[a], 1e-12);
    }
}

TEST_F(FacetFileTest, CentreIsWrittenFromVersionOnePointNine) {
    const struct {
        float version;
        bool centre;
    } cases[] = {{1.0f, false}, {1.5f, false}, {1.9f, true}, {1.95f, true}};
    for (const auto& c : cases) {
        const std::string name = dir.file("c.3df");
        const int h = facetFileOpen(name.c_str(), kFacetCreate);
        ASSERT_EQ(h, 1);
        uint8_t header[256] = {};
        std::memcpy(header, &c.version, 4);
        ASSERT_EQ(facetFileWriteHeader(h, header), 0);
        const Facet98 a = facetAt(-7.0), b2 = facetAt(4.0);
        ASSERT_EQ(facetFileWriteFacet(h, &a), 0);
        ASSERT_EQ(facetFileWriteFacet(h, &b2), 0);
        ASSERT_EQ(facetFileClose(h), 2);
        const std::vector<uint8_t> b = readBytes(name);
        EXPECT_EQ(rawAt<float>(b, 0), c.version);
        const double lo[3] = {-7, -10, -14}, hi[3] = {7, 4, 11};
        for (int a = 0; a < 3; ++a) {
            EXPECT_EQ(rawAt<double>(b, 4 + 8 * a), lo[a]);
            EXPECT_EQ(rawAt<double>(b, 28 + 8 * a), hi[a]);
            EXPECT_EQ(rawAt<double>(b, 100 + 8 * a), c.centre ? (lo[a] + hi[a]) / 2 : 0.0) << c.version;
        }
    }
}

TEST_F(FacetFileTest, LoadPicksLayoutByVersion) {
    const std::vector<Facet98> facets = {facetAt(1), facetAt(2), facetAt(3)};
    const struct {
        float version;
        uint32_t count;
        size_t facetsStored;
        int expect;
    } cases[] = {
        {1.0f, 3, 3, 3},  {1.99f, 3, 3, 3}, {2.0f, 3, 3, 3},  {2.5f, 3, 3, 3},
        {2.5f, 2, 3, 2},  {0.9f, 3, 3, -4}, {3.0f, 3, 3, -4}, {-1.0f, 3, 3, -4},
        {1.0f, 0, 3, -4}, {1.0f, 4, 3, -4}, {2.5f, 4, 3, -4}, {1.0f, 0xFFFFFFFFu, 3, -4},
    };
    for (const auto& c : cases) {
        const std::string name = dir.file("l.3df");
        std::vector<Facet98> stored(facets.begin(), facets.begin() + c.facetsStored);
        writeBytes(name, facetImage(c.version, c.count, stored));
        FacetList* list = nullptr;
        EXPECT_EQ(facetFileLoad(name.c_str(), &list), c.expect) << c.version << " " << c.count;
        if (c.expect > 0) {
            ASSERT_NE(list, nullptr);
            ASSERT_EQ(list->count, c.expect);
            for (int i = 0; i < c.expect; ++i) EXPECT_EQ(std::memcmp(&list->data[i], &facets[i], 98), 0);
            EXPECT_EQ(list->xmin, 1.0);
            EXPECT_EQ(list->zmax, 2.0 * c.expect + 3);
        } else {
            EXPECT_EQ(list, nullptr);
        }
        facetListFree(list);
        // Every outcome leaves both slots free.
        EXPECT_EQ(facetFileOpen(name.c_str(), kFacetRead), 1);
        EXPECT_EQ(facetFileClose(1), 0);
        EXPECT_EQ(facetFile2Open(name.c_str(), kFacetRead), 1);
        facetFile2Close(1);
    }
    FacetList* list = nullptr;
    EXPECT_EQ(facetFileLoad(dir.file("missing.3df").c_str(), &list), -2);
    writeBytes(dir.file("short.3df"), {0, 0});
    EXPECT_EQ(facetFileLoad(dir.file("short.3df").c_str(), &list), -2);
    writeBytes(dir.file("head.3df"), facetImage(1.0f, 1, {}));
    EXPECT_EQ(facetFileLoad(dir.file("head.3df").c_str(), &list), -4);
    EXPECT_EQ(list, nullptr);
}

TEST_F(FacetFileTest, LayoutTwoHeaderAndCountAtClose) {
    const std::string name = dir.file("v25.3df");
    writeBytes(name, facetImage(2.5f, 2, {facetAt(5), facetAt(6)}));
    double version = 0;
    ASSERT_EQ(facetFileReadVersion(name.c_str(), &version), 1);
    EXPECT_EQ(version, static_cast<double>(2.5f));
    const int h = facetFile2Open(name.c_str(), kFacetRead);
    ASSERT_EQ(h, 1);
    EXPECT_EQ(facetFile2Open(name.c_str(), kFacetRead), -3);
    uint8_t header[1300];
    ASSERT_EQ(facetFile2ReadHeader(h, header), 0);
    uint32_t hsize;
    std::memcpy(&hsize, header + 256, 4);
    EXPECT_EQ(hsize, 1300u);
    Facet98 f;
    ASSERT_EQ(facetFile2ReadFacet(h, &f), 0);
    EXPECT_EQ(f.p[3].z, 13.0);
    ASSERT_EQ(facetFile2ReadFacet(h, &f), 0);
    EXPECT_EQ(facetFile2ReadFacet(h, &f), -2);
    EXPECT_EQ(facetFile2ReadFacet(2, &f), -3);
    EXPECT_EQ(facetFile2Close(2), -1);
    EXPECT_EQ(facetFile2Close(h), 2);
    EXPECT_EQ(facetFile2Open(name.c_str(), 2), -1);
    // A header that cannot be read again still frees the slot.
    writeBytes(dir.file("cut.3df"), std::vector<uint8_t>(700, 0));
    ASSERT_EQ(facetFile2Open(dir.file("cut.3df").c_str(), kFacetRead), 1);
    EXPECT_EQ(facetFile2Close(1), -1);
    EXPECT_EQ(facetFile2Open(name.c_str(), kFacetRead), 1);
    EXPECT_EQ(facetFile2Close(1), 2);
}

TEST_F(FacetFileTest, ResultCodesOfTheLayoutOneRoutines) {
    const std::string name = dir.file("codes.3df");
    writeBytes(name, facetImage(1.0f, 1, {facetAt(1)}));
    uint8_t header[256] = {};
    Facet98 f = facetAt(0);
    EXPECT_EQ(facetFileOpen(name.c_str(), 0), -1);
    EXPECT_EQ(facetFileOpen(name.c_str(), 5), -1);
    EXPECT_EQ(facetFileOpen(dir.file("none/x.3df").c_str(), kFacetRead), -2);
    EXPECT_EQ(facetFileOpen(dir.file("absent.3df").c_str(), kFacetUpdate), -2);
    ASSERT_EQ(facetFileOpen(name.c_str(), kFacetRead), 1);
    EXPECT_EQ(facetFileWriteHeader(1, header), -1);
    EXPECT_EQ(facetFileWriteFacet(1, &f), -1);
    EXPECT_EQ(facetFileReadHeader(2, header), -3);
    EXPECT_EQ(facetFileReadFacet(0, &f), -3);
    EXPECT_EQ(facetFileReadHeader(1, header), 0);
    EXPECT_EQ(facetFileReadFacet(1, &f), 0);
    EXPECT_EQ(facetFileReadFacet(1, &f), -2);
    EXPECT_EQ(facetFileClose(2), -1);
    EXPECT_EQ(facetFileClose(1), 0);
    EXPECT_EQ(facetFileClose(1), -1);
    ASSERT_EQ(facetFileOpen(name.c_str(), kFacetUpdate), 1);
    EXPECT_EQ(facetFileReadHeader(1, header), -1);
    EXPECT_EQ(facetFileWriteFacet(1, &f), -1);
    EXPECT_EQ(facetFileClose(1), 0);
    EXPECT_EQ(readBytes(name).size(), 354u);
}

TEST_F(FacetFileTest, SecondOpenIsRefusedAndFirstStaysUsable) {
    const std::string a = dir.file("a.3df"), b = dir.file("b.3df");
    ASSERT_EQ(facetFileOpen(a.c_str(), kFacetCreate), 1);
    uint8_t header[256] = {};
    const float one = 1.0f;
    std::memcpy(header, &one, 4);
    ASSERT_EQ(facetFileWriteHeader(1, header), 0);
    EXPECT_EQ(facetFileOpen(b.c_str(), kFacetCreate), -3);
    EXPECT_FALSE(std::filesystem::exists(b));
    const Facet98 f = facetAt(2);
    EXPECT_EQ(facetFileWriteFacet(1, &f), 0);
    EXPECT_EQ(facetFileClose(1), 1);
    EXPECT_EQ(facetFileOpen(b.c_str(), kFacetCreate), 1);
    EXPECT_EQ(facetFileClose(1), -2);  // created without a header
    EXPECT_EQ(facetFileOpen(a.c_str(), kFacetRead), 1);
    EXPECT_EQ(facetFileClose(1), 0);
}

TEST_F(FacetFileTest, AppendKeepsBoxAndCountsWholeRecords) {
    const std::string name = dir.file("app.3df");
    std::vector<uint8_t> image = facetImage(1.95f, 1, {facetAt(1)});
    for (int a = 0; a < 3; ++a) rawPut<double>(image, 4 + 8 * a, -123.0 - a);
    image.resize(image.size() + 40, 0xEE);  // a partial record at the end
    writeBytes(name, image);
    ASSERT_EQ(facetFileOpen(name.c_str(), kFacetAppend), 1);
    const Facet98 far = facetAt(500);
    ASSERT_EQ(facetFileWriteFacet(1, &far), 0);
    ASSERT_EQ(facetFileWriteFacet(1, &far), 0);
    EXPECT_EQ(facetFileClose(1), (98 + 40 + 2 * 98) / 98);
    const std::vector<uint8_t> b = readBytes(name);
    EXPECT_EQ(rawAt<uint32_t>(b, 252), 3u);
    for (int a = 0; a < 3; ++a) EXPECT_EQ(rawAt<double>(b, 4 + 8 * a), -123.0 - a);
    EXPECT_EQ(rawAt<double>(b, 124), 1.0);
    // Append to a file too short for a header: -2, and the slot is free again.
    writeBytes(dir.file("tiny.3df"), {1, 2, 3});
    ASSERT_EQ(facetFileOpen(dir.file("tiny.3df").c_str(), kFacetAppend), 1);
    EXPECT_EQ(facetFileClose(1), -2);
    EXPECT_EQ(facetFileOpen(name.c_str(), kFacetRead), 1);
    EXPECT_EQ(facetFileClose(1), 0);
}

TEST_F(FacetFileTest, SeededRoundTripThroughWriterAndLoader) {
    for (uint32_t seed = 1; seed <= 5; ++seed) {
        Rng rng{seed};
        const int n = 1 + rngStep(&rng) % 200;
        std::vector<Facet98> facets(n);
        for (Facet98& f : facets) {
            for (int k = 0; k < 4; ++k)
                f.p[k] = Vec3{seededIn(&rng, -1e3, 1e3), seededIn(&rng, -1, 1), seededIn(&rng, 0, 1e-3)};
            f.flag = static_cast<uint16_t>(rngStep(&rng));
        }
        const std::string name = dir.file("rt.3df");
        ASSERT_EQ(polymeshWrite3df(kFacetMeshFacets, nullptr, facets.data(), n, name.c_str()), n);
        FacetList* list = nullptr;
        ASSERT_EQ(facetFileLoad(name.c_str(), &list), n);
        ASSERT_NE(list, nullptr);
        for (int i = 0; i < n; ++i) {
            EXPECT_EQ(list->data[i].flag, 0);
            EXPECT_EQ(std::memcmp(list->data[i].p, facets[i].p, 96), 0);
        }
        facetListFree(list);
    }
    EXPECT_EQ(polymeshWrite3df(kFacetMeshTriangles, nullptr, nullptr, 0, dir.file("x.3df").c_str()), -1);
    EXPECT_EQ(polymeshWrite3df(kFacetMeshFacets, nullptr, nullptr, 0, dir.file("no/x.3df").c_str()), -1);
}
