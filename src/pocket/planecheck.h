// Checks and preparations of a plane's contours before a strategy runs: the
// allowance of drafted walls, open sides, a circular pocket's centre, the
// validity of an input contour and the room for a helical plunge.
#pragma once

#include <cstdint>

#include "geometry/vec.h"
#include "pocket/clist.h"

enum : int32_t {
    kPocketErrHelix = 3123,  // no room for the helical plunge
};

// Raises the allowance of every contour of the list that ends above the plane
// bottom by the offset a drafted wall needs at that height: 1, or 0 when the
// wall angle is at most 1e-5 degrees.
int wallAngleAllowance(const char* list);
// Every element of contours 1.. that lies within 0.07 of contour 0 or outside
// it is marked as an open side; the result of the last list write, or the
// contour count when there are fewer than two.
int markOpenSides(const char* list);
// 1 and the centre when the list is one contour of arcs about one centre with
// one radius and direction, else 0.
int mainCircleCentre(const char* list, Vec2* centre);
// 1 when the chain is joined (gaps up to 0.01), its arcs fit their ends (within
// 0.01, repaired in place) and it closes; else 0.
int contourValidate(ContourElement* elements, int32_t count);
// 1 when the tool at the centre, grown by reach (both in kernel units), keeps
// clear, each by its allowance, of the walls and islands (INPUT and CLAMPS)
// that stand at the height; else 0. Stock boundaries and open sides are no walls.
int toolRoomAt(const Vec2* centre, double reach, double height);
// The same for the tool moving straight from one point to the other, and along a line or arc element.
int toolRoomAlong(const Vec2* from, const Vec2* to, double reach, double height);
int toolRoomOn(const ContourElement* move, double reach, double height);
// 1 when a helix of the radius about the centre (output units) keeps the tool
// clear, each by its allowance, of the walls and islands (INPUT and CLAMPS)
// that stand at the bottom height; 0 (3123) when not.
int helixClearCheck(const Vec2* centre, double helixRadius, double bottom);
// Forgets the walls the room checks keep between calls (the run calls it).
void planeCheckResetState();
