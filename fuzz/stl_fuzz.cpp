// STL files, ASCII and binary, read into triangle lists.
#include "KVWOG5/lists.h"
#include "fuzzhelp.h"
#include "surfaces/meshfiles/stl.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string file = fuzzWriteFile("input.stl", data, size);
    int kind = stl_is_binary(file.c_str());
    fuzzCheck(kind == 0 || kind == 1, "a readable file was refused");
    TriList* list = stl_read(file.c_str());
    if (list) {
        fuzzCheck(list->count >= 0 && list->count <= list->capacity, "a count beyond the capacity");
        // A binary record takes 50 bytes; an ASCII facet takes more than 50 characters.
        fuzzCheck(static_cast<size_t>(list->count) <= size / 50 + 1, "more triangles than the file holds");
    }
    triListFree(list);
    return 0;
}
