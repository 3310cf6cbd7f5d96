#include "kernel/base/runreset.h"
#include "kernel/cycle/cyc3d.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "kernel/cycle/cycrun.h"
#include "kernel/cycle/cycstart.h"
#include "plunge/idx5.h"
#include "kernel/ncout/ncchan.h"
#include "kernel/ncout/ncout.h"
#include "kernel/base/numtext.h"
#include "kernel/ncout/pof.h"
#include "kernel/ncout/toolcontour.h"
#include "kernel/testfiles.h"
#include "kernel/cycle/testrecord.h"
#include "kernel/exports/exports.h"

namespace {

const std::string kBin = KV_BIN_DIR;

std::vector<std::string> gSeen;  // "<channel> <type> <name> <value>" or "<channel> <type> #<number>"

int listen(CycleRecord*, NcRecord* o, void* data) {
    char name[KVNC_TEXT_SIZE + 1], value[KVNC_TEXT_SIZE + 1];
    int32_t type = ncRecGetI32(o, KVNC_TYPE);
    std::string line = std::string(static_cast<const char*>(data)) + " " + std::to_string(type);
    if (type == 5001)
        line += " #" + std::to_string(ncRecGetU32(o, KVNC_BLOCK_NUMBER));
    else if (type == 3102)
        line += " z=" + std::to_string(ncRecGetF64(o, KVNC_POINT_Z));
    else
        line += std::string(" ") + ncRecGetText(o, KVNC_TEXT_NAME, KVNC_TEXT_SIZE, name) + " " +
                ncRecGetText(o, KVNC_TEXT_VALUE, KVNC_TEXT_SIZE, value);
    gSeen.push_back(line);
    return 1;
}

// Listens, as a host does, from the first record on.
void attachListeners(CycleRecord* record, int32_t signal, void*) {
    if (signal != kSigFirstRecord) return;
    static const char* const kNames[] = {"0", "12", "31"};
    static const uint16_t kChannels[] = {0, 12, 31};
    for (int i = 0; i < 3; ++i)
        ncAddListener(record, kChannels[i], listen, const_cast<char*>(kNames[i]), listen,
                      const_cast<char*>(kNames[i]));
}

std::vector<std::string> seenOn(const char* channel) {
    std::vector<std::string> out;
    for (const auto& s : gSeen) {
        if (s.compare(0, strlen(channel) + 1, std::string(channel) + " ") == 0) out.push_back(s);
    }
    return out;
}

std::vector<uint16_t> channelCodes(const CycleRecord& r) {
    std::vector<uint16_t> codes;
    for (NcChannel* c = r.channels; c; c = c->next) codes.push_back(c->code);
    return codes;
}

class Cyc3dTest : public ::testing::Test {
  protected:
    void SetUp() override {
        resetCoreToBinFolder();
        cycleResetState();
        ncOutResetState();
        numTextResetState();
        initTestRecord(&rec, &kvCyc3d);
        rec.signalFn = attachListeners;
        gSeen.clear();
    }
    void TearDown() override {
        ncFreeChannels(&rec);
        kvListFree(rec.vars);
        kvListFree(rec.cfgVars);
        if (rec.tool) {
            freeToolRecord(rec.tool);
            free(rec.tool);
        }
        ncFreeChannels(&kvIdx5);
        kvIdx5.firstRecordPending = 1;
        cyc3dResetState();
        pofResetState();
        cycleResetState();
        ncOutResetState();
        runResetAll();
        resetCoreToBinFolder();
    }
    void set(const char* key, const char* value) { rec.vars = kvListSet(rec.vars, key, value, kKvFile); }
    CycleRecord rec;
};

// A parameter file for the cycle; a run names it with -S.
std::string paramFile(const std::string& extra) {
    return "polySource := \"blades.kvx\"\nclearancePlane := 60\n" + extra;
}

}  // namespace

