#include "kernel/base/appdata/appdata.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/keystore.h"
#include "platform/spawn.h"
#include "platform/testenv.h"

namespace {

void writeAll(const std::string& file, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(file).parent_path());
    std::ofstream(file, std::ios::binary) << text;
}

// Every settings folder of the tests lives in one fresh folder: the user's real
// key store and data folders are never read or written.
class AppData : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(dir_.path().empty());
        env_.set(kKeyStoreEnv, dir_ / "keys");
        env_.set("XDG_DATA_HOME", dir_ / "data");
        env_.set("XDG_DATA_DIRS", dir_ / "common");
        env_.set("TEMP", dir_ / "envtemp");
        appDataResetState();
    }
    void TearDown() override { appDataResetState(); }

    static void machineValue(const std::string& key, const char* name, const char* value) {
        ASSERT_EQ(keystoreSetValue(kKeyRootMachine, key.c_str(), name, value), kKeyFound);
    }
    static void userValue(const std::string& key, const char* name, const char* value) {
        ASSERT_EQ(keystoreSetValue(kKeyRootUser, key.c_str(), name, value), kKeyFound);
    }

    TempFolder dir_{"appdata"};
    ScopedEnv env_;
    ComAppData app_{"CYCLES", "0.0"};
    char buf_[512] = {};
};

const char* const kAppKey = "Software\\Corvane\\CYCLES\\0.0";
const char* const kConfigKey = "Software\\Corvane\\CYCLES\\0.0\\Configuration";
const char* const kLaunchers = "Software\\Corvane\\Vestibar\\0.0\\Applications";

}  // namespace

TEST(AppDataText, BuildCommandLinePlacesOrQuotesTheArgument) {
    ComAppData app("CYCLES", "0.0");
    struct {
        const char* pattern;
        const char* argument;
        const char* line;
    } cases[] = {
        {"run %1", "x", "run x"},
        {"run", "x", "run \"x\""},
        {"", "", ""},
        {"run", "", "run"},
        {"run", nullptr, "run"},
        {"a %1 b %1", "y", "a y b y"},
        {"100% %2 %1", "z", "100% %2 z"},
        {"run %", "x", "run % \"x\""},
    };
    for (const auto& c : cases) {
        char out[64] = "garbage";
        EXPECT_EQ(app.buildCommandLine(out, sizeof out, c.pattern, c.argument), 0) << c.pattern;
        EXPECT_STREQ(out, c.line) << c.pattern;
    }
    // A command line that does not fit is not cut into some other command.
    char small[8] = "garbage";
    EXPECT_EQ(app.buildCommandLine(small, sizeof small, "run %1", "long"), kAppNotFound);
    EXPECT_STREQ(small, "");
    EXPECT_EQ(app.buildCommandLine(small, sizeof small, "run %1", "abcd"), kAppNotFound);  // 8 + terminator
    EXPECT_EQ(app.buildCommandLine(small, sizeof small, "run %1", "abc"), 0);
    EXPECT_STREQ(small, "run abc");
    EXPECT_EQ(app.buildCommandLine(nullptr, 8, "run", "x"), kAppBadArgument);
}

TEST(AppDataText, TrimBlanksDropsBlanksAndALoneZero) {
    struct {
        const char* in;
        const char* out;
    } cases[] = {
        {" 0 ", ""}, {" 1 ", "1"}, {"\t a b \t", "a b"}, {"0", ""}, {"00", "00"}, {" 0.0 ", "0.0"},
        {"   ", ""}, {"", ""},     {"SP2", "SP2"},
    };
    for (const auto& c : cases) {
        char text[32];
        strcpy(text, c.in);
        trimBlanks(text);
        EXPECT_STREQ(text, c.out) << "[" << c.in << "]";
    }
    trimBlanks(nullptr);
}

