// Polyhedron objects of exchange files through both readers and the mesh import
// built on them. The first byte: bit 0 puts a valid header in front, bit 1
// chooses the import with the shared-edge switch.
#include "fuzzhelp.h"
#include "kernel/base/kvx/kvxfile.h"
#include "kernel/base/runreset.h"
#include "surfaces/meshfiles/polynode.h"
#include "surfaces/meshfiles/polyread.h"
#include "surfaces/polyimport.h"

namespace {

constexpr char kHeader[] = "kVX-Exchange-File\nkVX-Version: 1.0\npoly\n;\n";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    runResetAll();
    FuzzBytes in{data, size};
    uint8_t flags = in.u8();
    std::string text = flags & 1 ? kHeader : "";
    text.append(reinterpret_cast<const char*>(in.data), in.size);
    std::string file = fuzzWriteFile("poly.kvx", reinterpret_cast<const uint8_t*>(text.data()), text.size());

    PolyNode* nodes = nullptr;
    readPolyhedronA(file.c_str(), &nodes);
    polyNodeFreeList(nodes);
    nodes = nullptr;
    readPolyhedronB(file.c_str(), &nodes);
    polyNodeFreeList(nodes);
    freeMeshNodeList(meshFromPolyFileA(file.c_str(), "fuzz", 1, (flags >> 1) & 1));
    freeMeshPatchList(meshFromPolyFileB(file.c_str(), "fuzz", 2));
    return 0;
}
