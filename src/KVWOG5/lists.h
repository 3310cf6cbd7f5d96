// Typed growable containers of the offset-geometry library and the small record conversions
// that go with them. Every header starts with count and capacity and ends with its data block;
// lists never shrink. Appends return -1 (recStackPush: 0) for a missing list or a failed growth,
// and a failed growth leaves the list as it was.
#pragma once

#include <cstdint>

#include "geometry/vec.h"

struct IntList {
    int32_t count;
    int32_t capacity;
    int32_t min;  // smallest value appended; INT32_MAX when empty
    int32_t max;  // largest value appended; INT32_MIN when empty
    int32_t* data;
};

struct IntPair {
    int32_t a;
    int32_t b;
};

struct List8 {
    int32_t count;
    int32_t capacity;
    IntPair* data;
};

struct PointList2D {
    int32_t count;
    int32_t capacity;
    double xmin, ymin, xmax, ymax;
    Vec2* data;
};

struct SegList2D {
    int32_t count;
    int32_t capacity;
    double xmin, ymin, xmax, ymax;
    Seg2D* data;
};

struct PointList3D {
    int32_t count;
    int32_t capacity;
    double xmin, ymin, zmin, xmax, ymax, zmax;
    Vec3* data;
};

struct Rec40 {
    double v[5];
};

struct Rec64 {
    double v[8];
};

struct Rec40List {
    int32_t count;
    int32_t capacity;
    double min[5];  // per field position
    double max[5];
    Rec40* data;
};

struct Rec64List {
    int32_t count;
    int32_t capacity;
    double min[8];  // per field position
    double max[8];
    Rec64* data;
};

// Each slot is a whole Rec64List header that owns its record block.
struct Rec144List {
    int32_t count;
    int32_t capacity;
    Rec64List* data;
};

struct RecStack40 {
    int32_t count;
    int32_t capacity;
    Rec40* data;
};

struct Triangle3D {
    Vec3 p[3];
};

struct FTriangle {
    float v[9];  // x, y, z of three vertices
};

struct TriList {
    int32_t count;
    int32_t capacity;
    double xmin, ymin, zmin, xmax, ymax, zmax;  // +1e10 / -1e10 when empty
    Triangle3D* data;
};

struct FTriList {
    int32_t count;
    int32_t capacity;
    float xmin, ymin, zmin, xmax, ymax, zmax;  // +1e10 / -1e10 when empty
    FTriangle* data;
};

struct WogArray {
    int32_t count;
    int32_t capacity;
    int32_t elemSize;
    void* data;
};

// Start candidates of the 2D offset; cursor is the next one to try.
struct StartCandList {
    int32_t count;
    int32_t capacity;
    int32_t cursor;
    int32_t reserved;
    double reservedValue;
    Seg2D* data;
};

IntList* intListCreate(int32_t capacity);
int intListReset(IntList* list);
void intListFree(IntList* list);
int intListAdd(IntList* list, int32_t value);

List8* list8Create(int32_t capacity);
int list8Reset(List8* list);
int list8Add(List8* list, const IntPair* pair);

PointList2D* pointList2DCreate(int32_t capacity);
int pointList2DReset(PointList2D* list);
int pointList2DAdd(PointList2D* list, const Vec2* p);

SegList2D* segList2DCreate(int32_t capacity);
int segList2DAdd(SegList2D* list, const Seg2D* seg);
// Point and segment lists share one header shape and one free.
void segList2DFree(SegList2D* list);
void segList2DFree(PointList2D* list);

PointList3D* pointList3DCreate(int32_t capacity);
int pointList3DAdd(PointList3D* list, const Vec3* p);
void pointList3DFree(PointList3D* list);

Rec40List* rec40ListCreate(int32_t capacity);
int rec40ListReset(Rec40List* list);
void rec40ListFree(Rec40List* list);
int rec40ListAdd(Rec40List* list, const Rec40* rec);

Rec64List* rec64ListCreate(int32_t capacity);
int rec64ListReset(Rec64List* list);
int rec64ListFree(Rec64List* list);
int rec64ListAdd(Rec64List* list, const Rec64* rec);

Rec144List* rec144ListCreate(int32_t capacity);
int rec144ListFree(Rec144List* list);
// Appends a deep copy of src (its box recomputed from the records).
int rec144ListAdd(Rec144List* list, const Rec64List* src);

RecStack40* recStackCreate(int32_t capacity);
int recStackPush(RecStack40* stack, const Rec40* rec);
// 1 and the last record in out, or 0 (out untouched) for a missing or empty stack.
int recStackPop(RecStack40* stack, Rec40* out);

// Frees the three-field lists: data block, then header.
void listFree(List8* list);
void listFree(RecStack40* stack);

TriList* triListCreate(int32_t capacity);
int triListAdd(TriList* list, const Triangle3D* tri);  // the new count
void triListFree(TriList* list);

FTriList* ftriListCreate(int32_t capacity);
int ftriListAdd(FTriList* list, const FTriangle* tri);  // the new count
void ftriListFree(FTriList* list);

WogArray* arrayCreate(int32_t capacity, int32_t elemSize);
void arrayFree(WogArray* array);
int arrayAdd(WogArray* array, const void* element);
// Copies size bytes (at most elemSize; the rest of the slot is zeroed). The element may lie in the
// array itself.
int arrayAddSized(WogArray* array, const void* element, int32_t size);
void* arrayAt(WogArray* array, int32_t i);  // no range check

StartCandList* startCandListCreate(int32_t capacity);
void startCandListFree(StartCandList* list);
int startCandListAdd(StartCandList* list, const Seg2D* cand);

// seg3 is x1, y1, z1, x2, y2, z2.
int seg4From6(Seg2D* out, const double* seg3);
int point2Copy(Vec2* out, const Vec2* p);
int point3From2(Vec3* out, const Vec2* p, double z);
int ftriToDouble(Triangle3D* out, const FTriangle* ftri);
// Box {xmin, ymin, xmax, ymax} of the Seg2D at seg; the box callback of segGridBuild.
int segBox2D(double* out, const void* seg);
// Sort order of Seg2D records by box: lower ymin, higher ymax, lower xmin, higher xmax first.
int segCompareBox2D(const void* a, const void* b);
