#include "surfaces/meshfiles/stl.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "surfaces/meshfiles/meshtest.h"

namespace {

struct StlTri {
    float n[3];
    float v[9];
};

std::vector<StlTri> randomStl(uint32_t seed, int n) {
    Rng rng{seed};
    std::vector<StlTri> out(n);
    for (StlTri& t : out) {
        const double a = seededIn(&rng, 0, 6.28), b = seededIn(&rng, -1.5, 1.5);
        t.n[0] = static_cast<float>(std::cos(a) * std::cos(b));
        t.n[1] = static_cast<float>(std::sin(a) * std::cos(b));
        t.n[2] = static_cast<float>(std::sin(b));
        for (float& v : t.v) v = static_cast<float>(seededIn(&rng, -500, 500));
    }
    return out;
}

uint32_t swapped(uint32_t v) {
    return (v >> 24) | ((v >> 8) & 0xff00u) | ((v << 8) & 0xff0000u) | (v << 24);
}

std::vector<uint8_t> binaryImage(const std::vector<StlTri>& tris, bool bigEndian,
                                 const char* text = "binary") {
    std::vector<uint8_t> b(84, ' ');
    std::memcpy(b.data(), text, std::strlen(text));
    rawPut<uint32_t>(b, 80, static_cast<uint32_t>(tris.size()));
    for (const StlTri& t : tris) {
        const size_t at = b.size();
        b.resize(at + 50, 0);
        float f[12];
        std::memcpy(f, t.n, sizeof t.n);
        std::memcpy(f + 3, t.v, sizeof t.v);
        for (int i = 0; i < 12; ++i) {
            uint32_t u;
            std::memcpy(&u, &f[i], 4);
            rawPut<uint32_t>(b, at + 4 * i, bigEndian ? swapped(u) : u);
        }
        rawPut<uint16_t>(b, at + 48, bigEndian ? 0x3412 : 0x1234);
    }
    return b;
}

void expectSame(const TriList* list, const std::vector<StlTri>& tris) {
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->count, static_cast<int32_t>(tris.size()));
    for (size_t i = 0; i < tris.size(); ++i)
        for (int k = 0; k < 9; ++k) EXPECT_EQ((&list->data[i].p[0].x)[k], static_cast<double>(tris[i].v[k]));
}

std::string asciiFacet(const double v[9], const char* eol = "\n") {
    char buf[512];
    std::snprintf(
        buf, sizeof buf,
        "  facet normal 0 0 1%s    outer loop%s      vertex %.17g %.17g %.17g%s      vertex %.17g %.17g "
        "%.17g%s      vertex %.17g %.17g %.17g%s    endloop%s  endfacet%s",
        eol, eol, v[0], v[1], v[2], eol, v[3], v[4], v[5], eol, v[6], v[7], v[8], eol, eol, eol);
    return buf;
}

}  // namespace

TEST(Stl, BinaryRecordsFromFileSizeInBothByteOrders) {
    TempDir dir;
    const struct {
        int n;
        bool big;
        size_t tail;
        const char* text;
        bool unitZ;  // first normal (0, 0, 1): swapped it reads as a tiny, plausible vector
    } cases[] = {
        {1, false, 0, "binary", false},      {25, false, 0, "binary", false},
        {25, false, 20, "binary", false},    {40, true, 0, "x", false},
        {7, true, 49, "solid", false},       {0, false, 0, "binary", false},
        {30, false, 0, "solid part", false}, {9, true, 0, "binary", true},
        {9, false, 0, "binary", true},
    };
    for (const auto& c : cases) {
        std::vector<StlTri> tris = randomStl(77u + c.n, c.n);
        if (c.unitZ) {
            tris[0].n[0] = tris[0].n[1] = 0.0f;
            tris[0].n[2] = 1.0f;
        }
        std::vector<uint8_t> image = binaryImage(tris, c.big, c.text);
        ASSERT_EQ(image.size(), 84u + 50u * c.n);
        image.resize(image.size() + c.tail, 0x41);
        const std::string name = dir.file("b.stl");
        writeBytes(name, image);
        EXPECT_EQ(stl_is_binary(name.c_str()), 1);
        TriList* list = stl_read(name.c_str());
        expectSame(list, tris);
        triListFree(list);
    }
}

