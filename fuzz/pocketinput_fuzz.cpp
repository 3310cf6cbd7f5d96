// The pocket cycle's contours read from an exchange file into the lists INPUT
// or CLAMPS. The first byte: bit 0 puts a valid header in front, bit 1 reads
// the clamps, bits 2-3 the tool type.
#include <cstring>
#include <vector>

#include "fuzzhelp.h"
#include "kernel/base/kvx/kvlist.h"
#include "kernel/base/runreset.h"
#include "pocket/ccp.h"
#include "kernel/ncout/ncchan.h"
#include "pocket/clist.h"
#include "pocket/pocketerr.h"
#include "pocket/pocketinput.h"
#include "pocket/pocketstate.h"
#include "pocket/rifblock.h"

namespace {

constexpr char kHeader[] = "kVX-Exchange-File\nkVX-Version: 1.0\npocket\ncontours\n";

// The pocket state of a fresh process: a fresh run's, and no variables left on the record.
void freshPocketInput() {
    runResetAll();
    kvListFree(kvCCP.vars);
    kvCCP.vars = nullptr;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    freshPocketInput();
    FuzzBytes in{data, size};
    uint8_t flags = in.u8();
    std::string text = flags & 1 ? kHeader : "";
    text.append(reinterpret_cast<const char*>(in.data), in.size);
    std::string file =
        fuzzWriteFile("pocket.kvx", reinterpret_cast<const uint8_t*>(text.data()), text.size());
    if (file.size() > kCcpTextMax) fuzzFail("the private folder's name is too long");
    int which = flags & 2 ? kPocketReadClamps : kPocketReadInput;
    strcpy(which == kPocketReadInput ? kvCCPParams.geoSource : kvCCPParams.clamps, file.c_str());
    kvCCPParams.toolType = 1 + ((flags >> 2) & 3) % 3;
    kvCCPParams.toolDiameter = 10;
    kvCCP.vars = kvListSet(kvCCP.vars, "toolReference", flags & 16 ? "center" : "tip", kKvFile);
    int result = pocketReadInput(&kvCCP, which);
    fuzzCheck(result == 0 || result == 1, "an unknown result");
    const char* list = which == kPocketReadInput ? "INPUT" : "CLAMPS";
    int32_t count = clistCount(list);
    for (int32_t i = 0; i < count; ++i) {
        ContourHeader header;
        fuzzCheck(clistGetHeader(list, &header, i) >= 0, "a counted contour has no header");
        std::vector<ContourElement> elements(header.elementCount + 1);
        clistGet(list, elements.data(), &header, i);
    }
    freshPocketInput();
    return 0;
}