TEST_F(AppData, SamePathComparesFoldersIgnoringCase) {
    struct {
        const char* a;
        const char* b;
        int result;
    } cases[] = {
        {"/Opt/Cycles/BIN/kvcycles.so", "/opt/cycles/bin/libkvcycles.so", 0},
        {"/opt/cycles/bin/", "/opt/cycles/bin/libkvcycles.so", 0},
        {"C:\\Corvane\\CYCLES\\bin\\", "c:/corvane/cycles/bin/x.dll", 0},
        // A folder is not the start of a longer folder name.
        {"/opt/cyc/x", "/opt/cycles/x", kAppNotFound},
        {"/opt/cycles/bin/", "/opt/cycles/bin64/lib.so", kAppNotFound},
        // Without a separator there is no folder to compare.
        {"kvcycles.so", "/opt/cycles/kvcycles.so", kAppNotFound},
        {"/opt/cycles/kvcycles.so", "kvcycles.so", kAppNotFound},
        {"", "", kAppNotFound},
        {"/a/b/", "/a", kAppNotFound},
    };
    for (const auto& c : cases) EXPECT_EQ(app_.samePath(c.a, c.b), c.result) << c.a << " | " << c.b;
    EXPECT_EQ(app_.samePath(nullptr, "/x/y"), kAppNotFound);

    // Two spellings of one folder: the same file is found through both.
    writeAll(dir_ / "real/lib.so", "0123456789");
    std::filesystem::create_directory_symlink(dir_ / "real", dir_ / "link");
    EXPECT_EQ(app_.samePath((dir_ / "link/lib.so").c_str(), (dir_ / "real/lib.so").c_str()), 0);
    writeAll(dir_ / "other/lib.so", "different length");
    EXPECT_EQ(app_.samePath((dir_ / "other/lib.so").c_str(), (dir_ / "real/lib.so").c_str()), kAppNotFound);
}

TEST_F(AppData, OperationsNeedTheirKeys) {
    ComAppData none(nullptr, "");
    ComAppData releaseOnly("", "0.0");
    EXPECT_STREQ(none.appKey(), "");
    EXPECT_EQ(none.getInstallPath(buf_, sizeof buf_), kAppNoKeys);
    EXPECT_EQ(none.getServicePack(buf_, sizeof buf_), kAppNoKeys);
    EXPECT_EQ(none.createConfigFiles(), kAppNoKeys);
    EXPECT_EQ(none.writeUserConfig(), kAppNoKeys);
    EXPECT_EQ(none.setConfigValue("a", "b", 1), kAppNoKeys);
    EXPECT_EQ(none.deleteConfigValue("a"), kAppNoKeys);
    EXPECT_EQ(none.registerAppUser("x", "d", "/bin/true"), kAppNoKeys);
    EXPECT_EQ(none.getLauncherAppPath("x", buf_, sizeof buf_), kAppNoRelease);
    EXPECT_EQ(none.unregisterApp("x"), kAppNoRelease);
    EXPECT_EQ(none.enumAppsUser(), kAppNoRelease);
    EXPECT_EQ(none.findAppUser(buf_, 10, buf_, 10, buf_, 10), kAppNoRelease);
    EXPECT_EQ(none.getConfigFilePath(kAppCfgUser), 0);
    EXPECT_EQ(releaseOnly.getInstallPath(buf_, sizeof buf_), kAppNoKeys);
    EXPECT_EQ(releaseOnly.enumAppsMachine(), 0);
    EXPECT_EQ(app_.getInstallPath(nullptr, 10), kAppBadArgument);
    EXPECT_EQ(app_.getLanguage(buf_, 0), kAppBadArgument);

    // Keys are cut to their fields; an empty setting stays empty.
    std::string longKey(100, 'K');
    ComAppData cut(longKey.c_str(), "0123456789abcdefXYZ");
    EXPECT_EQ(std::string(cut.appKey()), longKey.substr(0, 79));
    EXPECT_STREQ(cut.releaseKey(), "0123456789abcde");
    cut.setKeys("A", nullptr);
    EXPECT_STREQ(cut.appKey(), "A");
    EXPECT_STREQ(cut.releaseKey(), "");
}

