#include "platform/keystore.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "platform/testenv.h"

namespace {

std::string readAll(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeAll(const std::string& file, const std::string& text) {
    std::ofstream(file, std::ios::binary) << text;
}

class KeyStore : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(dir_.path().empty());
        env_.set(kKeyStoreEnv, dir_ / "store");
    }
    TempFolder dir_{"keystore"};
    ScopedEnv env_;
};

}  // namespace

TEST_F(KeyStore, ValuesRoundTripThroughTheFileIgnoringCase) {
    const char* key = "Software\\Corvane\\CYCLES\\0.0";
    const char* texts[] = {"plain",          "",          "with \"quotes\" and \\back\\slashes",
                           "two\nlines\r\n", "tab\there", "# not a comment",
                           "[not a key]",    "a=b",       " blanks at both ends "};
    for (const char* text : texts) {
        ASSERT_EQ(keystoreSetValue(kKeyRootUser, key, "Path", text), kKeyFound) << text;
        std::string got;
        ASSERT_EQ(keystoreGetValue(kKeyRootUser, "software\\CORVANE\\cycles\\0.0", "PATH", &got), kKeyFound);
        EXPECT_EQ(got, text);
    }
    // The default value is the empty name; null names it too.
    ASSERT_EQ(keystoreSetValue(kKeyRootUser, key, nullptr, "dflt"), kKeyFound);
    std::string got;
    EXPECT_EQ(keystoreGetValue(kKeyRootUser, key, "", &got), kKeyFound);
    EXPECT_EQ(got, "dflt");
    EXPECT_EQ(keystoreGetValue(kKeyRootUser, key, "Other", &got), kKeyMissing);
    EXPECT_EQ(got, "");
    // The roots are separate trees.
    EXPECT_EQ(keystoreGetValue(kKeyRootMachine, key, "Path", &got), kKeyMissing);
    EXPECT_EQ(keystoreKeyExists(kKeyRootMachine, key), kKeyMissing);
    EXPECT_EQ(keystoreFile(kKeyRootUser), dir_ / "store/user.keys");
}

TEST_F(KeyStore, SubkeysEnumerateInCreationOrderAndEveryLevelExists) {
    const char* parent = "Software\\Maker";
    for (const char* name : {"Beta", "alpha", "Gamma"}) {
        ASSERT_EQ(keystoreCreateKey(kKeyRootMachine, (std::string(parent) + "\\" + name + "\\1.0").c_str()),
                  kKeyFound);
    }
    EXPECT_EQ(keystoreKeyExists(kKeyRootMachine, "software"), kKeyFound);
    EXPECT_EQ(keystoreKeyExists(kKeyRootMachine, "\\Software\\\\maker\\"), kKeyFound);
    EXPECT_EQ(keystoreSubkeyCount(kKeyRootMachine, parent), 3);
    EXPECT_EQ(keystoreSubkeyCount(kKeyRootMachine, "Software\\Maker\\Beta"), 1);
    EXPECT_EQ(keystoreSubkeyCount(kKeyRootMachine, "Software\\Nobody"), 0);
    std::string name;
    const char* expected[] = {"Beta", "alpha", "Gamma"};
    for (int32_t i = 0; i < 3; ++i) {
        ASSERT_EQ(keystoreSubkeyName(kKeyRootMachine, parent, i, &name), kKeyFound);
        EXPECT_EQ(name, expected[i]);
    }
    EXPECT_EQ(keystoreSubkeyName(kKeyRootMachine, parent, 3, &name), kKeyMissing);
    EXPECT_EQ(keystoreSubkeyName(kKeyRootMachine, parent, -1, &name), kKeyMissing);
    // The empty path is the root: its subkeys are the top levels.
    EXPECT_EQ(keystoreSubkeyCount(kKeyRootMachine, ""), 1);
}

TEST_F(KeyStore, DeletingRemovesValuesAndWholeSubtrees) {
    ASSERT_EQ(keystoreSetValue(kKeyRootUser, "A\\B\\C", "v", "1"), kKeyFound);
    ASSERT_EQ(keystoreSetValue(kKeyRootUser, "A\\B", "w", "2"), kKeyFound);
    ASSERT_EQ(keystoreSetValue(kKeyRootUser, "A\\Bx", "w", "3"), kKeyFound);
    EXPECT_EQ(keystoreDeleteValue(kKeyRootUser, "a\\b\\c", "V"), kKeyFound);
    EXPECT_EQ(keystoreDeleteValue(kKeyRootUser, "A\\B\\C", "v"), kKeyMissing);
    EXPECT_EQ(keystoreKeyExists(kKeyRootUser, "A\\B\\C"), kKeyFound);

    EXPECT_EQ(keystoreDeleteKey(kKeyRootUser, "A\\B"), kKeyFound);
    EXPECT_EQ(keystoreKeyExists(kKeyRootUser, "A\\B"), kKeyMissing);
    EXPECT_EQ(keystoreKeyExists(kKeyRootUser, "A\\B\\C"), kKeyMissing);
    // A sibling whose name begins alike stays.
    std::string got;
    EXPECT_EQ(keystoreGetValue(kKeyRootUser, "A\\Bx", "w", &got), kKeyFound);
    EXPECT_EQ(got, "3");
    EXPECT_EQ(keystoreDeleteKey(kKeyRootUser, "A\\B"), kKeyMissing);
    EXPECT_EQ(keystoreDeleteKey(kKeyRootUser, ""), kKeyBadArgument);
}