TEST_F(Cyc3dTest, LayersAndChannelsFollowTheOutputSwitches) {
    struct Case {
        std::vector<std::pair<const char*, const char*>> vars;
        uint16_t traceLevel;
        const char* layers;
        std::vector<uint16_t> channels;
    } cases[] = {
        {{}, 0, "12,20,35,36,41,42", {0, 1, 2, 10, 11, 12, 20, 31, 35, 36, 41, 42}},
        {{{"NCOutp", "true"}},
         0,
         "3,32,12,20,35,36,41,42",
         {0, 1, 2, 3, 10, 11, 12, 20, 31, 32, 35, 36, 41, 42}},
        {{{"NCOutp", "True"}, {"drillPointsOutp", "true"}, {"originalOutp", "true"}},
         2,
         "30,33,12,20,35,36,41,42",
         {0, 1, 2, 4, 5, 10, 11, 12, 20, 30, 31, 33, 35, 36, 41, 42}},
        {{}, 3, "12,20,35,36,41,42", {0, 1, 2, 4, 5, 6, 10, 11, 12, 20, 31, 35, 36, 41, 42}},
    };
    for (const auto& c : cases) {
        kvListFree(rec.vars);
        rec.vars = nullptr;
        for (const auto& [k, v] : c.vars) set(k, v);
        rec.traceLevel = c.traceLevel;
        rec.firstRecordPending = 1;
        gSeen.clear();
        EXPECT_EQ(cyc3dInitFromParams(&rec), 1);
        // A later run with fewer switches keeps none of the earlier run's channels.
        EXPECT_EQ(channelCodes(rec), c.channels) << c.layers;
        EXPECT_EQ(seenOn("0"), (std::vector<std::string>{"0 103 cycle Test Cycle",
                                                         std::string("0 110 layers ") + c.layers}));
    }
}

TEST_F(Cyc3dTest, MessageFileJobBlockAndPrecision) {
    struct Case {
        std::vector<std::pair<const char*, const char*>> vars;
        std::vector<std::string> channel0;
    } cases[] = {
        {{{"SystemLanguage", "de"}, {"de", "msg_de.txt"}, {"MessageFile", "msg.txt"}},
         {"0 103 cycle Test Cycle", "0 109 msgFile msg_de.txt", "0 110 layers 12,20,35,36,41,42"}},
        {{{"SystemLanguage", "fr"}, {"MessageFile", "msg.txt"}},
         {"0 103 cycle Test Cycle", "0 109 msgFile msg.txt", "0 110 layers 12,20,35,36,41,42"}},
    };
    for (const auto& c : cases) {
        kvListFree(rec.vars);
        rec.vars = nullptr;
        for (const auto& [k, v] : c.vars) set(k, v);
        rec.firstRecordPending = 1;
        gSeen.clear();
        cyc3dInitFromParams(&rec);
        EXPECT_EQ(seenOn("0"), c.channel0);
    }
    for (const char* id : {"7", "0", "-3", "x"}) {
        set("ppJobID", id);
        rec.firstRecordPending = 1;
        gSeen.clear();
        cyc3dInitFromParams(&rec);
        EXPECT_EQ(seenOn("12"), std::string(id) == "7" ? std::vector<std::string>{"12 5001 #7"}
                                                       : std::vector<std::string>{})
            << id;
    }
    set("precision", "3");
    set("geoSource", "hub.kvx");
    rec.cfgMode = 1;
    cyc3dInitFromParams(&rec);
    EXPECT_EQ(numberDecimals(), 3);
    EXPECT_EQ(rec.toolContourFlag, 1);
    char* derived = kvListGet(rec.vars, "sourceGeometry", nullptr);
    EXPECT_STREQ(derived, "hub.kvx");
    free(derived);
}

TEST_F(Cyc3dTest, MissingRequiredParametersAreReported) {
    struct Case {
        std::string text;
        int result;
        std::vector<std::string> errors;
    } cases[] = {
        {"polySource := p.kvx\ntoolDiameter := 10\n", 1, {}},
        {"polySource := p.kvx\n", 0, {"0 102 error 1,(toolDiameter)"}},
        {"toolDiameter := 10\n", 0, {"0 102 error 1,(polySource)"}},
        {"x := 1\n", 0, {"0 102 error 1,(polySource)", "0 102 error 1,(toolDiameter)"}},
    };
    for (const auto& c : cases) {
        writeTestFile("req.pcf", c.text);
        kvListFree(rec.vars);
        rec.vars = kvListLoad(nullptr, "req.pcf", kKvFile);
        rec.status = 0;
        rec.firstRecordPending = 1;
        cyc3dInitFromParams(&rec);
        gSeen.clear();
        EXPECT_EQ(cyc3dReadParameters(&rec), c.result) << c.text;
        EXPECT_EQ(seenOn("0"), c.errors) << c.text;
        EXPECT_EQ(rec.status, c.result ? 0 : 1) << c.text;
    }
}