TEST_F(AppData, GetLanguageFallsBackAndKeepsEnglish) {
    EXPECT_EQ(app_.getLanguage(buf_, sizeof buf_), kAppNoEntry);
    EXPECT_STREQ(buf_, "english");

    struct {
        int32_t root;
        std::string key;
        const char* language;
    } steps[] = {
        // Each later step is found before the earlier ones.
        {kKeyRootMachine, "Software\\Corvane\\common\\0.0\\Configuration", "machine-common"},
        {kKeyRootUser, "Software\\Corvane\\common\\0.0\\Configuration", "user-common"},
        {kKeyRootMachine, kConfigKey, "machine-app"},
        {kKeyRootUser, kConfigKey, "user-app"},
    };
    for (const auto& s : steps) {
        ASSERT_EQ(keystoreSetValue(s.root, s.key.c_str(), "Language", s.language), kKeyFound);
        EXPECT_EQ(app_.getLanguage(buf_, sizeof buf_), 0);
        EXPECT_STREQ(buf_, s.language);
    }
    // Without an application key only the common setting counts.
    ComAppData common("", "0.0");
    EXPECT_EQ(common.getLanguage(buf_, sizeof buf_), 0);
    EXPECT_STREQ(buf_, "user-common");
    ComAppData noRelease("CYCLES", "");
    EXPECT_EQ(noRelease.getLanguage(buf_, 4), kAppNoRelease);
    EXPECT_STREQ(buf_, "eng");
}

TEST_F(AppData, InstallPathAndServicePackResults) {
    EXPECT_EQ(app_.getInstallPath(buf_, sizeof buf_), kAppNoEntry);
    EXPECT_EQ(app_.getServicePack(buf_, sizeof buf_), kAppNoEntry);
    machineValue(kAppKey, "Path", "");
    strcpy(buf_, "x");
    EXPECT_EQ(app_.getInstallPath(buf_, sizeof buf_), kAppEmptyPath);
    EXPECT_STREQ(buf_, "");
    machineValue(kAppKey, "Path", "/opt/Corvane/CYCLES/0.0/bin/");
    EXPECT_EQ(app_.getInstallPath(buf_, sizeof buf_), 0);
    EXPECT_STREQ(buf_, "/opt/Corvane/CYCLES/0.0/bin/");
    EXPECT_EQ(app_.getInstallPath(buf_, 5), 0);
    EXPECT_STREQ(buf_, "/opt");

    struct {
        const char* stored;
        int result;
        const char* pack;
    } packs[] = {{" SP2\t", 0, "SP2"}, {" 0 ", kAppEmptyPack, ""}, {"", kAppEmptyPack, ""}};
    for (const auto& p : packs) {
        machineValue(kAppKey, "ServicePack", p.stored);
        strcpy(buf_, "x");
        EXPECT_EQ(app_.getServicePack(buf_, sizeof buf_), p.result) << p.stored;
        EXPECT_STREQ(buf_, p.pack);
    }
}

TEST_F(AppData, CyclesCfgWithOnlyTheApplicationKeyLeavesTheLoadTimeKeys) {
    std::string module = dir_ / "mod/libkvcycles.so";
    writeAll(dir_ / "mod/cycles.cfg", "applicationKey := \"OTHER\"\n");
    readCyclesCfg(module.c_str());
    EXPECT_STREQ(appDataGlobal().appKey(), "CYCLES");
    EXPECT_STREQ(appDataGlobal().releaseKey(), "0.0");
    EXPECT_FALSE(std::filesystem::exists(dir_ / "keys"));  // the search only reads

    writeAll(dir_ / "mod/cycles.cfg", "applicationKey := \"MILL\"\r\nreleaseKey := \"2.1\"\r\n");
    readCyclesCfg(module.c_str());
    EXPECT_STREQ(appDataGlobal().appKey(), "MILL");
    EXPECT_STREQ(appDataGlobal().releaseKey(), "2.1");

    // Without any settings file nothing changes and nothing fails.
    appDataResetState();
    readCyclesCfg((dir_ / "nowhere/libkvcycles.so").c_str());
    readCyclesCfg("libkvcycles.so");
    readCyclesCfg(nullptr);
    EXPECT_STREQ(appDataGlobal().appKey(), "CYCLES");
}

