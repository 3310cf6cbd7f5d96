// The tool contour: up to five named 2D contours read from an exchange file.
#include <unistd.h>

#include "fuzzhelp.h"
#include "kernel/ncout/toolcontour.h"

namespace {

constexpr char kHeader[] = "kVX-Exchange-File\nkVX-Version: 1.0\ntool\n;\n";

void checkList(const ToolContour& list) {
    fuzzCheck(list.count >= 0 && list.count <= list.capacity, "a count beyond the capacity");
    fuzzCheck(list.count == 0 || list.elements, "elements counted but none held");
    for (int32_t i = 0; i < list.count; ++i) {
        int32_t kind = list.elements[i].kind;
        fuzzCheck((i == 0) == (kind == kToolElemStart), "a contour does not begin with exactly one start");
        fuzzCheck(kind >= kToolElemStart && kind <= kToolElemArcPos, "an element of an unknown kind");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzBytes in{data, size};
    std::string text = in.u8() & 1 ? kHeader : "";
    text.append(reinterpret_cast<const char*>(in.data), in.size);
    std::string file = fuzzWriteFile("tool.kvx", reinterpret_cast<const uint8_t*>(text.data()), text.size());
    ToolRecord record{};
    readToolContour(file.c_str(), &record);
    for (const ToolContour* list :
         {&record.tool, &record.extrusion, &record.holder, &record.head, &record.extension})
        checkList(*list);
    freeToolRecord(&record);
    unlink("QJW.TXT");
    return 0;
}
