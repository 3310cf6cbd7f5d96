// The tool as the kernel knows it: the tool reference (a named z shift that
// the NC front end applies) and the tool contour, up to five 2D contours
// read from an exchange file while the POF output is open.
#pragma once

#include <cstdint>

#include "kernel/ncout/record.h"

enum : int32_t {
    kToolElemStart = 0,
    kToolElemLine = 1,
    kToolElemArcNeg = 2,  // an arc whose sign text begins with "-"
    kToolElemArcPos = 3,
};

struct ToolElement {
    int32_t kind;
    double x, y;    // the element's point
    double x2, y2;  // an arc's second point; 0 otherwise
};

struct ToolContour {
    int32_t count;
    int32_t capacity;
    ToolElement* elements;  // owned
};

// Zero-filled lists are empty.
struct ToolRecord {
    ToolContour tool;
    ToolContour extrusion;
    ToolContour holder;
    ToolContour head;
    ToolContour extension;
};

// Message numbers of the tool reference, sent as error records "number,name".
enum : int32_t {
    kToolRefMissing = 770,
    kToolRefFound = 771,
};

// The "*TOOL_REFERENCE" word of the configuration names the entry "*TREF_<name>"
// whose value is the z shift: 1 when it was found (771 sent, the front end
// takes the shift), 0 when not (770 sent) or when no name is given.
int readToolReference(CycleRecord* cycle);
const char* toolReferenceName();  // of the last readToolReference; "" before
double toolReferenceOffset();

// A new zero-filled tool record in the cycle (the old one freed); with the
// tool-contour flag 1 filled from "*TOOL_CONTOUR" of the configuration words
// (configuration runs) or "toolContour" of the variables.
void loadToolContour(CycleRecord* cycle);
// Empties the record and fills it from the exchange file, when one is named
// and readable.
void readToolContour(const char* fileName, ToolRecord* record);
void freeToolRecord(ToolRecord* record);  // accepts null

void toolContourStart(ToolContour* list, double x, double y);   // only into an empty list
void toolContourLineTo(ToolContour* list, double x, double y);  // only after a start
void toolContourArcNeg(ToolContour* list, double x, double y, double x2, double y2);
void toolContourArcPos(ToolContour* list, double x, double y, double x2, double y2);

void toolContourResetState();  // no tool reference
