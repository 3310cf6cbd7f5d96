#include "surfaces/meshfiles/facet.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>

namespace {

Facet98 sample() {
    Facet98 f;
    f.flag = 0x1234;
    for (int k = 0; k < 4; ++k) f.p[k] = Vec3{k + 0.5, -k * 2.0, 1e300 / (k + 1)};
    return f;
}

bool sameFacet(const Facet98& a, const Facet98& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

}  // namespace

TEST(Facet98, LayoutMatchesFile) {
    EXPECT_EQ(sizeof(Facet98), 98u);
    EXPECT_EQ(offsetof(Facet98, p), 2u);
    Facet98 f = sample();
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&f);
    double y1;
    std::memcpy(&y1, bytes + 2 + 24 + 8, sizeof y1);
    EXPECT_EQ(y1, -2.0);
}

TEST(Facet98, EncodesLittleEndianFieldByField) {
    Facet98 f{};
    f.flag = 0x0108;
    f.p[0].x = 1.0;   // 3FF0000000000000
    f.p[3].z = -2.0;  // C000000000000000
    uint8_t buf[kFacet98Bytes];
    std::memset(buf, 0xAA, sizeof buf);
    facet98Encode(&f, buf);
    EXPECT_EQ(buf[0], 0x08);
    EXPECT_EQ(buf[1], 0x01);
    const uint8_t one[8] = {0, 0, 0, 0, 0, 0, 0xF0, 0x3F};
    EXPECT_EQ(std::memcmp(buf + 2, one, 8), 0);
    const uint8_t minusTwo[8] = {0, 0, 0, 0, 0, 0, 0, 0xC0};
    EXPECT_EQ(std::memcmp(buf + 90, minusTwo, 8), 0);
    for (int i = 10; i < 90; ++i) EXPECT_EQ(buf[i], 0) << i;
    Facet98 back;
    facet98Decode(buf, &back);
    EXPECT_TRUE(sameFacet(f, back));
}

TEST(Facet98, StreamRoundTripAndShortRead) {
    FILE* fp = std::tmpfile();
    ASSERT_NE(fp, nullptr);
    const Facet98 a = sample();
    Facet98 b = sample();
    b.flag = 0;
    b.p[3] = b.p[2];  // a triangle
    ASSERT_EQ(facet98Write(fp, &a), 0);
    ASSERT_EQ(facet98Write(fp, &b), 0);
    EXPECT_EQ(std::ftell(fp), 196);
    std::rewind(fp);
    Facet98 r1, r2, r3 = sample();
    ASSERT_EQ(facet98Read(fp, &r1), 0);
    ASSERT_EQ(facet98Read(fp, &r2), 0);
    EXPECT_TRUE(sameFacet(r1, a));
    EXPECT_TRUE(sameFacet(r2, b));
    EXPECT_EQ(facet98Read(fp, &r3), -2);  // end of file
    std::fclose(fp);
    // A record cut short inside its last point.
    FILE* cut = std::tmpfile();
    ASSERT_NE(cut, nullptr);
    const uint8_t part[97] = {};
    ASSERT_EQ(std::fwrite(part, 1, sizeof part, cut), sizeof part);
    std::rewind(cut);
    EXPECT_EQ(facet98Read(cut, &r3), -2);
    EXPECT_TRUE(sameFacet(r3, sample()));  // unchanged
    std::fclose(cut);
    EXPECT_EQ(facet98Read(nullptr, &r3), -2);
    EXPECT_EQ(facet98Write(nullptr, &a), -2);
}
