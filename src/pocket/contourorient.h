// Orientation, area and reversal of closed pocket contours, with the angle and
// arc-point helpers they rest on.
#pragma once

#include <cstdint>

#include "geometry/vec.h"
#include "pocket/clist.h"

double vecAngle2D(double dy, double dx);  // direction of (dx, dy) in [0, 2 pi)
// Signed turn at P1 from the direction P0->P1 to P1->P2; 0 for straight on and for a reversal.
double turnAngle(double x0, double y0, double x1, double y1, double x2, double y2);
double elemCuspTurn(const ContourElement* a, const ContourElement* b);  // +-pi
int contourIsFlatTriangle(const ContourElement* chain, int32_t count);
int contourSignedArea(const ContourElement* chain, int32_t count);  // +1, -1 or 0
int contourOrientation(const ContourElement* chain, int32_t count);
void contourOrientResetState();  // forgets the orientations recorded in the run  // +1 ccw, -1 cw, 0
                                 // undecided
void contourReverse(ContourElement* chain, int32_t count);
void arcPointAt(const ContourElement* arc, double t, Vec2* out);
void arcPointBetween(const ContourElement* arc, const Vec2* p1, const Vec2* p2, Vec2* out);
