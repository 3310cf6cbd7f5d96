// Helpers on the rings of the level loop: splicing two contours at their
// crossings, filtering the rings of a step, tests of a ring against MAIN and
// INPUT, and the bookkeeping of the ring-to-contour table.
#pragma once

#include <cstdint>

#include "geometry/vec.h"
#include "pocket/clist.h"
#include "pocket/elemaccess.h"

// States of a crossing record while contours are spliced.
enum : int32_t {
    kSpliceOpen = 1,      // a crossing the trace may turn at
    kSpliceUsed = 2,      // reached by a trace
    kSpliceRejected = 3,  // a trace from it gave no acceptable contour
};

// Splits every arc of a quarter circle or more at its midpoint into two arcs.
// The chain needs room for twice its count; the new count.
int32_t arcsSplitQuarter(ContourElement* chain, int32_t count);

// Walks A and B from crossing to crossing (records sorted along A, as
// intersectContours writes them) and writes the closed contours they bound
// that fit the headers' sides into out (room for outCapacity elements and
// maxContours contours). The number written; 0 when a trace broke off (the
// offset distance is frozen) and -1 at the element cap (3029).
int32_t contourSplice(const ContourElement* a, const ContourHeader* headerA, const ContourElement* b,
                      const ContourHeader* headerB, PocketIsect* records, int32_t n, ContourElement* out,
                      int32_t outCapacity, int32_t* ringStart, int32_t* ringCount, int32_t maxContours);

// An extra test a ring must pass in ringsFilter: non-zero to keep it.
typedef int (*RingCheck)(const ContourElement* ring, int32_t count);
// Drops the rings (laid out in buffer by ringStart / ringCount) that are open,
// cross the source, sit on its start or, for mode -1 with flag 0 and mode 1
// with flag 1, contain it or (distance above 0.5) lie outside it; those that
// fail check (when given) or start outside the MAIN bounding circle (3029).
// The rings left are moved up; their count.
int32_t ringsFilter(const ContourElement* source, int32_t sourceCount, ContourElement* buffer,
                    int32_t* ringStart, int32_t* ringCount, int32_t nRings, double distance, int mode,
                    int flag, RingCheck check);

int mainRotateToContour(int mode);  // 1
void chainSetSourceTag(ContourElement* chain, int32_t count, int32_t tag);
int probeOutsideFarther(const ContourElement* element, const ContourElement* a, int32_t countA,
                        const ContourElement* b, int32_t countB);
int probeFarthestInside(const ContourElement* chain, int32_t count, const ContourElement* a, int32_t countA,
                        const ContourElement* b, int32_t countB);
// The side (1 or 2) to which B turns against A at the crossing; 0 without tangents.
int isectTurnSide(const ContourElement* a, const ContourElement* b, const PocketIsect* record, int mode);
int ringStartClear(const ContourElement* chain, int32_t count, double distance);
int listNeedsOffset(const char* list, double distance);
int mainBoundingCircle();  // 1, or -1 when MAIN is empty
void mainBoundingCircleGet(Vec2* centre, double* radius);
int32_t listResetTags(const char* list);
void ringIndexRowCopy(int32_t source, int32_t target);
void isectCollapseNear(PocketIsect* records, int32_t count);
int ringOutsideMain(const ContourElement* ring, int32_t count);
int ringCrossesInput(const ContourElement* ring, int32_t count);
int ringInsideOtherInput(const ContourElement* ring, int32_t count);
void listStrictRings(int flag);

void ringHelpersResetState();  // no bounding circle, no recorded splices or ring checks
void ringSpliceMemoClear();
