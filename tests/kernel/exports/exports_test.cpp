// The built shared library and kvhost, as a host sees them.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "kernel/testfiles.h"

namespace {

const std::string kBin = KV_BIN_DIR;

}  // namespace

TEST(Exports, SharedLibraryExportsExactlyTheFourEntries) {
    CommandResult r = runCommand("nm -D --defined-only '" + kBin + "/libkvcycles.so'");
    ASSERT_EQ(r.exitCode, 0) << r.output;
    std::vector<std::string> names;
    std::istringstream lines(r.output);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string address, type, name;
        fields >> address >> type >> name;
        if (!name.empty()) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names,
              (std::vector<std::string>{"kvCSexecCycle", "kvCSgetCycle", "kvCSgetSignal", "kvCSsetSignal"}));
}

std::vector<std::string> definedSymbols(const std::string& library) {
    CommandResult r = runCommand("nm -D --defined-only '" + library + "'");
    std::vector<std::string> names;
    std::istringstream lines(r.output);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string address, type, name;
        fields >> address >> type >> name;
        if (!name.empty()) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(Exports, CoreLibraryExportsExactlyItsThirteenEntries) {
    EXPECT_EQ(definedSymbols(kBin + "/libkvcore.so"),
              (std::vector<std::string>{"ActivateAdditionalFunctions", "CloseCore", "GetFP", "GetRedFile",
                                        "GetTechnology", "GetTurnMapException", "LayerOutput", "OpenCore",
                                        "SetDLLPath", "SetDtoSPrecision", "SetFP", "SetRelease",
                                        "SetSurfaceNormal"}));
}

// The loader's own trace shows each load and unload of the core library.
TEST(Exports, KvhostRunLoadsAndUnloadsTheCoreLibraryOncePerRun) {
    CommandResult r = runCommand("LD_DEBUG=files '" + kBin + "/kvhost' --runs 2 -- -V");
    ASSERT_EQ(r.exitCode, 0) << r.output;
    std::string events;
    std::istringstream lines(r.output);
    std::string line;
    while (std::getline(lines, line)) {
        bool core = line.find("/libkvcore.so") != std::string::npos;
        if (core && line.find("generating link map") != std::string::npos) events += "L";
        if (core && line.find("destroying link map") != std::string::npos) events += "U";
        if (line.rfind("run ", 0) == 0)
            events += line.find("started=1 status=0") != std::string::npos ? "R" : "?";
    }
    EXPECT_EQ(events, "LURLUR") << r.output;
}

TEST(Exports, KvhostRunWithoutCoreLibraryStillCompletes) {
    // The cycle library and kvhost alone in a folder: nothing to load beside them.
    CommandResult setup = runCommand("rm -rf nocore && mkdir nocore && cp '" + kBin + "/libkvcycles.so' '" +
                                     kBin + "/kvhost' nocore/");
    ASSERT_EQ(setup.exitCode, 0) << setup.output;
    for (const char* args : {"-- -V", "-- -Smissing"}) {
        CommandResult r = runCommand("LD_DEBUG=files nocore/kvhost --runs 2 " + std::string(args));
        EXPECT_NE(r.output.find("run 1: started=1"), std::string::npos) << r.output;
        EXPECT_NE(r.output.find("run 2: started=1"), std::string::npos) << r.output;
        EXPECT_EQ(r.output.find("libkvcore.so [0];  generating"), std::string::npos) << r.output;
        EXPECT_EQ(r.exitCode, std::string(args) == "-- -V" ? 0 : 1) << r.output;
    }
}

// A host that runs the cycle again from inside a callback of the running cycle:
// refused, and the outer runs go on exactly as without the nested call.
TEST(Exports, KvhostNestedRunOnTheRunningCycleIsRefused) {
    writeTestFile("nested.pcf", "polySource := \"blades.kvx\"\nclearancePlane := 60\n");
    CommandResult plain = runCommand("'" + kBin + "/kvhost' --runs 2 -- -Snested");
    CommandResult nested = runCommand("'" + kBin + "/kvhost' --runs 2 --nest-at 1 -- -Snested");
    EXPECT_EQ(nested.exitCode, plain.exitCode) << nested.output;
    std::string kept;
    int refused = 0;
    std::istringstream lines(nested.output);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("nested run at callback ", 0) == 0) {
            EXPECT_EQ(line, "nested run at callback 1: started=0");
            ++refused;
        } else {
            kept += line + "\n";
        }
    }
    EXPECT_EQ(refused, 2) << nested.output;  // once in each run
    EXPECT_NE(plain.output.find("run 2: started=1 status=1 records="), std::string::npos) << plain.output;
    EXPECT_EQ(kept, plain.output);
}

