#include "platform/userdirs.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/testenv.h"

TEST(UserDirs, DataFoldersFollowXdgAndHome) {
    ScopedEnv env;
    env.set("HOME", "/home/u");
    env.set("XDG_DATA_HOME", "/xdg/data");
    env.set("XDG_CONFIG_HOME", "/xdg/config");
    EXPECT_EQ(userdirsUserData(), "/xdg/data");
    EXPECT_EQ(userdirsUserConfig(), "/xdg/config");
    env.set("XDG_DATA_HOME", "relative");
    env.set("XDG_CONFIG_HOME", "");
    EXPECT_EQ(userdirsUserData(), "/home/u/.local/share");
    EXPECT_EQ(userdirsUserConfig(), "/home/u/.config");
    env.set("XDG_DATA_HOME", nullptr);
    env.set("HOME", nullptr);
    EXPECT_EQ(userdirsUserData(), "");

    struct {
        const char* dirs;
        const char* common;
    } cases[] = {
        {nullptr, "/usr/local/share"}, {"", "/usr/local/share"}, {"/srv/share:/usr/share", "/srv/share"},
        {"rel:/second", "/second"},    {"::/third:", "/third"},  {"rel", "/usr/local/share"},
    };
    for (const auto& c : cases) {
        env.set("XDG_DATA_DIRS", c.dirs);
        EXPECT_EQ(userdirsCommonData(), c.common) << (c.dirs ? c.dirs : "(unset)");
    }
}

TEST(UserDirs, MakePathCreatesEveryLevelAndLeavesTheCurrentFolder) {
    TempFolder dir("userdirs");
    ASSERT_FALSE(dir.path().empty());
    auto before = std::filesystem::current_path();
    std::string deep = dir / "a/b/c/";
    EXPECT_EQ(userdirsMakePath(deep.c_str()), 1);
    EXPECT_TRUE(std::filesystem::is_directory(dir / "a/b/c"));
    EXPECT_EQ(userdirsMakePath(deep.c_str()), 1);  // existing is fine
    EXPECT_EQ(std::filesystem::current_path(), before);

    std::ofstream(dir / "file") << "x";
    EXPECT_EQ(userdirsMakePath((dir / "file").c_str()), 0);
    EXPECT_EQ(userdirsMakePath((dir / "file/below").c_str()), 0);
    EXPECT_EQ(userdirsMakePath(""), 0);
    EXPECT_EQ(userdirsMakePath(nullptr), 0);
}

TEST(UserDirs, ExpandVarsReplacesOnlySetVariables) {
    ScopedEnv env;
    env.set("KVTEST_A", "va");
    env.set("KVTEST_EMPTY", "");
    env.set("KVTEST_UNSET", nullptr);
    struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"%KVTEST_A%\\bin\\x %1", "va\\bin\\x %1"},
        {"%KVTEST_A%%KVTEST_A%", "vava"},
        {"[%KVTEST_EMPTY%]", "[]"},
        {"%KVTEST_UNSET%", "%KVTEST_UNSET%"},
        {"%KVTEST_UNSET% and %KVTEST_A%", "%KVTEST_UNSET% and va"},
        {"100%", "100%"},
        {"%%", "%%"},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(userdirsExpandVars(c.in), c.out) << c.in;
    EXPECT_EQ(userdirsExpandVars(nullptr), "");
}
