#include "surfaces/meshfiles/stl.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "surfaces/meshfiles/meshtest.h"

#define KV_ALLOCFAIL_CONTROLS_ONLY
#include "allocfail.h"

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
        const double nv[3] = {std::cos(a) * std::cos(b), std::sin(a) * std::cos(b), std::sin(b)};
        for (int k = 0; k < 3; ++k) t.n[k] = static_cast<float>(nv[k]);
        for (float& v : t.v) v = static_cast<float>(seededIn(&rng, -500, 500));
    }
    return out;
}

std::vector<uint8_t> binaryImage(const std::vector<StlTri>& tris, bool bigEndian, const char* text) {
    std::vector<uint8_t> b(84, ' ');
    std::memcpy(b.data(), text, std::strlen(text));
    for (const StlTri& t : tris) {
        const size_t at = b.size();
        b.resize(at + 50, 0);
        std::memcpy(b.data() + at, t.n, 12);
        std::memcpy(b.data() + at + 12, t.v, 36);
        if (bigEndian)
            for (size_t f = at; f < at + 48; f += 4) std::swap(b[f], b[f + 3]), std::swap(b[f + 1], b[f + 2]);
    }
    return b;
}

std::string asciiFacet(const double* v, const char* eol = "\n") {
    std::string s = std::string("  facet normal 0 0 1") + eol + "    outer loop" + eol;
    for (int k = 0; k < 3; ++k) {
        char line[200];
        std::snprintf(line, sizeof line, "      vertex %.17g %.17g %.17g%s", v[3 * k], v[3 * k + 1],
                      v[3 * k + 2], eol);
        s += line;
    }
    return s + "    endloop" + eol + "  endfacet" + eol;
}

void expectTriangles(const TriList* list, const std::vector<const double*>& want) {
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->count, static_cast<int32_t>(want.size()));
    for (size_t i = 0; i < want.size(); ++i)
        for (int k = 0; k < 9; ++k) EXPECT_EQ((&list->data[i].p[0].x)[k], want[i][k]);
}

}  // namespace

TEST(Stl, BinaryCountFromSizeInBothByteOrders) {
    TempDir dir;
    const struct {
        int n;
        bool big;
        size_t tail;
        const char* text;
        bool unitZ;  // first normal (0, 0, 1): read swapped it is tiny, yet plausible by size
    } cases[] = {{1, false, 0, "binary", false},    {25, false, 20, "binary", false},
                 {40, true, 0, "x", false},         {7, true, 49, "solid", false},
                 {0, false, 0, "binary", false},    {30, false, 0, "solid part", false},
                 {9, true, 0, "binary", true},      {9, false, 0, "binary", true},
                 {4096, false, 0, "binary", false}, {4100, true, 30, "binary", false}};  // chunks of 4096
    for (const auto& c : cases) {
        std::vector<StlTri> tris = randomStl(77u + c.n, c.n);
        if (c.unitZ) tris[0].n[0] = tris[0].n[1] = 0.0f, tris[0].n[2] = 1.0f;
        std::vector<uint8_t> b = binaryImage(tris, c.big, c.text);
        ASSERT_EQ(b.size(), 84u + 50u * c.n);
        b.resize(b.size() + c.tail, 0x41);
        writeBytes(dir.file("b.stl"), b);
        EXPECT_EQ(stl_is_binary(dir.file("b.stl").c_str()), 1);
        TriList* list = stl_read(dir.file("b.stl").c_str());
        ASSERT_NE(list, nullptr);
        ASSERT_EQ(list->count, c.n);
        for (int i = 0; i < c.n; ++i)
            for (int k = 0; k < 9; ++k) EXPECT_EQ((&list->data[i].p[0].x)[k], double(tris[i].v[k]));
        triListFree(list);
    }
    EXPECT_EQ(stl_read(dir.file("absent.stl").c_str()), nullptr);
    EXPECT_EQ(stl_is_binary(dir.file("absent.stl").c_str()), -1);
    EXPECT_EQ(stl_read_binary(dir.file("absent.stl").c_str()), nullptr);
    // A first normal longer than a unit vector by far (each component below 2) as read marks the other
    // byte order: the vertices are the values whose swapped bytes were stored.
    std::vector<StlTri> tris(2);
    tris[0].n[0] = 0.0f, tris[0].n[1] = 1.5f, tris[0].n[2] = 0.5f;
    for (int i = 0; i < 2; ++i)
        for (int k = 0; k < 9; ++k) {
            const float want = static_cast<float>(i * 10 + k) + 0.25f;
            uint8_t bytes[4];
            std::memcpy(bytes, &want, 4);
            std::swap(bytes[0], bytes[3]), std::swap(bytes[1], bytes[2]);
            std::memcpy(&tris[i].v[k], bytes, 4);
        }
    writeBytes(dir.file("s.stl"), binaryImage(tris, false, "binary"));
    TriList* list = stl_read(dir.file("s.stl").c_str());
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->count, 2);
    for (int i = 0; i < 2; ++i)
        for (int k = 0; k < 9; ++k) EXPECT_EQ((&list->data[i].p[0].x)[k], i * 10 + k + 0.25) << i << " " << k;
    triListFree(list);
    // No room for the list: no list.
    // Short of memory at any allocation of the read: no list, and nothing held.
    const std::string swappedFile = dir.file("s.stl");
    for (long n = 1;; ++n) {
        allocfail::arm(n);
        TriList* got = nullptr;
        EXPECT_NO_THROW(got = stl_read_binary(swappedFile.c_str())) << n;
        const bool fired = allocfail::fired();
        allocfail::disarm();
        if (!fired) {
            ASSERT_NE(got, nullptr);
            EXPECT_EQ(got->count, 2);
            triListFree(got);
            break;
        }
        EXPECT_EQ(got, nullptr) << n;
        triListFree(got);
    }
    // An empty file read as text has no facets.
    writeBytes(dir.file("e.stl"), {});
    list = stl_read_ascii(dir.file("e.stl").c_str());
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->count, 0);
    triListFree(list);
    // A name of one character (here in the working folder) is a name like any other.
    writeBytes("b", binaryImage(tris, false, "binary"));
    EXPECT_EQ(stl_is_binary("b"), 1);
    list = stl_read("b");
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->count, 2);
    triListFree(list);
    std::remove("b");
}