TEST(Exports, KvhostLoadsTheLibraryAndGetsTheCycle) {
    CommandResult r = runCommand("'" + kBin + "/kvhost' --runs 2 -- -V");
    EXPECT_NE(r.output.find("library: " + kBin + "/libkvcycles.so\n"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("cycle: obtained\n"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("run 1: "), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("run 2: "), std::string::npos) << r.output;
    // A run that did not start must never exit as a success.
    if (r.output.find("started=0") != std::string::npos) {
        EXPECT_NE(r.exitCode, 0);
    }
}

TEST(Exports, KvhostReportsLoadAndUsageErrors) {
    struct Case {
        std::string args;
        int exitCode;
        const char* message;
    } cases[] = {
        {"--lib ./no-such-library.so", 3, "cannot load"},
        {"--lib /dev/null", 3, "cannot load"},
        {"--runs 0", 2, "bad option"},
        {"--cancel-at x", 2, "bad option"},
        {"--nest-at 0", 2, "bad option"},
        {"--frobnicate 1", 2, "bad option"},
        {"--lib", 2, "needs a value"},
        {"--dir ./no-such-folder", 2, "cannot enter"},
    };
    for (const auto& c : cases) {
        CommandResult r = runCommand("'" + kBin + "/kvhost' " + c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.args << "\n" << r.output;
        EXPECT_NE(r.output.find(c.message), std::string::npos) << c.args << "\n" << r.output;
    }
}

// The library keeps a cancel in the signal word until the host clears it, and kvhost clears it
// before each run: the second run of a job cancelled at its first record starts with the word 0.
// Both runs stop at the first poll, before the missing hub is looked for.
TEST(Exports, KvhostClearsTheSignalWordBeforeEachRun) {
    writeTestFile("nohub.cfg", "*BLADE_COUNT 8\n*HUB_KVX_OK 1\n*HUB_KVX no-such-hub.kvx\n");
    CommandResult r = runCommand("'" + kBin + "/kvhost' --runs 2 --cancel-at 1 -- -Snohub.cfg");
    EXPECT_EQ(r.exitCode, 100) << r.output;
    std::vector<std::string> seen;
    std::istringstream lines(r.output);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("cancel requested", 0) == 0 || line.rfind("run ", 0) == 0)
            seen.push_back(line.substr(0, line.find(" records=")));
    }
    EXPECT_EQ(seen, (std::vector<std::string>{
                        "cancel requested at callback 1 (previous signal 0)", "run 1: started=1 status=100",
                        "cancel requested at callback 1 (previous signal 0)", "run 2: started=1 status=100"}))
        << r.output;
}

// An empty argument vector runs the information modes version and help, no main run: kvhost says so
// instead of reporting a run with a status word that no phase of it set.
TEST(Exports, KvhostWithoutCycleArgumentsSaysItIsAnInformationRun) {
    CommandResult r = runCommand("'" + kBin + "/kvhost' --runs 2");
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("no cycle arguments: the cycle shows its version and help only, no main run\n"),
              std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("run 1: started=1 information run records=0\n"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("run 2: started=1 information run records=0\n"), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("status="), std::string::npos) << r.output;
}