TEST_F(AppData, TheKeyStoreEntryHoldingTheModuleGivesTheKeys) {
    std::string module = dir_ / "Corvane/TURN/3.0/bin/libkvcycles.so";
    writeAll(module, "");
    // Earlier entries: a folder that merely begins like the module's, one without a path.
    machineValue("Software\\Corvane\\MILL\\2.1", "Path", (dir_ / "Corvane/TURN/3.0/bi/").c_str());
    machineValue("Software\\Corvane\\MILL\\2.2", "Language", "x");
    machineValue("Software\\Corvane\\TURN\\3.0", "Path", (dir_ / "corvane/turn/3.0/BIN/").c_str());
    writeAll(dir_ / "Corvane/TURN/3.0/bin/cycles.cfg", "releaseKey := \"9.9\"\n");
    readCyclesCfg(module.c_str());
    EXPECT_STREQ(appDataGlobal().appKey(), "TURN");
    EXPECT_STREQ(appDataGlobal().releaseKey(), "3.0");
}

TEST_F(AppData, WriteUserConfigReadsBackThroughKvListLoad) {
    auto before = std::filesystem::current_path();
    EXPECT_EQ(app_.setConfigValue("toolPath", "/tools/a b", 0), 0);
    EXPECT_EQ(app_.setConfigValue("quote", "say \"hi\"\\", 2), 0);
    EXPECT_EQ(app_.writeUserConfig(), 2);
    EXPECT_EQ(std::filesystem::current_path(), before);

    std::string file = dir_ / "data/Corvane/CYCLES/0.0/CYCLES.cfg";
    KvList* list = kvListLoad(nullptr, file.c_str(), 21);
    char* tool = kvListGet(list, "toolPath", nullptr);
    char* quote = kvListGet(list, "quote", nullptr);
    ASSERT_NE(tool, nullptr);
    ASSERT_NE(quote, nullptr);
    EXPECT_STREQ(tool, "/tools/a b");
    EXPECT_STREQ(quote, "say \"hi\"\\");
    free(tool);
    free(quote);
    kvListFree(list);

    // A new object finds the file as the user configuration.
    ComAppData again("CYCLES", "0.0");
    EXPECT_EQ(again.getConfigFilePath(kAppCfgUser), 2);
    EXPECT_EQ(again.getConfigValue("toolPath", buf_, sizeof buf_), 10);
    EXPECT_STREQ(buf_, "/tools/a b");

    env_.set("XDG_DATA_HOME", nullptr);
    env_.set("HOME", nullptr);
    EXPECT_EQ(app_.writeUserConfig(), 0);
}

