// The pocket cycle's parameters: the run's variables read from a parameter file
// (odd first byte), or the keyword block of a configuration run read from a
// word-pair file (even first byte).
#include "fuzzhelp.h"
#include "kernel/base/kvx/kvlist.h"
#include "kernel/base/kvx/wordpair.h"
#include "kernel/base/runreset.h"
#include "pocket/ccp.h"
#include "pocket/clist.h"
#include "pocket/pocketerr.h"
#include "pocket/pocketinput.h"
#include "pocket/pocketkeys.h"
#include "pocket/pocketstate.h"
#include "pocket/rifblock.h"

namespace {
// The pocket state of a fresh process: a fresh run's, and no variables left on the record.
void freshPocketInput() {
    runResetAll();
    kvListFree(kvCCP.vars);
    kvCCP.vars = nullptr;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    freshPocketInput();
    wordPairResetState();
    FuzzBytes in{data, size};
    bool parameters = in.u8() & 1;
    std::string file = fuzzWriteFile(parameters ? "run.pcf" : "run.cfg", in.data, in.size);
    if (parameters) {
        kvCCP.vars = kvListLoad(kvCCP.vars, file.c_str(), kKvFile);
        int result = pocketReadKeys(&kvCCP);
        fuzzCheck(result == 0 || result == 1, "an unknown result");
    } else {
        KvList* pairs = readWordPairs(nullptr, file.c_str(), kKvFile);
        rifParseKeywords(pairs);
        kvListFree(pairs);
    }
    freshPocketInput();
    return 0;
}
