#include "plunge/partload.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "../geometry/msg_capture.h"

// Every part of the assembly is checked against the one check model, with its own clearance; empty
// names are no files.
TEST(PartLoad, AssemblyPartsShareTheCheckModel) {
    for (const char* name : {"tool.cnt", "t", ""}) {  // a name of one letter is a name
        const bool named = name[0] != 0;
        cycleParamsResetState();
        CycleParams* p = cycleParams();
        std::strcpy(p->toolContour, name);
        std::strcpy(p->pofcheckModel, name);
        p->checkHead = named ? 1 : 0;
        p->headClearance = 1.5, p->holderClearance = 2.5, p->extensionClearance = 3.5,
        p->shankClearance = 4.5;
        CollSetup s;
        std::memset(&s, 0x5a, sizeof s);
        collPartNames(&s);
        EXPECT_EQ(s.contourFile, named ? p->toolContour : nullptr);
        for (const char* f : {s.headFile, s.holderFile, s.extensionFile, s.cuttingFile})
            EXPECT_EQ(f, named ? p->pofcheckModel : nullptr);
        EXPECT_EQ(s.checkHead, named ? 1 : 0);
        EXPECT_EQ(s.headClearance, 1.5);
        EXPECT_EQ(s.holderClearance, 2.5);
        EXPECT_EQ(s.extensionClearance, 3.5);
        EXPECT_EQ(s.cuttingClearance, 4.5);
    }
    collPartNames(nullptr);
    cycleParamsResetState();
}

// A part that cannot be loaded gives nothing and says which, an error-class note unheard below 9
// whose value is 0.
TEST(PartLoad, PartsThatCannotBeLoadedAreNamedAtTheErrorClass) {
    const std::string hub = std::string(KV_SOURCE_DIR) + "/examples/plunge/hub.kvx";
    const struct {
        const char *hub, *shroud;
        int message;
    } rows[] = {{"", "s.kvx", kMsgNoHub},
                {"h.kvx", "", kMsgNoShroud},
                {"none.kvx", hub.c_str(), kMsgNoHub},
                {hub.c_str(), "none.kvx", kMsgNoShroud},
                {nullptr, nullptr, kMsgNoBladeContour},
                {nullptr, "", kMsgNoBladeContour},
                {"", nullptr, kMsgTmpNameTooLong}};
    for (const auto& r : rows)
        for (int level : {8, 9}) {
            cycleParamsResetState();
            MessageCapture capture(level);
            CycleParams* p = cycleParams();
            std::strcpy(p->hubKvx, r.hub ? r.hub : "");
            std::strcpy(p->shroudKvx, r.shroud ? r.shroud : "");
            if (r.hub && r.shroud) {
                EXPECT_EQ(loadHubShroud(0.5), nullptr);
            } else if (r.hub) {  // a name longer than the field's room
                char out[kCycleTextMax + 1];
                EXPECT_EQ(tmpFilePath(std::string(kCycleTextMax + 1, 'x').c_str(), out), -1);
                const std::string fits(kCycleTextMax, 'x');  // no folder: the name alone fills the field
                EXPECT_EQ(tmpFilePath(fits.c_str(), out), 1);
                EXPECT_EQ(out, fits);
            } else {
                EXPECT_EQ(r.shroud ? static_cast<void*>(idx5BladeContourList(nullptr, 0.5, 0))
                                   : static_cast<void*>(loadBladeContours(nullptr, 0.5)),
                          nullptr);
            }
            std::vector<int> sent;  // the reader's traces (9999) aside
            for (const std::string& m : capture.messages())
                if (std::stoi(m) != kMsgPrintfNumber) sent.push_back(std::stoi(m));
            EXPECT_EQ(sent, level == 9 ? std::vector<int>{r.message} : std::vector<int>{});
            // A missing part has nothing to count; a name too long is named whole.
            const int zeros = r.message == kMsgTmpNameTooLong || level < 9 ? 0 : 1;
            EXPECT_EQ(capture.countOf(std::to_string(r.message) + ",0"), zeros);
            if (r.message == kMsgTmpNameTooLong) {
                const auto named =
                    std::count_if(capture.messages().begin(), capture.messages().end(),
                                  [](const std::string& m) { return m.rfind("5191,xx", 0) == 0; });
                EXPECT_EQ(named, level == 9 ? 1 : 0);
            }
        }
}