TEST_F(Cyc3dTest, WordValuesCompareExactly) {
    struct Case {
        const char* name;
        const char* value;
        int32_t Cyc3dParams::*field;
        int32_t expected;
    } cases[] = {
        {"toolType", "ballMill", &Cyc3dParams::toolType, 1},
        {"toolType", "BallMill", &Cyc3dParams::toolType, 3},
        {"toolType", "endMill", &Cyc3dParams::toolType, 2},
        {"rapidMode", "plane", &Cyc3dParams::rapidMode, 0},
        {"rapidMode", "Plane", &Cyc3dParams::rapidMode, 1},
        {"boundaryMode", "to", &Cyc3dParams::boundaryMode, 2},
        {"boundaryMode", "past", &Cyc3dParams::boundaryMode, 3},
        {"boundaryMode", "x", &Cyc3dParams::boundaryMode, 1},
        {"approachType", "ramp", &Cyc3dParams::approachType, 8},
        {"leavingType", "ramp", &Cyc3dParams::leavingType, 3},
        {"returnMacro", "true", &Cyc3dParams::returnMacro, 2},
        {"toolReference", "tip", &Cyc3dParams::toolReference, 1},
        {"spindleRotation", "counterClockwise", &Cyc3dParams::spindleRotation, 2},
        {"coolant", "false", &Cyc3dParams::coolant, 2},
        {"lengthOfUnit", "inch", &Cyc3dParams::inch, 1},
        {"ncFormat", "polyFormat", &Cyc3dParams::ncFormat, 2},
        {"slopeCondition", "mixed", &Cyc3dParams::slopeCondition, 1},
        {"slopeCondition", "horizontal", &Cyc3dParams::slopeCondition, 3},
        {"tiltStrategy", "lag", &Cyc3dParams::tiltStrategy, 2},
        {"tiltStrategy", "radial", &Cyc3dParams::tiltStrategy, 5},
        {"removeTempFiles", "no", &Cyc3dParams::removeTempFiles, 1},
        {"removeTempFiles", "false", &Cyc3dParams::removeTempFiles, 0},
        {"smoothStepOver", "true", &Cyc3dParams::smoothStepover, 1},
        {"fixedInclination", "TRUE", &Cyc3dParams::fixedInclination, 0},
    };
    for (const auto& c : cases) {
        kvListFree(rec.vars);
        rec.vars = nullptr;
        set("polySource", "p.kvx");
        set("toolDiameter", "8");
        set(c.name, c.value);
        cyc3dParamsClear(cyc3dParams(&rec));
        ASSERT_EQ(cyc3dReadParameters(&rec), 1);
        EXPECT_EQ(cyc3dParams(&rec)->*c.field, c.expected) << c.name << " " << c.value;
    }
}

