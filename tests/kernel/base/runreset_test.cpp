#include "kernel/base/runreset.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

std::vector<std::string>& calls() {
    static std::vector<std::string> log;
    return log;
}

template <char Tag>
void note() {
    calls().push_back(std::string(1, Tag));
}

}  // namespace

TEST(RunReset, RunsHigherRanksFirstThenByNameWhateverTheRegistrationOrder) {
    // Registered out of order, one of them twice: each runs once, in rank-then-name order.
    const struct {
        int rank;
        const char* name;
        void (*reset)();
    } adds[] = {
        {kRunResetGeometry, "testB", note<'b'>},  {kRunResetCycles, "testZ", note<'z'>},
        {kRunResetGeometry, "testA", note<'a'>},  {kRunResetCollision - 1, "testC", note<'c'>},
        {kRunResetCollision, "testD", note<'d'>}, {kRunResetGeometry, "testA", note<'a'>},
    };
    const int before = runResetCount();
    for (const auto& a : adds) runResetAdd(a.rank, a.name, a.reset);
    EXPECT_EQ(runResetCount(), before + 5);
    calls().clear();
    runResetAll();
    EXPECT_EQ(calls(), (std::vector<std::string>{"z", "d", "c", "a", "b"}));
}

// Load-lifetime state is reset at unload (and by tests) only: never by a run's start.
TEST(RunReset, LoadResetsRunApartFromTheRunsOnes) {
    const int runs = runResetCount(), loads = loadResetCount();
    loadResetAdd(kRunResetBase, "testLoadY", note<'y'>);
    loadResetAdd(kRunResetCycles, "testLoadX", note<'x'>);
    loadResetAdd(kRunResetBase, "testLoadY", note<'y'>);
    EXPECT_EQ(loadResetCount(), loads + 2);
    EXPECT_EQ(runResetCount(), runs);
    calls().clear();
    runResetAll();
    EXPECT_TRUE(std::find(calls().begin(), calls().end(), "x") == calls().end());
    calls().clear();
    loadResetAll();
    EXPECT_EQ(calls(), (std::vector<std::string>{"x", "y"}));
}
