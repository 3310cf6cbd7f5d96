// Parametrised 3D point lists (the cycles' tool-path container) and arrays of them.
#pragma once

#include <cstdint>

#include "geometry/vec.h"

// Kind of a point: the high byte of its 16-bit flag.
enum PointKind : uint8_t {
    kPointOrdinary = 0,
    kPointOrdinary1 = 1,
    kPointLink = 2,       // breaks a path into runs; storing it clears the low byte
    kPointMarked = 3,     // marked for removal
    kPointKind4 = 4,      // reported by plistKindChanges
    kPointTempLink = 5,   // temporary mark of plistFixRunKinds mode 3
    kPointRemoved = 6,    // removed in an earlier reduction pass
    kPointLinkLike = 10,  // a link for the reduction
    kPointKeep = 11,      // temporary mark of the reduction: stays in this pass
    kPointKind12 = 12,    // reported by plistKindChanges
};

enum : int32_t {
    kPlistMaxPoints = 40000,  // no list grows beyond this many slots
    kPlistArrayRecordSize = 120,
};

struct Plist {
    int32_t capacity;    // slots in every per-point array
    int32_t count;       // points in use
    int32_t direction;   // sense marker; plistReverse negates it, copies carry it
    Vec3* points;        // [capacity]
    Vec3* vectors;       // [capacity] or none
    uint8_t* bytes;      // [capacity], present exactly when vectors are
    double* parameters;  // [capacity], ascending or descending along the list
    uint16_t* flags;     // [capacity]: kind << 8 | sub-code
    int32_t reserved;
};

struct PlistArray {
    int32_t capacity;  // at least 1
    int32_t count;
    Plist** lists;  // owned
    double* values;
    int32_t* flags;
    double* values2;
    uint8_t* records;  // kPlistArrayRecordSize bytes per entry, or none
};

// Creation and release.
Plist* plistAlloc(int32_t n, int withVectors);  // exactly n slots
// Whether a pair of parameters gap apart can take a midpoint that the list keeps apart from both ends:
// it holds parameters within 1e-5 of each other as one (with room for rounding).
inline bool plistGapSplits(double gap) {
    return gap >= 2.2e-5;
}
Plist* plistCreate(int32_t n, int withVectors);  // n clamped to kPlistMaxPoints, one smaller retry
void plistFree(Plist* list);

// Both return the new point's index, or -1 (missing list or point, no memory, list full). A missing
// vector is stored as (0, 0, 1).
int32_t plistAppend(Plist* list, double t, const Vec3* point, uint16_t flag, const Vec3* vector,
                    uint8_t byte);
int32_t plistInsert(Plist* list, double t, const Vec3* point, uint16_t flag, const Vec3* vector,
                    uint8_t byte);  // keeps the parameters ordered

// Reading and measuring.
int32_t plistPointAtParam(const Plist* list, double t, Vec3* out);  // segment start index, or -1
int plistPointAndVectorAtParam(const Plist* list, double t, Vec3* outPoint, Vec3* outVec);  // 1, or -1
double plistLength(const Plist* list);  // leaves out segments with a link end
void plistSetArcLengthParams(Plist* list);
int plistFindNeighbours(const Plist* list, int32_t i, int32_t* outPrev, int32_t* outNext);  // 0, or -1
int plistKindChanges(const Plist* list, int32_t i, int32_t j);
int plistNextIsLink(const Plist* list, int32_t i);
int plistNextFreeIndex(int32_t i, const Plist* list, int32_t* out);  // 1, or 0 when there is none
// The nearest index after (before) i whose kind is neither a link nor marked for removal; -1 for none.
int32_t plistNextKeptIndex(int32_t i, const Plist* list);
int32_t plistPrevKeptIndex(int32_t i, const Plist* list);

// Editing.
int plistSplitAtParam(Plist* list, double t, double tol);  // 1 inserted, 0 vertex there, -1 failed
int32_t plistSplitIndex();                                 // vertex of the last split, or -1
int plistDeleteRange(Plist* list, int32_t i, int32_t j);   // 1, or 0 when i..j is not in the list
int plistDeleteRangeClamped(Plist* list, int32_t i, int32_t j);
int plistShiftStart(Plist* list, int32_t k);  // 1, or 0 unless 1 <= k < count
void plistReverse(Plist* list);
void plistClearKind3(Plist* list);
int32_t plistDropKind3(Plist* list);  // the new count
int32_t plistDropMarked(Plist* list);
void plistFixRunKinds(Plist* list, int mode);  // modes 2 and 3

// Copies: 1, or -1.
int plistCopyPoints(Plist* dst, const Plist* src);
int plistCopyRange(Plist* dst, const Plist* src, int32_t i0, int32_t i1);
int plistCopyCompact(const Plist* src, Plist* dst);  // leaves out kind 3

void plistResetState();

PlistArray* plistArrayCreate(int32_t n);
int plistArrayAdd(PlistArray* array, const Plist* list);  // stores a copy: 1, or -1
void plistArrayFree(PlistArray* array);
