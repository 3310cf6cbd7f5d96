#include "plunge/partload.h"

#include <gtest/gtest.h>

#include <cstring>

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
