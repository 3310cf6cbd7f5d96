#include "pocket/pocketerr.h"

// The allocation controls only: another file of the binary holds the hooks.
#define KV_ALLOCFAIL_CONTROLS_ONLY
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "allocfail.h"
#include "pocket/ccp.h"
#include "kernel/cycle/testrecord.h"
#include "pocket_util.h"

TEST(PocketError, CodesMapToHostNumbersAndTheLastError) {
    const struct {
        int32_t code;
        const char* sent;  // null: nothing sent
        int32_t last;      // last error afterwards (starting from 0)
    } cases[] = {
        {3199, "101 1511", 3199}, {3200, "101 1511", 0},
        {3123, "101 1522", 3123}, {3256, nullptr, 0},
        {3210, nullptr, 0},       {0, nullptr, 0},
        {3029, "101 1500", 3029}, {3020, "101 1103", 3020},
        {3252, "101 1516", 0},    {3001, "101 1101", 3001},
        {2999, "101 1511", 0},    {3000, "101 1511", 3000},
        {3040, "101 1511", 3040}, {0x10000 + 3011, "101 1102", 3011},
    };
    for (const auto& c : cases) {
        PocketErrors errors;  // a state reset: no call counted yet
        EXPECT_EQ(pocketErrorCalls(), 0) << c.code;
        pocketError(c.code);
        EXPECT_EQ(pocketErrorCalls(), 1) << c.code;  // silent codes count as calls too
        if (c.sent) {
            ASSERT_EQ(PocketErrors::texts().size(), 1u) << c.code;
            EXPECT_EQ(PocketErrors::texts()[0], c.sent) << c.code;
        } else {
            EXPECT_TRUE(PocketErrors::texts().empty()) << c.code;
        }
        EXPECT_EQ(pocketLastError(), c.last) << c.code;
    }
}

TEST(PocketState, FixedTablesRefuseWhatDoesNotFit) {
    PocketErrors errors;
    EXPECT_EQ(pocketAllowanceSet(kPocketMaxAllowances - 1, 2.5), 1);
    EXPECT_EQ(pocketAllowanceGet(kPocketMaxAllowances - 1), 2.5);
    EXPECT_EQ(pocketAllowanceSet(kPocketMaxAllowances, 1.0), 0);
    EXPECT_EQ(pocketAllowanceSet(-1, 1.0), 0);
    EXPECT_EQ(pocketRingRow(kPocketRingRows), nullptr);
    EXPECT_EQ(pocketRingRow(-1), nullptr);
    EXPECT_EQ(pocketRingRowAppend(kPocketRingRows, 1), 0);
    EXPECT_EQ(pocketRingRowAppend(-1, 1), 0);
    EXPECT_EQ(pocketAllowanceGet(kPocketMaxAllowances) + pocketAllowanceGet(-1), 0.0);
    pocketAllowanceSet(0, 1.5);
    EXPECT_EQ(pocketAllowanceGet(0), 1.5);
    // A row that cannot be had is refused like one outside the table, and made on the next call.
    pocketStateFree();
    allocfail::arm(1);
    EXPECT_EQ(pocketRingRow(7), nullptr);
    allocfail::disarm();
    EXPECT_NE(pocketRingRow(7), nullptr);
    EXPECT_EQ(PocketErrors::texts(), std::vector<std::string>(7, "101 1103"));
    PocketErrors::texts().clear();

    uint32_t* row = pocketRingRow(kPocketRingRows - 1);
    ASSERT_NE(row, nullptr);
    for (int i = 1; i < kPocketRingColumns; ++i)
        ASSERT_EQ(pocketRingRowAppend(kPocketRingRows - 1, i), 1) << i;
    EXPECT_EQ(pocketRingRowAppend(kPocketRingRows - 1, 1), 0);
    EXPECT_EQ(row[0], static_cast<uint32_t>(kPocketRingColumns - 1));
    EXPECT_EQ(row[kPocketRingColumns - 1], static_cast<uint32_t>(kPocketRingColumns - 1));
    EXPECT_EQ(pocketRingRow(kPocketRingRows - 1), row);  // kept and reused
    EXPECT_EQ(PocketErrors::texts(), std::vector<std::string>{"101 1103"});
    pocketKernelResetState();
    EXPECT_EQ(pocketAllowanceGet(kPocketMaxAllowances - 1), 0.0);  // cleared, not merely small
}
