// 3df facet files of both header layouts, read whole; a second read of the same
// file must find the layout's slot free again and give the same answer.
#include "fuzzhelp.h"
#include "surfaces/meshfiles/facetfile.h"
#include "surfaces/meshfiles/facetlist.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    facetFileResetState();
    std::string file = fuzzWriteFile("input.3df", data, size);
    FacetList* first = nullptr;
    int count = facetFileLoad(file.c_str(), &first);
    if (count >= 0) {
        fuzzCheck(first && first->count == count, "the count does not match the list");
        fuzzCheck(static_cast<size_t>(count) * kFacet98Bytes <= size, "more facets than the file holds");
    }
    FacetList* second = nullptr;
    fuzzCheck(facetFileLoad(file.c_str(), &second) == count, "a second read differs: a slot stayed busy");
    facetListFree(first);
    facetListFree(second);
    facetFileResetState();
    return 0;
}