TEST_F(KeyStore, AMissingStoreReadsEmptyAndReadingCreatesNothing) {
    std::string got;
    EXPECT_EQ(keystoreKeyExists(kKeyRootUser, "Software"), kKeyMissing);
    EXPECT_EQ(keystoreGetValue(kKeyRootMachine, "Software", "x", &got), kKeyMissing);
    EXPECT_EQ(keystoreSubkeyCount(kKeyRootMachine, "Software"), 0);
    EXPECT_EQ(keystoreDeleteValue(kKeyRootUser, "Software", "x"), kKeyMissing);
    EXPECT_EQ(keystoreDeleteKey(kKeyRootUser, "Software"), kKeyMissing);
    EXPECT_FALSE(std::filesystem::exists(dir_ / "store"));
}

TEST_F(KeyStore, HandWrittenFilesWithCrLfAndCommentsAreRead) {
    std::filesystem::create_directories(dir_ / "store");
    writeAll(dir_ / "store/machine.keys",
             "# comment\r\n\r\n[Software\\Corvane\\MILL\\2.1]  \r\n  @ = \"def\"\r\n\"Path\"=\"/opt/x\"\r\n");
    std::string got;
    EXPECT_EQ(keystoreGetValue(kKeyRootMachine, "Software\\Corvane\\MILL\\2.1", "Path", &got), kKeyFound);
    EXPECT_EQ(got, "/opt/x");
    EXPECT_EQ(keystoreGetValue(kKeyRootMachine, "Software\\Corvane\\MILL\\2.1", nullptr, &got), kKeyFound);
    EXPECT_EQ(got, "def");
    // Levels above a section are keys even when the file names no section for them.
    EXPECT_EQ(keystoreSubkeyName(kKeyRootMachine, "Software\\Corvane", 0, &got), kKeyFound);
    EXPECT_EQ(got, "MILL");
}

TEST_F(KeyStore, ABrokenFileIsReportedAndNeverOverwritten) {
    std::filesystem::create_directories(dir_ / "store");
    const std::string broken[] = {
        "\"Path\"=\"value before any key\"\n",
        "[Software]\nPath=unquoted\n",
        "[Software]\n\"Path\"=\"unterminated\n",
        "[Software]\n\"Path\"=\"bad \\q escape\"\n",
        "[Software\n",
        "[Software]\n\"\"=\"empty name\"\n",
        "[Software]\n\"a\"=\"b\" trailing\n",
    };
    for (const std::string& text : broken) {
        writeAll(dir_ / "store/user.keys", text);
        std::string got;
        EXPECT_EQ(keystoreGetValue(kKeyRootUser, "Software", "Path", &got), kKeyBadFile) << text;
        EXPECT_EQ(keystoreSetValue(kKeyRootUser, "Software", "Path", "new"), kKeyBadFile) << text;
        EXPECT_EQ(keystoreDeleteKey(kKeyRootUser, "Software"), kKeyBadFile) << text;
        EXPECT_EQ(readAll(dir_ / "store/user.keys"), text);
    }
}

TEST_F(KeyStore, BadArgumentsAreRefused) {
    std::string got;
    EXPECT_EQ(keystoreSetValue(0, "A", "n", "v"), kKeyBadArgument);
    EXPECT_EQ(keystoreGetValue(3, "A", "n", &got), kKeyBadArgument);
    EXPECT_EQ(keystoreGetValue(kKeyRootUser, "A", "n", nullptr), kKeyBadArgument);
    EXPECT_EQ(keystoreSetValue(kKeyRootUser, "A", "n", nullptr), kKeyBadArgument);
    EXPECT_EQ(keystoreSetValue(kKeyRootUser, "", "n", "v"), kKeyBadArgument);
    // A line break in a key name could not be read back from its section header.
    EXPECT_EQ(keystoreSetValue(kKeyRootUser, "A\nB", "n", "v"), kKeyBadArgument);
    EXPECT_EQ(keystoreFile(0), "");
    EXPECT_FALSE(std::filesystem::exists(dir_ / "store"));
}

TEST(KeyStoreFolder, FollowsTheOverrideThenXdgThenHome) {
    ScopedEnv env;
    env.set(kKeyStoreEnv, "/tmp/kvtest-keys");
    EXPECT_EQ(keystoreFolder(), "/tmp/kvtest-keys/");
    env.set(kKeyStoreEnv, nullptr);
    env.set("XDG_CONFIG_HOME", "/xdg/config");
    EXPECT_EQ(keystoreFolder(), "/xdg/config/kvcycles/");
    env.set("XDG_CONFIG_HOME", "relative/ignored");
    env.set("HOME", "/home/someone");
    EXPECT_EQ(keystoreFolder(), "/home/someone/.config/kvcycles/");
    EXPECT_EQ(keystoreFile(kKeyRootMachine), "/home/someone/.config/kvcycles/machine.keys");
    env.set("XDG_CONFIG_HOME", nullptr);
    env.set("HOME", nullptr);
    EXPECT_EQ(keystoreFolder(), "");
    std::string got;
    EXPECT_EQ(keystoreGetValue(kKeyRootUser, "A", "n", &got), kKeyNoStore);
    EXPECT_EQ(keystoreSetValue(kKeyRootUser, "A", "n", "v"), kKeyNoStore);
}
