// Cut records (one plunge: top, bottom, axis and the tilt and link data later steps add), lists of
// them, sets of lists, and the coverage, gap and bottom-raising tests on them.
#pragma once

#include <cstdint>

#include "geometry/plist.h"
#include "geometry/vec.h"

struct Profile2D;

struct CutRecord {
    Vec3 top;      // top point at creation
    Vec3 bottom;   // bottom point
    Vec3 bottom2;  // copies that the row and output steps adjust
    Vec3 top2;
    Vec3 axis;  // (top - bottom) / |top - bottom|
    Vec3 vector2;
    Vec3 top3;
    Plist* list1;  // owned once set
    Plist* list2;
    double value;
    int32_t active;
    int32_t kind;
    int32_t mark;
};

struct CutRecordList {
    int32_t capacity;  // at least 1; doubles when an add finds the list full
    int32_t count;
    CutRecord* records;
};

struct CutListSet {
    int32_t capacity;  // at least 1; doubles when full
    int32_t count;
    CutRecordList** lists;  // owned
    int32_t* keys;
    double* values;
};

// Lists. The copy duplicates the records' point lists, so that a list and its copy are freed apart.
CutRecordList* idx5CutListCreate(int32_t capacity);
CutRecordList* idx5CutListCopy(const CutRecordList* list);  // null on failure or a null list
void idx5CutListFree(CutRecordList* list);                  // null-safe
int idx5CutListAdd(CutRecordList* list, const Vec3* top, const Vec3* bottom, int32_t kind);  // 1, or -1
int idx5CutListInsert(CutRecordList* list, int32_t index, const Vec3* top, const Vec3* bottom,
                      int32_t kind);  // 1, or -1 (also for an index outside 0..count)
void idx5CutListReverse(CutRecordList* list);

// Sets of lists; the set owns copies of the lists added.
CutListSet* cutListSetCreate(int32_t capacity);
int cutListSetAdd(CutListSet* set, const CutRecordList* list, int32_t key, double value);  // 1, or -1
void cutListSetFree(CutListSet* set);                                                      // null-safe

// Distance of x from the line through s and e, with its foot.
double cutLineDistance(const Vec3* x, const Vec3* s, const Vec3* e, Vec3* foot);
// 1 when every sample of p-q lies within r of some cut's axis line (also for a null list), 0 when
// one does not or the list is empty.
int cutListCovers(const CutRecordList* list, const Vec3* p, const Vec3* q, double r);
// Largest distance from the cuts of a to the nearest cut of b (0 when b is null); with a profile
// only samples whose profile parameters the side rule accepts count.
double cutListGap(const CutRecordList* a, const CutRecordList* b, int32_t side, const Profile2D* profile);
// Lifts the bottom of record i of list so that it stays above the active neighbour cuts of the
// lists of set around list j: 1 lifted, -2 lifted past the top, 0 unchanged (also for bad indices).
int cutRaiseBottom(CutRecordList* list, int32_t i, const CutListSet* set, int32_t j, double r, double m);
