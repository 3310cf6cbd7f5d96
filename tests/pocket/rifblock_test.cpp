// The RIF block's keyword rows: every keyword found at its first row, each kind of field written from a
// value text and read back at the row's offset, and the temporary path at the edge of its buffer.
#include "pocket/rifblock.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "../geometry/msg_capture.h"
#include "geometry/frames.h"
#include "kernel/base/keyword.h"

namespace {

template <class T>
T fieldAt(size_t offset) {
    T v;
    std::memcpy(&v, reinterpret_cast<const char*>(rifBlock()) + offset, sizeof v);
    return v;
}

}  // namespace

TEST(RifBlock, EveryRowStoresItsKindAtItsOffset) {
    rifResetState();
    for (int row = 0; row < kRifKeywordCount; ++row) {
        const RifKeyword& k = RifKeywordTable[row];
        int first = row;
        for (int j = 0; j < row; ++j)
            if (std::string(RifKeywordTable[j].keyword) == k.keyword && first == row) first = j;
        EXPECT_EQ(rifKeywordLookup(k.keyword), first) << k.keyword;
        ASSERT_LE(k.field + (k.type == kStoreTriple ? 3 * sizeof(double) : sizeof(int16_t)),
                  sizeof(RifBlock));
        if (k.conversion == kRifParseEnum) {
            EXPECT_EQ(rifStoreValue(row, "MI"), 1);
            EXPECT_EQ(fieldAt<int16_t>(k.field), 1) << k.keyword;
            EXPECT_EQ(rifStoreValue(row, "DXF"), 1);
            EXPECT_EQ(fieldAt<int16_t>(k.field), 0) << k.keyword;
            EXPECT_EQ(rifStoreValue(row, "MIX"), 0);
            EXPECT_EQ(rifStoreValue(row, nullptr), 0);
            continue;
        }
        const char* value = k.type == kStoreTriple ? "-7.5 2 3.25" : "-7.5";
        ASSERT_EQ(rifStoreValue(row, value), 1) << k.keyword;
        switch (k.type) {
            case kStoreInt16:
                EXPECT_EQ(fieldAt<int16_t>(k.field), -7) << k.keyword;
                break;
            case kStoreInt32:
                EXPECT_EQ(fieldAt<int32_t>(k.field), -7) << k.keyword;
                break;
            case kStoreDouble:
                EXPECT_EQ(fieldAt<double>(k.field), -7.5) << k.keyword;
                break;
            case kStoreText:
                EXPECT_STREQ(reinterpret_cast<const char*>(rifBlock()) + k.field, "-7.5") << k.keyword;
                break;
            default:
                EXPECT_EQ(fieldAt<double>(k.field), -7.5) << k.keyword;
                EXPECT_EQ(fieldAt<double>(k.field + sizeof(double)), 2) << k.keyword;
                EXPECT_EQ(fieldAt<double>(k.field + 2 * sizeof(double)), 3.25) << k.keyword;
        }
    }
    EXPECT_EQ(RifKeywordTable[kRifKeywordCount].keyword, nullptr);
    // A text longer than its field is cut to it, and the host is told; one that just fits is not.
    MessageCapture capture(9);
    for (const size_t length : {kRifTextMax + 1, kRifTextMax}) {
        ASSERT_EQ(rifStoreValue(rifKeywordLookup("*RIF_NAME"), std::string(length, 'n').c_str()), 1);
        EXPECT_EQ(std::string(rifBlock()->rifName), std::string(kRifTextMax, 'n'));
    }
    EXPECT_EQ(capture.messages(), std::vector<std::string>{"5190,*RIF_NAME"});
    for (const int row : {-1, kRifKeywordCount}) EXPECT_EQ(rifStoreValue(row, "1"), 0) << row;
    rifResetState();
}

// The directory, a slash when there is one, and the name: written when it fits with its terminator.
TEST(RifBlock, TemporaryPathFitsItsBufferOrIsEmpty) {
    rifResetState();
    char out[16];
    const struct {
        const char* dir;
        const char* name;
        size_t size;
        int result;
        const char* path;
    } cases[] = {{"/tmp", "a.pcf", 11, 1, "/tmp/a.pcf"}, {"/tmp", "a.pcf", 10, 0, ""},
                 {"", "a.pcf", 6, 1, "a.pcf"},           {"", "a.pcf", 5, 0, ""},
                 {"/t", nullptr, 4, 1, "/t/"},           {"/t", "x", 1, 0, ""}};
    for (const auto& c : cases) {
        std::strcpy(rifBlock()->tmpDir, c.dir);
        std::memset(out, 'z', sizeof out);
        EXPECT_EQ(rifTmpPath(out, c.size, c.name), c.result) << c.dir << " " << c.size;
        EXPECT_STREQ(out, c.path) << c.dir << " " << c.size;
    }
    EXPECT_EQ(rifTmpPath(out, 0, "a"), 0);
    EXPECT_EQ(out[0], '\0');  // untouched from the last case
    EXPECT_EQ(rifTmpPath(nullptr, 8, "a"), 0);
    rifResetState();
}

// Each mirror plane (position, normal) reflects a point in closed form; two planes reflect it twice.
TEST(RifBlock, MirrorPlanesReflectPoints) {
    const struct {
        double mirrorOri[3], jlOri[3];
        int32_t mode;
        Vec3 image;  // of (5, 6, 7), the planes through (2, 0, 4) and (1, 2, 3)
    } cases[] = {{{0, 3, 0}, {0, 0, 0}, -1, {5, -6, 7}},
                 {{0, 0, 1}, {0, 0, 0}, -1, {5, 6, 1}},
                 {{0, 0, 0}, {0, 0, 2}, -1, {5, 6, -1}},
                 {{0, 0, 0}, {0, 1, 0}, -1, {5, -2, 7}},
                 {{1, 0, 0}, {0, 0, 1}, 1, {-1, 6, -1}}};
    for (const auto& c : cases) {
        rifResetState();
        RifBlock& b = *rifBlock();
        b.mirrorPos[0] = 2, b.mirrorPos[2] = 4;
        for (int i = 0; i < 3; ++i) {
            b.jlMirrorPos[i] = i + 1;
            b.mirrorOri[i] = c.mirrorOri[i];
            b.jlMirrorOri[i] = c.jlOri[i];
        }
        ASSERT_EQ(rifSetupMirror(), 1);
        EXPECT_EQ(framePairGetMode(), c.mode);
        Vec3 p{5, 6, 7};
        framePairToM1(&p);
        EXPECT_NEAR(std::hypot(p.x - c.image.x, p.y - c.image.y, p.z - c.image.z), 0, 1e-12);
        framePairResetState();
    }
    rifResetState();
}