TEST_F(AppData, ConfigFilesLoadIntoTheirLists) {
    machineValue(kAppKey, "Path", (dir_ / "install/bin/cycles").c_str());
    writeAll(dir_ / "install/bin/CYCLES.cfg", "a := \"install\"\nb := \"install\"\n");
    writeAll(dir_ / "common/Corvane/CYCLES/0.0/CYCLES.cfg", "b := \"common\"\nc := \"common\"\n");
    writeAll(dir_ / "data/Corvane/CYCLES/0.0/CYCLES.cfg", "c := \"user\"\n");
    EXPECT_EQ(app_.getConfigFilePath(kAppCfgInstall), 2);
    EXPECT_EQ(app_.getConfigFilePath(kAppCfgCommon), 2);
    EXPECT_EQ(app_.getConfigFilePath(kAppCfgUser), 1);
    EXPECT_EQ(app_.getConfigFilePath(11), 0);

    ComAppData all("CYCLES", "0.0");
    EXPECT_EQ(all.createConfigFiles(), 0);
    struct {
        const char* name;
        const char* value;
    } lookups[] = {{"a", "install"}, {"b", "common"}, {"c", "user"}};
    for (const auto& l : lookups) {
        EXPECT_EQ(all.getConfigValue(l.name, buf_, sizeof buf_), int(strlen(l.value)));
        EXPECT_STREQ(buf_, l.value);
    }
    strcpy(buf_, "x");
    EXPECT_EQ(all.getConfigValue("missing", buf_, sizeof buf_), 0);
    EXPECT_STREQ(buf_, "");
}

TEST_F(AppData, ConfigValuesAreLookedUpInOrder) {
    // Each step adds a source that is looked at before the previous ones.
    app_.setLocalValue("v", "local");
    EXPECT_EQ(app_.getConfigValue("v", buf_, sizeof buf_), 5);
    EXPECT_STREQ(buf_, "local");
    machineValue(kConfigKey, "v", "machine");
    EXPECT_EQ(app_.getConfigValue("v", buf_, sizeof buf_), 7);
    EXPECT_STREQ(buf_, "machine");
    app_.setConfigValue("v", "userlist", 0);
    EXPECT_EQ(app_.getConfigValue("v", buf_, sizeof buf_), 8);
    EXPECT_STREQ(buf_, "userlist");
    EXPECT_EQ(app_.setConfigValue("v", "userstore", 1), 0);
    EXPECT_EQ(app_.getConfigValue("v", buf_, 5), 4);
    EXPECT_STREQ(buf_, "user");

    // Deleting takes the user's list entry and the user's stored value.
    EXPECT_EQ(app_.deleteConfigValue("v"), 0);
    EXPECT_EQ(app_.getConfigValue("v", buf_, sizeof buf_), 7);
    EXPECT_EQ(app_.deleteConfigValue("v"), kAppNoEntry);
}

TEST_F(AppData, DerivedFoldersComeFromTheInstallPath) {
    machineValue(kAppKey, "Path", "/opt/Corvane/CYCLES/0.0/bin/");
    EXPECT_EQ(app_.getConfigValue("helpPath", buf_, sizeof buf_), 27);
    EXPECT_STREQ(buf_, "/opt/Corvane/CYCLES/doc/0.0");
    EXPECT_EQ(app_.getConfigValue("profilePath", buf_, sizeof buf_), 32);
    EXPECT_STREQ(buf_, "/opt/Corvane/CYCLES/profiles/0.0");
    // Too long for the buffer: the configured value is looked for instead.
    app_.setLocalValue("helpPath", "/h");
    EXPECT_EQ(app_.getConfigValue("helpPath", buf_, 20), 2);
    EXPECT_STREQ(buf_, "/h");
    std::string temp = dir_ / "data/Corvane/CYCLES/0.0/temp/";
    EXPECT_EQ(app_.getConfigValue("tempDir", buf_, sizeof buf_), int(temp.size()));
    EXPECT_EQ(std::string(buf_), temp);
}

