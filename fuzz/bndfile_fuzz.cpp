// Boundary files: the block counter, and the geometry file from which the
// block files are written (into the private folder).
#include "fuzzhelp.h"
#include "surfaces/meshfiles/bndfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    writeBoundaryResetState();
    std::string file = fuzzWriteFile("input.bnd", data, size);
    BndPair pairs[8];
    int32_t lines = -1;
    int blocks = bnd_read(file.c_str(), pairs, 8, &lines);
    fuzzCheck(blocks >= 0 && blocks <= 8 && lines >= 0, "a readable file was refused or overran");
    for (int i = 0; i < blocks; ++i)
        fuzzCheck(pairs[i].count >= 0 && pairs[i].second >= 0, "a negative count");

    writeBoundarySetFolder(fuzzPrivateFolder().c_str());
    double surface = 0.0, depth = 0.0;
    writeBoundaryFromFile(file.c_str(), &surface, &depth);
    writeBoundaryResetState();
    return 0;
}
