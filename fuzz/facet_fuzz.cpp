// 98-byte facet records read from a stream: every record read must encode to
// the very bytes it came from.
#include <cstdio>
#include <cstring>

#include "fuzzhelp.h"
#include "surfaces/meshfiles/facet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string file = fuzzWriteFile("input.3df", data, size);
    FILE* f = fopen(file.c_str(), "rb");
    if (!f) fuzzFail("cannot open the input");
    Facet98 facet;
    size_t read = 0;
    while (facet98Read(f, &facet) == 0) {
        uint8_t bytes[kFacet98Bytes];
        facet98Encode(&facet, bytes);
        fuzzCheck(memcmp(bytes, data + read, kFacet98Bytes) == 0, "a record does not encode to its bytes");
        read += kFacet98Bytes;
    }
    fclose(f);
    fuzzCheck(read == size - size % kFacet98Bytes, "a whole record was not read");
    return 0;
}
