#include "pocket/clist.h"

#include <gtest/gtest.h>

#include <vector>

#include "geometry/rng.h"
#include "pocket_util.h"

namespace {

ContourHeader headerOf(int16_t tag, uint32_t count = 1) {
    ContourHeader h{};
    h.tag = tag;
    h.elementCount = count;
    return h;
}

}  // namespace

TEST(Clist, NamesAndTheirNumbers) {
    EXPECT_EQ(clistIndex("SEC"), 13);
    EXPECT_EQ(clistIndex("sec"), -1);
    EXPECT_EQ(clistIndex(nullptr), -1);
    for (int i = 0; i < kClistCount; ++i) EXPECT_EQ(clistIndex(clistName(i)), i);
}

TEST(Clist, InsertPositionsAndRefusals) {
    PocketErrors errors;
    ContourElement e = lineElem(0, 0, 1, 0);
    ASSERT_EQ(clistCreate("MAIN"), 1);
    ContourHeader h = headerOf(7);
    EXPECT_EQ(clistInsert("MAIN", &e, &h, 1), 0);  // count + 1 on an empty list
    EXPECT_EQ(clistInsert("MAIN", &e, &h, 0), 1);
    EXPECT_EQ(clistInsert("MAIN", &e, &h, 2), 0);  // count + 1
    EXPECT_EQ(clistInsert("MAIN", &e, &h, -1), 1);
    EXPECT_EQ(clistCount("MAIN"), 2);
    EXPECT_EQ(clistMaxTag("MAIN"), 7);
    ContourHeader negative = headerOf(-4);
    EXPECT_EQ(clistInsert("SPAN", &e, &negative, -1), 1);
    EXPECT_EQ(clistMaxTag("SPAN"), 0);  // counted from 0
    EXPECT_EQ(clistMaxTag("NOLIST"), -1);
    EXPECT_EQ(clistInsert("main", &e, &h, 0), 0);
    EXPECT_EQ(clistDelete("GKT", -1), 0);
    EXPECT_EQ(clistCount("GKT"), 0);

    // A contour beyond the element cap is refused with its error.
    ContourHeader big = headerOf(1, kClistMaxElements + 1);
    std::vector<ContourElement> many(kClistMaxElements + 1, e);
    EXPECT_EQ(clistInsert("MAIN", many.data(), &big, -1), 0);
    ASSERT_EQ(PocketErrors::texts().size(), 1u);
    EXPECT_EQ(PocketErrors::texts()[0], "101 1500");
    big.elementCount = kClistMaxElements;
    EXPECT_EQ(clistInsert("MAIN", many.data(), &big, -1), 1);
}

TEST(Clist, TwelveThousandContoursAndNoMore) {
    PocketErrors errors;
    ASSERT_EQ(clistCreate("REST"), 1);
    ContourHeader h = headerOf(0, 0);
    for (int i = 0; i < kClistMaxContours; ++i) ASSERT_EQ(clistInsert("REST", nullptr, &h, -1), 1) << i;
    EXPECT_EQ(clistInsert("REST", nullptr, &h, -1), 0);
    EXPECT_EQ(clistInsert("REST", nullptr, &h, 0), 0);
    EXPECT_EQ(clistCount("REST"), kClistMaxContours);
    EXPECT_EQ(clistCreate("REST"), 1);  // emptied, slots reused
    EXPECT_EQ(clistCount("REST"), 0);
    EXPECT_EQ(clistInsert("REST", nullptr, &h, -1), 1);
}

TEST(Clist, RandomOperationsMatchAVectorModel) {
    PocketErrors errors;
    rngResetState();
    std::vector<std::vector<ContourElement>> model;
    ASSERT_EQ(clistCreate("TEMP"), 1);
    std::vector<ContourElement> buffer(64);
    for (int step = 0; step < 3000; ++step) {
        const int op = rngBelow(3);
        const int32_t n = static_cast<int32_t>(model.size());
        if (op <= 1) {
            const int32_t at = static_cast<int32_t>(rngBelow(n + 2)) - 1;  // -1 appends, n + 1 ... refused
            std::vector<ContourElement> c(1 + rngBelow(5));
            for (auto& e : c) e = lineElem(rngUniform(), rngUniform(), step, at);
            ContourHeader h = headerOf(static_cast<int16_t>(step), static_cast<uint32_t>(c.size()));
            const int ok = clistInsert("TEMP", c.data(), &h, at);
            EXPECT_EQ(ok, at <= n ? 1 : 0);
            if (ok) model.insert(at < 0 ? model.end() : model.begin() + at, c);
        } else if (n > 0) {
            const int32_t at = static_cast<int32_t>(rngBelow(n + 1)) - 1;
            EXPECT_EQ(clistDelete("TEMP", at), 1);
            model.erase(at < 0 ? model.end() - 1 : model.begin() + at);
        }
        ASSERT_EQ(clistCount("TEMP"), static_cast<int32_t>(model.size()));
    }
    for (size_t i = 0; i < model.size(); ++i) {
        ContourHeader h;
        ASSERT_EQ(clistGet("TEMP", buffer.data(), &h, static_cast<int32_t>(i)), static_cast<int32_t>(i));
        ASSERT_EQ(h.elementCount, model[i].size());
        for (size_t k = 0; k < model[i].size(); ++k) EXPECT_EQ(buffer[k].g[2], model[i][k].g[2]);
    }
    EXPECT_EQ(clistClear("TEMP"), 1);
    EXPECT_EQ(clistCount("TEMP"), 0);
}