TEST_F(AppData, TempFoldersAreMadeByAbsolutePath) {
    auto before = std::filesystem::current_path();
    EXPECT_EQ(app_.getTempDir(buf_, sizeof buf_), 0);
    EXPECT_EQ(std::string(buf_), dir_ / "data/Corvane/CYCLES/0.0/temp/");
    EXPECT_TRUE(std::filesystem::is_directory(buf_));
    EXPECT_EQ(std::filesystem::current_path(), before);

    // The user folder does not fit: TEMP as it is.
    std::string data = dir_ / "data";
    int32_t tight = int32_t(data.size() + 6 + 3 + 17);
    EXPECT_EQ(app_.getTempDir(buf_, tight), 0);
    EXPECT_EQ(std::string(buf_), dir_ / "envtemp");
    ComAppData none("", "");
    EXPECT_EQ(none.getTempDir(buf_, sizeof buf_), 0);
    EXPECT_EQ(std::string(buf_), dir_ / "envtemp");

    // Nothing fits or TEMP is not set: the last resort in the current folder, with the failure.
    env_.set("TEMP", nullptr);
    EXPECT_EQ(none.getTempDir(buf_, sizeof buf_), kAppNoKeys);
    EXPECT_STREQ(buf_, "ad_temp");
    EXPECT_EQ(app_.getTempDir(buf_, tight), kAppNotFound);
    EXPECT_STREQ(buf_, "ad_temp");
    EXPECT_TRUE(std::filesystem::is_directory("ad_temp"));
    std::filesystem::remove("ad_temp");
}

TEST_F(AppData, EnvTempDirAddsASeparatorThatMustFit) {
    env_.set("TEMP", "/tmp/kv");
    EXPECT_EQ(app_.getEnvTempDir(buf_, sizeof buf_), 0);
    EXPECT_STREQ(buf_, "/tmp/kv/");
    char exact[9];
    EXPECT_EQ(app_.getEnvTempDir(exact, 9), 0);
    EXPECT_STREQ(exact, "/tmp/kv/");
    EXPECT_EQ(app_.getEnvTempDir(exact, 8), kAppNotFound);  // the separator would overrun
    env_.set("TEMP", "");
    EXPECT_EQ(app_.getEnvTempDir(buf_, sizeof buf_), kAppNotFound);
    env_.set("TEMP", nullptr);
    EXPECT_EQ(app_.getEnvTempDir(buf_, sizeof buf_), kAppNotFound);
}

TEST_F(AppData, LauncherEntriesRegisterEnumerateAndGo) {
    EXPECT_EQ(app_.enumAppsUser(), 0);
    EXPECT_EQ(app_.findAppUser(buf_, 64, buf_ + 64, 64, buf_ + 128, 64), kAppEnumEnd);
    EXPECT_EQ(app_.registerAppUser("Viewer", "Corvane Viewer", "/usr/bin/view"), 0);
    EXPECT_EQ(app_.registerAppUser("Editor", "", "/usr/bin/edit %1"), 0);
    EXPECT_EQ(app_.registerAppMachine("Viewer", "machine viewer", "/opt/view"), 0);
    EXPECT_EQ(app_.registerAppUser("", "x", "y"), kAppNoEntry);
    EXPECT_EQ(app_.enumAppsUser(), 2);
    EXPECT_EQ(app_.enumAppsMachine(), 1);

    char name[16], value[32], path[8];
    EXPECT_EQ(app_.findAppUser(name, sizeof name, value, sizeof value, path, sizeof path), 0);
    EXPECT_STREQ(name, "Viewer");
    EXPECT_STREQ(value, "Corvane Viewer");
    EXPECT_STREQ(path, "/usr/bi");  // cut to its buffer
    EXPECT_EQ(app_.findNextApp(name, sizeof name, value, sizeof value, path, sizeof path), 0);
    EXPECT_STREQ(name, "Editor");
    EXPECT_STREQ(value, "");
    EXPECT_EQ(app_.findNextApp(name, sizeof name, value, sizeof value, path, sizeof path), kAppEnumEnd);
    EXPECT_EQ(app_.findNextApp(name, sizeof name, value, sizeof value, path, sizeof path), kAppEnumEnd);

    // The user's entry comes before the machine's.
    EXPECT_EQ(app_.getLauncherAppPath("viewer", buf_, sizeof buf_), 0);
    EXPECT_STREQ(buf_, "/usr/bin/view");
    EXPECT_EQ(app_.getLauncherAppPath("Nothing", buf_, sizeof buf_), kAppNoEntry);

    // An empty name never removes the whole Applications key.
    EXPECT_EQ(app_.unregisterApp(""), kAppNoEntry);
    EXPECT_EQ(app_.enumAppsUser(), 2);
    EXPECT_EQ(app_.unregisterApp("Viewer"), 0);
    EXPECT_EQ(app_.unregisterApp("Viewer"), kAppNoEntry);
    EXPECT_EQ(app_.getLauncherAppPath("Viewer", buf_, sizeof buf_), 0);
    EXPECT_STREQ(buf_, "/opt/view");
}

