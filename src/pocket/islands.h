// The island side of a plane: first offsets of an open pocket into INSEL and
// SPAN, open edges (negative source tags) marked and searched, a ring clipped
// to a region contour, and the check that every island lies in its boundary.
#pragma once

#include <cstdint>
#include <vector>

#include "pocket/clist.h"
#include "pocket/elemaccess.h"
#include "pocket/regionstack.h"

enum : int32_t {
    kIslandMaxHits = 5000,  // crossings of one cut
    kIslandOpenTag = -1,    // an open edge
};

// States of a crossing while a ring is cut by a region.
enum : int32_t {
    kHitCreated = 1,
    kHitReached = 2,
    kHitPieceStart = 3,
};

// A piece of a cut ring: its elements and the hits it runs between.
struct IslandPiece {
    int32_t start, count;  // in the piece buffer
    int32_t fromHit, toHit;
};

// Open pocket, several MAIN contours: INSEL := MAIN[0] offset by R + allowance[0]
// away from the wanted orientation, the islands go to SPAN. 1, or -1.
int pocketIslandsSpans(double toolRadius, const double* allowance, int orientation);
// Material runs of region node k that neither cross nor lie in INSEL[0]
// offset by distance to side become open: 1, 0 when INSEL is empty, -1.
int pocketIslandRings(int32_t node, int side, double distance);

// The parts of the contour inside the region, closed along the region by open
// elements, written to out (room for kClistMaxElements): the count, 0 when
// nothing remains, -1 or -2 on failure. The retry grows a region that the cut
// only touches by 0.1 (in place: region needs room for kClistMaxElements).
int32_t cutContourByIslandRetry(const ContourElement* contour, int32_t count, ContourElement* region,
                                ContourHeader* regionHeader, ContourElement* out);
int32_t cutContourByIsland(const ContourElement* contour, int32_t count, const ContourElement* region,
                           int32_t regionCount, ContourElement* out);
// The pieces of a between the hits that lie in b, into pieceBuffer: the number of pieces, -1 at the cap.
int32_t islandPiecesWalk(const ContourElement* a, int32_t countA, const ContourElement* b, int32_t countB,
                         PocketIsect* hits, int32_t nHits, std::vector<ContourElement>* pieceBuffer,
                         std::vector<IslandPiece>* pieces);
// The pieces of a joined by the open stretches of b between them: the count in out, -1 at the cap, -2 when
// a piece's end is not a hit.
int32_t islandPiecesJoin(const ContourElement* a, int32_t countA, const ContourElement* b, int32_t countB,
                         const PocketIsect* hits, int32_t nHits,
                         const std::vector<ContourElement>& pieceBuffer,
                         const std::vector<IslandPiece>& pieces, ContourElement* out);
int32_t islandCutDegenerate();  // the counter the retry reads

// 1 when every later contour of the list crosses or lies in the first, 0 with
// 3042 for the first that lies outside, -1 with 3024 for an empty list.
int inputIslandsInside(const char* list);
// Every contour reversed, ccw and leftSide toggled, material tags renumbered
// to the contour's index: 0, or -1 on a replace failure.
int clistReverseAll(const char* list);
int clistNumberAll(const char* list);  // every tag := the contour's index; 0 or -1
// Tags of the span contours by the first boundary contour: 0 along it, -1 open. 1, or -1.
int spanTagAlongBoundary(const char* span, const char* boundary);

// Open-edge searches on a closed chain; indices from 0, wrapping past the end; -1 when none.
int32_t nextOpenElement(const ContourElement* elements, int32_t count, int32_t from);
int32_t nextMaterialElement(const ContourElement* elements, int32_t count, int32_t from);
int32_t prevOpenElement(const ContourElement* elements, int32_t count, int32_t from);
int32_t prevMaterialElement(const ContourElement* elements, int32_t count, int32_t from);
// Positions (RingPosition, elements from 1) where open and material edges meet.
int positionAtMaterialStart(const ContourElement* elements, int32_t count, const RingPosition* position);
int materialEndBefore(const ContourElement* elements, int32_t count, const RingPosition* position,
                      RingPosition* out);
int openStartAfter(const ContourElement* elements, int32_t count, const RingPosition* position,
                   RingPosition* out);
int materialRunStart(const ContourElement* elements, int32_t count, const RingPosition* position,
                     RingPosition* out);
// Material arcs between open elements with a chord below limit become open: how many.
int32_t shortArcsOpen(ContourElement* elements, int32_t count, double limit);
// 1 when a material element crosses a contour of the list from index 1 on.
int contourCrossesList(const ContourElement* elements, int32_t count, const char* list);
// 1 when the contour encloses the region and every contour of the list: none of
// them meets it and a point of each lies inside it; 0 otherwise.
int contourEnclosesList(const ContourElement* elements, int32_t count, const ContourElement* region,
                        int32_t regionCount, const char* list);
// Open mode: 1 when the contour lies in a stock contour of the list that runs as an island.
int contourInsideOpenPart(const ContourElement* elements, int32_t count, const char* list);

// Flags of the plane: the first span offsets of a plane reduce SPAN once.
int islandsPlaneStart();
void islandsSetPlaneStart(int on);
// The boundary-contact switch: island edges touching the boundary keep a material tag.
void islandsSetBoundaryContact(int on);
int islandsBoundaryContact();
void islandsResetState();