TEST_F(Cyc3dTest, NumbersFramesAndPlanes) {
    set("polySource", "p.kvx");
    set("toolDiameter", "8.5");
    set("cornerRadius", "-2");
    set("allowance", "-0.5");
    set("frameCs_o", "1,2,3");
    set("toolCs_x", "1,2");  // a comma missing: not taken
    set("startPoint", "4, 5 ,6");
    set("tempDirectory", "/tmp/kv");
    set("clearancePlane", "50");
    set("retractPlane", "80");
    set("frame", "1,2,3,4,5,6");
    set("frameOn", "true");
    set("geoSource", "geo.kvx");
    Cyc3dParams* p = cyc3dParams(&rec);
    ASSERT_EQ(cyc3dReadParameters(&rec), 1);
    EXPECT_STREQ(p->polySource, "p.kvx");
    EXPECT_EQ(p->toolDiameter, 8.5);
    EXPECT_EQ(p->cornerRadius, 2);
    EXPECT_EQ(p->allowance, -0.5);
    EXPECT_EQ(p->frameCsO[2], 3);
    EXPECT_EQ(p->toolCsX[0], 0);
    EXPECT_EQ(p->startPoint[1], 5);
    EXPECT_STREQ(p->geoSource, "geo.kvx");
    EXPECT_EQ(std::string(p->tempFiles[kCyc3dTempSlots - 1]), "/tmp/kv/" + std::to_string(getpid()) + ".cfg");
    EXPECT_EQ(p->retractPlane, 50);  // above the clearance plane: the clearance plane
    EXPECT_EQ(ncClearancePlaneOffset(), 0);
    EXPECT_STREQ(p->frame, "1/2/3/4/5/6");
    EXPECT_EQ(p->frameOn, 1);

    struct Case {
        const char* frame;
        const char* retract;
        const char* stored;
        double retractPlane;
    } cases[] = {
        {"1,2,3", "20", nullptr, 20},
        {"1,2,3,4,5,6,7", nullptr, nullptr, 50},
        {"", "50", nullptr, 50},
        {"a,,,,,", "-5", "a/////", -5},
    };
    for (const auto& c : cases) {
        kvListFree(rec.vars);
        rec.vars = nullptr;
        set("polySource", "p.kvx");
        set("toolDiameter", "8");
        set("clearancePlane", "50");
        set("frameOn", "true");
        set("frame", c.frame);
        if (c.retract) set("retractPlane", c.retract);
        cyc3dParamsClear(p);
        ASSERT_EQ(cyc3dReadParameters(&rec), 1);
        EXPECT_STREQ(p->frame, c.stored) << c.frame;
        EXPECT_EQ(p->frameOn, c.stored ? 1 : 0) << c.frame;  // read only with a stored frame
        EXPECT_EQ(p->retractPlane, c.retractPlane) << c.frame;
        EXPECT_EQ(ncClearancePlaneOffset(), 50 - c.retractPlane) << c.frame;
    }
}

TEST_F(Cyc3dTest, FiveAxisSlotsOnTheCommonBlock) {
    CycleRecord five;
    initTestRecord(&five, &rec);
    rec.slots.m[kSlotInput] = cyc3dReadParameters;
    five.vars = kvListSet(five.vars, "polySource", "p.kvx", kKvFile);
    five.vars = kvListSet(five.vars, "toolDiameter", "6", kKvFile);
    five.vars = kvListSet(five.vars, "clearancePlane", "40", kKvFile);
    five.vars = kvListSet(five.vars, "retractPlane", "25", kKvFile);
    static CycleRecord* parentSeen;
    static CycleRecord grand;
    rec.parent = &grand;
    grand.slots.m[kSlotInput] = nullptr;
    EXPECT_EQ(idx5ReadParameters(&five), 1);
    EXPECT_EQ(five.parent, &rec);  // restored
    rec.slots.m[kSlotInput] = [](CycleRecord* r) {
        parentSeen = r->parent;
        return 5;
    };
    EXPECT_EQ(idx5ReadParameters(&five), 1);
    EXPECT_EQ(parentSeen, &grand);
    rec.slots.m[kSlotInput] = [](CycleRecord*) { return 0; };
    EXPECT_EQ(idx5ReadParameters(&five), 0);

    Cyc3dParams* p = cyc3dParams(&five);
    EXPECT_EQ(p->retractPlane, 25);
    EXPECT_EQ(idx5CheckRetractPlane(&five), 1);
    EXPECT_EQ(p->retractPlane, 25);
    EXPECT_EQ(five.cycleId, 4242);
    five.cfgVars = kvListAppend(five.cfgVars, "*TILT_MODE", "6", kKvFile);
    p->retractPlane = 40;  // at the clearance plane
    EXPECT_EQ(idx5CheckRetractPlane(&five), 1);
    EXPECT_EQ(five.cycleId, kIdx5TiltMode6Id);

    ncRegisterHandler(&five, 31, acceptRecord, acceptRecord, 1);
    five.signalFn = attachListeners;
    gSeen.clear();
    EXPECT_EQ(idx5Finish(&five), 1);  // retract at the clearance plane: nothing
    p->retractPlane = 25;
    EXPECT_EQ(idx5Finish(&five), 1);
    EXPECT_EQ(seenOn("31"), (std::vector<std::string>{"31 3102 z=40.000000"}));

    // No part is configured: the run slot succeeds, the run fails in the status word.
    five.status = 0;
    EXPECT_EQ(idx5Run(&five), 1);
    EXPECT_EQ(five.status, 1);
    ncFreeChannels(&five);
    kvListFree(five.vars);
    kvListFree(five.cfgVars);
}

