#include "platform/spawn.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/testenv.h"

TEST(Spawn, ExitCodesOfStartedProgramsComeBack) {
    struct {
        const char* line;
        int code;
    } cases[] = {
        {"/bin/true", 0},
        {"true", 0},  // found in PATH
        {"/bin/sh -c \"exit 3\"", 3},
        {"  /bin/sh\t-c   \"exit 4\"  ", 4},
        {"/bin/sh -c \"exit $0\" 5", 5},
        {"/bin/sh -c \"kill -9 $$\"", 128 + 9},
    };
    for (const auto& c : cases) {
        int32_t pid = spawnStart(c.line);
        ASSERT_GT(pid, 0) << c.line;
        int code = -1;
        EXPECT_EQ(spawnWait(pid, &code), 1) << c.line;
        EXPECT_EQ(code, c.code) << c.line;
        EXPECT_EQ(spawnWait(pid, &code), -1) << "waited twice: " << c.line;
    }
}

TEST(Spawn, QuotedWordsArriveWholeAndNoShellReadsTheLine) {
    // Each word checked by the child itself: $# counts, "$1" and "$2" as given.
    const char* line =
        "/bin/sh -c \"[ $# = 3 ] && [ \\\"$1\\\" = 'a b' ] && [ \\\"$2\\\" = '' ] && [ \\\"$3\\\" = 'q\\\"x' "
        "]\" "
        "sh \"a b\" \"\" q\\\"x";
    int code = -1;
    ASSERT_EQ(spawnWait(spawnStart(line), &code), 1);
    EXPECT_EQ(code, 0);

    TempFolder dir("spawn");
    ASSERT_FALSE(dir.path().empty());
    std::string marker = dir / "marker";
    std::string injected = "/bin/true $(touch " + marker + ") `touch " + marker + "`; touch " + marker;
    ASSERT_EQ(spawnWait(spawnStart(injected.c_str()), &code), 1);
    EXPECT_EQ(code, 0);
    EXPECT_FALSE(std::filesystem::exists(marker));
}

TEST(Spawn, FailuresToStartGiveZero) {
    for (const char* line : {"", "   ", "\"\" x", "/nonexistent/program", "no-such-program-kvtest"}) {
        EXPECT_EQ(spawnStart(line), 0) << line;
    }
    EXPECT_EQ(spawnStart(nullptr), 0);
    EXPECT_EQ(spawnWait(0, nullptr), -1);
    EXPECT_EQ(spawnWait(-5, nullptr), -1);
}