TEST(Stl, AsciiFilesTable) {
    TempDir dir;
    const double a[9] = {0, 0, 0, 1, 0, 0, 0, 1, 0.5}, b[9] = {-1.25, 2e-3, 7, 3, 4, 5, 1e6, -2, 0};
    const std::string fa = asciiFacet(a), fb = asciiFacet(b), cut = "  facet normal 0 0 1\n outer loop\n";
    const struct {
        std::string text;
        int expect;  // triangles, or -1 for no mesh
    } cases[] = {
        {"solid s\n" + fa + fb + "endsolid s\n", 2},
        {"solid s\r\n" + asciiFacet(a, "\r\n") + asciiFacet(b, "\r\n") + "endsolid s\r\n", 2},
        {"solid s\n\n" + fa + "\n\n" + fb + "\nendsolid s\n", 2},  // blank lines between facets
        {"solid s\n" + fa + "end\n" + fb, 1},
        {"solid s\n" + fa + "end of part\n" + fb, 2},
        {"solid s\n" + fa + cut + " vertex 1 2 3\n vertex 4", -1},
        {"solid s\n" + fa + cut + " vertex 1 2 3\n", 1},  // truncated inside a facet
        {"solid s\n" + cut + " vertex 1 2\n vertex 1 2 3\n vertex 1 2 3\n", -1},
        {"solid s\n" + fa + cut + " vertex a b c\n", -1},
        {"solid s\nendsolid\n", 0},
        {"solid facet\nendsolid\n", 0},  // no "normal": binary
        {"solid s\nfacet normal", 0},    // its last word ends the file: still ASCII
    };
    for (const auto& c : cases) {
        writeTextFile(dir.file("a.stl"), c.text);
        TriList* list = stl_read_ascii(dir.file("a.stl").c_str());
        if (c.expect < 0) {
            EXPECT_EQ(list, nullptr) << c.text;
        } else {
            const std::vector<const double*> both = {a, b};
            expectTriangles(list, std::vector<const double*>(both.begin(), both.begin() + c.expect));
        }
        triListFree(list);
        // "solid" first with "facet" and "normal" after it is ASCII.
        const bool ascii = c.text.rfind("solid", 0) == 0 && c.text.find("facet") != std::string::npos &&
                           c.text.find("normal") != std::string::npos;
        EXPECT_EQ(stl_is_binary(dir.file("a.stl").c_str()), ascii ? 0 : 1) << c.text;
    }
    // Seven lines a facet: a plain file is read into a list of just its facets' room (146 lines, rounded
    // down: four blank lines more do not make room for another facet).
    std::string many = "solid s\n\n\n\n\n";
    for (int i = 0; i < 20; ++i) many += fa;
    writeTextFile(dir.file("m.stl"), many + "endsolid s\n");
    TriList* list = stl_read_ascii(dir.file("m.stl").c_str());
    EXPECT_TRUE(list != nullptr && list->count == 20 && list->capacity == 20);
    triListFree(list);
}