TEST(Stl, KindProbeTable) {
    TempDir dir;
    const struct {
        std::string head;
        int expect;
    } cases[] = {
        {"solid a\n facet normal 0 0 1\n", 0},
        {"solid a\n facet\n", 1},                                  // no "normal"
        {"solid " + std::string(1100, 'x') + " facet normal", 1},  // beyond the probe
        {"SOLID a facet normal", 1},
        {"sol", 1},
        {"", 1},
    };
    for (const auto& c : cases) {
        writeText(dir.file("k.stl"), c.head);
        EXPECT_EQ(stl_is_binary(dir.file("k.stl").c_str()), c.expect) << c.head.substr(0, 20);
    }
    EXPECT_EQ(stl_is_binary(dir.file("absent.stl").c_str()), -1);
    EXPECT_EQ(stl_is_binary(""), -1);
    EXPECT_EQ(stl_read(dir.file("absent.stl").c_str()), nullptr);
    EXPECT_EQ(stl_read(""), nullptr);
    EXPECT_EQ(stl_read(nullptr), nullptr);
}

TEST(Stl, AsciiFilesTable) {
    TempDir dir;
    const double a[9] = {0, 0, 0, 1, 0, 0, 0, 1, 0.5};
    const double b[9] = {-1.25, 2e-3, 7, 3, 4, 5, 1e6, -2, 0};
    const std::string two = asciiFacet(a) + asciiFacet(b);
    const struct {
        std::string text;
        int expect;  // triangles, or -1 for no mesh
    } cases[] = {
        {"solid s\n" + two + "endsolid s\n", 2},
        {"solid s\r\n" + asciiFacet(a, "\r\n") + asciiFacet(b, "\r\n") + "endsolid s\r\n", 2},
        {"solid s\n\n" + asciiFacet(a) + "\n\n" + asciiFacet(b) + "\nendsolid s\n", 2},
        {"solid s\n" + asciiFacet(a) + "end\n" + asciiFacet(b), 1},
        {"solid s\n" + asciiFacet(a) + "end of part\n" + asciiFacet(b), 2},
        {"solid s\n" + asciiFacet(a) + "  facet normal 0 0 1\n outer loop\n vertex 1 2 3\n vertex 4", -1},
        {"solid s\n" + asciiFacet(a) + "  facet normal 0 0 1\n outer loop\n vertex 1 2 3\n", 1},
        {"solid s\n  facet normal 0 0 1\n outer loop\n vertex 1 2\n vertex 1 2 3\n vertex 1 2 3\n", -1},
        {"solid s\n" + asciiFacet(a) + "  facet normal 0 0 1\n outer loop\n vertex a b c\n", -1},
        {"solid s\nendsolid\n", 0},
    };
    for (const auto& c : cases) {
        const std::string name = dir.file("a.stl");
        writeText(name, c.text);
        TriList* list = stl_read_ascii(name.c_str());
        if (c.expect < 0) {
            EXPECT_EQ(list, nullptr) << c.text;
            continue;
        }
        ASSERT_NE(list, nullptr) << c.text;
        ASSERT_EQ(list->count, c.expect) << c.text;
        const double* want[2] = {a, b};
        for (int i = 0; i < c.expect; ++i)
            for (int k = 0; k < 9; ++k) EXPECT_EQ((&list->data[i].p[0].x)[k], want[i][k]);
        triListFree(list);
    }
}

TEST(Stl, SeededAsciiAgreesWithBinary) {
    TempDir dir;
    for (uint32_t seed = 3; seed < 8; ++seed) {
        const std::vector<StlTri> tris = randomStl(seed, 5 + static_cast<int>(seed) * 13);
        std::string text = "solid seeded\n";
        for (const StlTri& t : tris) {
            double v[9];
            for (int k = 0; k < 9; ++k) v[k] = t.v[k];
            text += asciiFacet(v);
        }
        text += "endsolid seeded\n";
        writeText(dir.file("s.stl"), text);
        writeBytes(dir.file("s.bin.stl"), binaryImage(tris, seed % 2 == 0));
        EXPECT_EQ(stl_is_binary(dir.file("s.stl").c_str()), 0);
        TriList* fromText = stl_read(dir.file("s.stl").c_str());
        TriList* fromBinary = stl_read(dir.file("s.bin.stl").c_str());
        expectSame(fromText, tris);
        expectSame(fromBinary, tris);
        triListFree(fromText);
        triListFree(fromBinary);
    }
}
