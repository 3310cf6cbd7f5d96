// Profile point files: blocks of "X.. Y.. Z.." lines, each closed by "**END".
// The first byte chooses reversing and the fit side.
#include "fuzzhelp.h"
#include "geometry/frames.h"
#include "geometry/profile.h"
#include "kernel/base/runreset.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    runResetAll();
    FuzzBytes in{data, size};
    uint8_t flags = in.u8();
    std::string file = fuzzWriteFile("input.prf", in.data, in.size);
    int blocks = prfCountBlocks(file.c_str());
    fuzzCheck(blocks >= 0, "a readable file was refused");
    ProfileCurve* list = profileReadFile(file.c_str(), nullptr, nullptr, 0.01, flags & 1, (flags >> 1) & 1);
    int profiles = 0;
    for (const ProfileCurve* p = list; p; p = p->next) {
        ++profiles;
        fuzzCheck(p->count >= 1 && p->points && p->z, "a profile without points");
        // The file holds at most one point per started 128-character piece.
        fuzzCheck(static_cast<size_t>(p->count) <= in.size / 2 + 1, "more points than the file has lines");
        profileLength3D(p);
        Vec2 at;
        double z;
        profileEval(p, p->start, &at, &z);
        profileEval(p, p->end, &at, &z);
    }
    fuzzCheck(profiles <= (blocks > 1 ? blocks : 1), "more profiles than blocks");
    profileFreeList(list);
    return 0;
}
