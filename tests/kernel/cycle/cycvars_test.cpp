// A record's variables as the cycles read them: text when set, empty otherwise; the list keeps no
// empty value, so an empty text sets nothing.
#include <gtest/gtest.h>

#include "kernel/base/kvx/kvlist.h"
#include "kernel/cycle/cycle.h"

TEST(CycleVariables, SetEmptyAndMissingAreToldApart) {
    CycleRecord record{};
    record.vars = kvListSet(record.vars, "NCOutp", "true", 0);
    record.vars = kvListSet(record.vars, "blank", "", 0);
    const struct {
        const char* name;
        const char* text;
        bool set;
    } cases[] = {{"NCOutp", "true", true}, {"blank", "", false}, {"missing", "", false}};
    for (const auto& c : cases) {
        EXPECT_EQ(cycleVariable(&record, c.name), c.text) << c.name;
        EXPECT_EQ(cycleHasVariable(&record, c.name), c.set) << c.name;
    }
    kvListFree(record.vars);
}
