// Height ranges of the contours of one nesting level and the infeed planes
// derived from them: the tool steps down by the infeed depth and stops at
// every top and bottom of a contour on the way.
#pragma once

#include <cstdint>

struct LevelRow {
    double top;
    double bottom;
    int32_t flag;  // nonzero: the row reaches down without limit
    int32_t ref;   // the contour the row came from, -1 unset
};

struct LevelTable {
    int32_t capacity;
    int32_t used;  // one more than the highest row index set
    LevelRow* rows;
};

// Plane heights in descending order; slab k runs from z[k] down to z[k + 1].
struct PlaneList {
    int32_t capacity;
    int32_t used;
    double* z;
};

LevelTable* levelTableCreate(int32_t capacity);  // rows {0, 0, 0, -1}; null without memory
void levelTableFree(LevelTable* table);
int levelTableSet(LevelTable* table, int32_t index, double top, double bottom, int32_t flag, int32_t ref);
// 1 when z lies at least 1e-5 below the top and, for a bounded row, not below its bottom.
int levelRowContains(const LevelRow* row, double z);
// The highest top or bottom of a bounded row lying below z - 1e-5: its row index, or -1.
int32_t levelNextBelow(const LevelTable* table, double z, double* out);
// The highest top and lowest bottom of row 0 and the bounded rows: 1, or -1 when empty.
int levelTableRange(const LevelTable* table, double* top, double* bottom);
// The planes for an infeed depth; null when the table is empty, without memory or on overflow.
PlaneList* levelTableFromRange(const LevelTable* table, double infeedDepth);
void planeListFree(PlaneList* list);
