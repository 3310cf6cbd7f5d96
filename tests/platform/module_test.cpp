#include "platform/module.h"

#include <gtest/gtest.h>

#include <limits.h>
#include <stdlib.h>

#include <memory>
#include <string>

// The tests link the static archive, so this code lives in the test executable itself.
TEST(Module, OwnFileIsAnAbsolutePathInItsFolder) {
    std::string file = moduleFileName();
    ASSERT_FALSE(file.empty());
    EXPECT_EQ(file.front(), '/');
    std::string dir = moduleDirectory();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.back(), '/');
    EXPECT_EQ(file.compare(0, dir.size(), dir), 0);
    EXPECT_EQ(file.find('/', dir.size()), std::string::npos);
    // The tests run in a folder of their own, entered after load: the name must still be this program's.
    std::unique_ptr<char, decltype(&free)> self(realpath("/proc/self/exe", nullptr), &free);
    ASSERT_NE(self, nullptr);
    EXPECT_EQ(file, self.get());
    EXPECT_EQ(moduleIsProgram(), 1);
}

TEST(Module, LoadingFailsCleanlyForMissingLibrariesAndEntries) {
    EXPECT_EQ(moduleLoad(nullptr), nullptr);
    EXPECT_EQ(moduleLoad(""), nullptr);
    EXPECT_EQ(moduleLoad("/nonexistent/libnothing.so"), nullptr);
    EXPECT_EQ(moduleEntry(nullptr, "x"), nullptr);
    EXPECT_EQ(moduleUnload(nullptr), 0);

    void* libm = moduleLoad("libm.so.6");
    ASSERT_NE(libm, nullptr);
    EXPECT_NE(moduleEntry(libm, "cos"), nullptr);
    EXPECT_EQ(moduleEntry(libm, "noSuchEntryHere"), nullptr);
    EXPECT_EQ(moduleUnload(libm), 1);
}
