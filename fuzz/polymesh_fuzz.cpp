// Meshes loaded into a check model: a 3df, STL or exchange file (chosen, with
// the model's kind, by the first byte) read, taken into frame A, sorted and
// boxed; a second load over the first must not leak or lose the model.
#include "collision/chkmodel.h"
#include "collision/polymesh.h"
#include "fuzzhelp.h"
#include "geometry/frames.h"
#include "kernel/base/runreset.h"
#include "surfaces/meshfiles/facetfile.h"
#include "surfaces/polyimport.h"

namespace {

constexpr char kHeader[] = "kVX-Exchange-File\nkVX-Version: 1.0\nmesh\n;\n";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    runResetAll();
    FuzzBytes in{data, size};
    uint8_t flags = in.u8();
    static const char* const kNames[] = {"mesh.3df", "mesh.stl", "mesh.kvx", "mesh.kvx"};
    const char* name = kNames[flags & 3];
    std::string text = (flags & 3) == 3 ? kHeader : "";
    text.append(reinterpret_cast<const char*>(in.data), in.size);
    std::string file = fuzzWriteFile(name, reinterpret_cast<const uint8_t*>(text.data()), text.size());
    polymeshSetFreeShared((flags >> 3) & 1);
    CheckModel model{};
    chkModelInit(&model, flags & 4 ? kMeshFacets : kMeshTriangles);
    int first = polymeshLoad(&model, file.c_str());
    fuzzCheck(first == kPolymeshOk || first < 0, "an unknown result");
    polymeshFree(&model);
    chkModelInit(&model, flags & 4 ? kMeshFacets : kMeshTriangles);
    fuzzCheck(polymeshLoad(&model, file.c_str()) == first, "a second load of the same file differs");
    polymeshFree(&model);
    chkModelFreeParts(&model);
    polymeshResetState();
    return 0;
}