TEST_F(Cyc3dTest, HelpersForTemporaryFiles) {
    double v[3] = {9, 9, 9};
    EXPECT_EQ(parseVec3Text("1.5,-2,3e1", v), 1);
    EXPECT_EQ(v[0], 1.5);
    EXPECT_EQ(v[1], -2);
    EXPECT_EQ(v[2], 30);
    EXPECT_EQ(parseVec3Text("7,8", v), -1);
    EXPECT_EQ(v[0], 1.5);
    EXPECT_EQ(parseVec3Text(nullptr, v), -1);

    char name[kCyc3dTempNameSize];
    std::string pid = std::to_string(getpid());
    cyc3dTempFileName(name, "dir", ".cfg");
    EXPECT_EQ(std::string(name), "dir/" + pid + ".cfg");
    cyc3dTempFileName(name, "", ".cfg");
    EXPECT_EQ(std::string(name), pid + ".cfg");
    cyc3dTempFileName(name, std::string(300, 'd').c_str(), ".cfg");
    EXPECT_STREQ(name, "");

    Cyc3dParams* p = cyc3dParams(&rec);
    const char* files[] = {"tmp.pcf", "tmp.pof", "tmp.dxf", "tmp.kvx", "slot0.tmp", " blank.tmp"};
    snprintf(p->tempFiles[0], kCyc3dTempNameSize, "slot0.tmp");
    snprintf(p->tempFiles[1], kCyc3dTempNameSize, " blank.tmp");
    for (int removeFlag : {0, 1}) {
        for (const char* f : files) writeTestFile(f, "x");
        p->removeTempFiles = removeFlag;
        cyc3dRemoveTempFiles(&rec);
        for (const char* f : files) {
            bool kept = access(f, F_OK) == 0;
            EXPECT_EQ(kept, !removeFlag || f[0] == ' ') << f << " flag " << removeFlag;
        }
    }
    std::remove(" blank.tmp");
    removeFileIfNamed(nullptr);
    removeFileIfNamed("");
}

// The clean-up removes what the run made and nothing that was there before it: a name found at the
// prepare step (the fixed names) or at the input step (the slot it names) is the user's file.
TEST_F(Cyc3dTest, TempFilesOfTheRunGoThoseFoundBeforeItStay) {
    mkdir("tmpd", 0755);
    const std::string slot = "tmpd/" + std::to_string(getpid()) + ".cfg";
    const std::vector<std::string> names = {"tmp.pcf", "tmp.pof", "tmp.dxf", "tmp.kvx", slot};
    set("polySource", "blades.kvx");
    set("toolDiameter", "5");
    set("removeTempFiles", "true");
    set("tempDirectory", "tmpd");
    // Which of the names exist before the run; the run then writes all of them.
    const std::vector<std::vector<bool>> before = {{true, false, true, false, true},
                                                   {false, false, false, false, false},
                                                   {true, true, true, true, true}};
    for (const std::vector<bool>& found : before) {
        for (size_t i = 0; i < names.size(); ++i) {
            std::remove(names[i].c_str());
            if (found[i]) writeTestFile(names[i], "the user's");
        }
        ASSERT_EQ(cyc3dInitFromParams(&rec), 1);
        ASSERT_EQ(cyc3dReadParameters(&rec), 1);
        for (size_t i = 0; i < names.size(); ++i)
            if (!found[i]) writeTestFile(names[i], "the run's");
        cyc3dRemoveTempFiles(&rec);
        for (size_t i = 0; i < names.size(); ++i) {
            EXPECT_EQ(access(names[i].c_str(), F_OK) == 0, found[i]) << names[i];
            if (found[i]) {
                EXPECT_EQ(readTestFile(names[i]), "the user's") << names[i];
            }
        }
    }
    for (const std::string& n : names) std::remove(n.c_str());
}

