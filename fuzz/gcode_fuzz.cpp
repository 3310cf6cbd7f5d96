// The G-code contour file of the pocket cycle, read without a target list.
#include <cstring>

#include "fuzzhelp.h"
#include "kernel/base/runreset.h"
#include "pocket/clist.h"
#include "pocket/gcodefile.h"
#include "pocket/pocketerr.h"
#include "pocket/rifblock.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    runResetAll();
    pocketErrorResetState();
    std::string file = fuzzWriteFile("input.rif", data, size);
    RifBlock* rif = rifBlock();
    if (file.size() >= sizeof rif->rifName) fuzzFail("the private folder's name is too long");
    memcpy(rif->rifName, file.c_str(), file.size() + 1);
    rif->evalRif = 1;
    double radius = 0.0;
    int result = gcodeFileRead(nullptr, &radius);
    fuzzCheck(result >= -1 && result <= 2, "an unknown result");
    runResetAll();
    return 0;
}