TEST_F(AppData, OpenCommandsComeFromFileTypesWithVariablesExpanded) {
    env_.set("KVTEST_TOOLS", "/opt/tools");
    EXPECT_EQ(app_.getOpenCommand(".kvx", buf_, sizeof buf_), kAppNotFound);

    // The type named by the extension in the machine's classes.
    machineValue("Software\\Classes\\.kvx", nullptr, "kvxdoc");
    machineValue("Software\\Classes\\kvxdoc\\shell\\open\\command", nullptr, "%KVTEST_TOOLS%/kvview %1");
    EXPECT_EQ(app_.getOpenCommand(".kvx", buf_, sizeof buf_), 0);
    EXPECT_STREQ(buf_, "/opt/tools/kvview %1");
    EXPECT_EQ(app_.getOpenCommand(".kvx", buf_, 10), kAppNotFound);  // never cut
    EXPECT_STREQ(buf_, "");

    // "<ext>file" in the classes, the user's first.
    userValue("Software\\Classes\\pofFile\\shell\\open\\command", nullptr, "/usr/bin/pofview");
    EXPECT_EQ(app_.getOpenCommand(".pof", buf_, sizeof buf_), 0);
    EXPECT_STREQ(buf_, "/usr/bin/pofview");

    // A launcher name that begins with "." falls back to the open command.
    EXPECT_EQ(app_.getLauncherAppPath(".kvx", buf_, sizeof buf_), 0);
    EXPECT_STREQ(buf_, "/opt/tools/kvview %1");
    EXPECT_EQ(app_.getLauncherAppPath(".none", buf_, sizeof buf_), kAppNoEntry);
}

TEST_F(AppData, ProgramsAreStartedAndWaitedFor) {
    EXPECT_EQ(app_.startProcessAndWait("/bin/true"), 0);
    EXPECT_EQ(app_.startProcessAndWait("/nonexistent/program"), kAppNotFound);
    EXPECT_EQ(app_.startProcess("/nonexistent/program"), 0);

    // The launched program gets the argument in quotes; it writes it into a file to show it ran.
    std::string out = dir_ / "launched";
    std::string command = "/bin/sh -c \"echo \\\"$1\\\" > " + out + "\" sh";
    ASSERT_EQ(app_.registerAppUser("Echo", "", command.c_str()), 0);
    int32_t pid = 0;
    EXPECT_EQ(app_.launchByName("Missing", "Echo", "a b", &pid), 0);
    ASSERT_GT(pid, 0);
    int code = -1;
    EXPECT_EQ(spawnWait(pid, &code), 1);
    EXPECT_EQ(code, 0);
    std::ifstream in(out);
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "a b");
    EXPECT_EQ(app_.launchByName(nullptr, nullptr, "x", &pid), kAppNotFound);
    EXPECT_EQ(app_.launchByName("Missing", nullptr, "x", &pid), kAppNoEntry);

    EXPECT_EQ(app_.showAbout(nullptr), kAppNotFound);
    EXPECT_EQ(app_.showAbout("x"), kAppNotFound);
    ASSERT_EQ(app_.registerAppMachine("About Corvane", "", "/bin/true"), 0);
    EXPECT_EQ(app_.showAbout("CYCLES"), 0);
}
