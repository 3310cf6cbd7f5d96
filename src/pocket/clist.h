// Named contour lists of the pocket kernel: contours of line and arc elements
// kept in fourteen lists of one registry, addressed by the list's name.
#pragma once

#include <cstdint>
#include <vector>

enum : int32_t {
    kClistCount = 14,           // lists in the registry
    kClistMaxContours = 12000,  // contours per list
    kClistMaxElements = 50000,  // elements per contour and per scratch buffer
    kClistScratchBuffers = 3,
};

enum : int32_t {
    kElemLine = 1,
    kElemArc = 2,
};

// Slots of ContourElement::g. A line uses its start and end; an arc overlays
// its centre on the line's start.
enum : int {
    kLx1 = 0,
    kLy1 = 1,
    kLx2 = 2,
    kLy2 = 3,
    kAcx = 0,
    kAcy = 1,
    kAsx = 2,
    kAsy = 3,
    kAex = 4,
    kAey = 5,
    kAr = 6,
};

struct ContourElement {
    int32_t type;       // kElemLine or kElemArc
    int32_t sourceTag;  // >= 0 material edge (contour index after renumbering), -1 open side,
                        // -2 wall already handled, other negatives inserted moves
    double g[8];        // geometry, see the slot names above
    int32_t direction;  // arcs: +1 counter-clockwise, -1 clockwise
};

struct ContourHeader {
    uint8_t ccw;       // 1 counter-clockwise
    uint8_t leftSide;  // 1 when the material to machine lies left of the direction
    int16_t tag;       // level, nesting level or running number, by list
    uint32_t elementCount;
    ContourElement* elements;  // owned by the list while stored there
    double top;
    double bottom;
    int16_t parent;  // index of the enclosing contour after nesting, negative for none
    uint16_t stock;  // read as a stock boundary
    double allowance;
    int16_t group;  // pocket mark or pocket number, negative for none
    int16_t row;    // row of the ring-to-contour table
};

// Registry and names.
int clistIndex(const char* name);  // 0..13, -1 for any other text
const char* clistName(int index);  // null outside 0..13

// Every index below may be negative for "the last contour".
int clistCreate(const char* name);  // empties the list (releasing its contours); 1, or 0
int clistFree(const char* name);    // releases the contours and the slot array; 1, or 0
int clistDelete(const char* name, int32_t index);
int32_t clistGet(const char* name, ContourElement* elements, ContourHeader* header, int32_t index);
int32_t clistGetHeader(const char* name, ContourHeader* header, int32_t index);
int32_t clistSetHeader(const char* name, const ContourHeader* header, int32_t index);
int32_t clistSetTag(const char* name, int16_t tag, int32_t index);
int32_t clistMaxTag(const char* name);
int32_t clistCount(const char* name);
// A value that changes with every change of the list through these functions and is never given twice
// (0 for an unknown name): a step may recognise a list it has read before without reading it again.
uint64_t clistGeneration(const char* name);
// Copies header->elementCount elements into a new array the list owns; a
// negative index appends. 1, or 0 (bad name or index, full list, no memory, or a
// contour above the element cap, which also reports 3029).
int clistInsert(const char* name, const ContourElement* elements, const ContourHeader* header, int32_t index);
int clistReplace(const char* name, const ContourElement* elements, const ContourHeader* header,
                 int32_t index);
int clistClear(const char* name);  // 1

// The three shared element work buffers of kClistMaxElements elements (0..2); null otherwise.
ContourElement* clistScratch(int which);

void clistResetState();  // every list freed

// Contour index of a list into out (resized to its elements): false when it cannot be read.
bool clistLoad(const char* list, int32_t index, std::vector<ContourElement>& out);