// The default cycle run in the kernel, as a host starts it, with a parameter
// file that lacks "toolDiameter": the input step fails, the end step still runs.
TEST_F(Cyc3dTest, KernelRunWithoutToolDiameterStopsAtTheInput) {
    writeTestFile("nodia.pcf", paramFile(""));
    std::vector<std::string> args = {"-Snodia"};
    std::vector<char*> argv = {args[0].data()};
    ASSERT_EQ(cycleStart(&kvIdx5, argv.data(), 1, 0), 1);
    recordedSignals().clear();
    kvIdx5.signalFn = [](CycleRecord* r, int32_t signal, void* data) {
        recordSignal(r, signal, data);
        attachListeners(r, signal, data);
    };
    EXPECT_EQ(cycleRun(&kvIdx5), kRunInputFailed);
    kvIdx5.signalFn = nullptr;
    EXPECT_EQ(seenOn("0"), (std::vector<std::string>{"0 103 cycle 3D 5-Axis Impeller Plunge Roughing",
                                                     "0 110 layers 12,20,35,36,41,42",
                                                     "0 112 cfgSource nodia", "0 102 error 1,(toolDiameter)",
                                                     "0 104 cycleEnd 3D 5-Axis Impeller Plunge Roughing"}));
    const std::vector<int32_t>& s = recordedSignals();
    EXPECT_NE(std::find(s.begin(), s.end(), kSigEndBegin), s.end());
    EXPECT_NE(std::find(s.begin(), s.end(), kSigEndEnd), s.end());
    EXPECT_EQ(std::find(s.begin(), s.end(), kSigSetupBegin), s.end());
    EXPECT_EQ(kvIdx5.status, 1);
}

// A host run through kvhost: what the host hears on channel 0, and the POF
// text that the core library appends run by run to the file of "pofFilename".
TEST(Cyc3dHost, KvhostRunsWriteThePofFile) {
    mkdir("hostpof", 0755);
    std::remove("hostpof/out.pof");
    writeTestFile("hostnodia.pcf", paramFile("pofFilename := \"hostpof\\\\out.pof\"\n"));
    CommandResult r = runCommand("'" + kBin + "/kvhost' --runs 2 -- -Shostnodia");
    EXPECT_EQ(r.exitCode, 1) << r.output;
    std::vector<std::string> channel0;
    std::istringstream lines(r.output);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("ch=0 ", 0) == 0 && line.find(" pair=1") != std::string::npos)
            channel0.push_back(line);
    }
    const std::vector<std::string> once = {
        "ch=0 type=103 name=\"cycle\" value=\"3D 5-Axis Impeller Plunge Roughing\" pair=1",
        "ch=0 type=110 name=\"layers\" value=\"12,20,35,36,41,42\" pair=1",
        "ch=0 type=112 name=\"cfgSource\" value=\"hostnodia\" pair=1",
        "ch=0 type=102 name=\"error\" value=\"1,(toolDiameter)\" pair=1",
        "ch=0 type=104 name=\"cycleEnd\" value=\"3D 5-Axis Impeller Plunge Roughing\" pair=1",
    };
    std::vector<std::string> twice = once;
    twice.insert(twice.end(), once.begin(), once.end());
    EXPECT_EQ(channel0, twice) << r.output;
    EXPECT_NE(r.output.find("run 2: started=1 status=1"), std::string::npos) << r.output;

    // Each run appended its text up to the error record, which closed the file.
    std::string pof = readTestFile("hostpof/out.pof");
    std::string first = "0 103 name=\"cycle\" value=\"3D 5-Axis Impeller Plunge Roughing\"\n";
    size_t at = pof.find(first);
    ASSERT_NE(at, std::string::npos) << pof;
    EXPECT_NE(pof.find(first, at + 1), std::string::npos) << pof;
    EXPECT_NE(pof.find("0 102 name=\"error\" value=\"1,(toolDiameter)\"\n"), std::string::npos) << pof;
    EXPECT_EQ(pof.find("0 104"), std::string::npos) << pof;
}
