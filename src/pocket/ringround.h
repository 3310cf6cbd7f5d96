// Corner rounding of offset rings: sharp corners opened by an offset in and
// back out (which leaves arcs in them) or filleted one by one, and the arcs of
// such an opening inserted into an otherwise unchanged ring.
#pragma once

#include <cstdint>

#include "geometry/vec.h"
#include "pocket/clist.h"

enum : int32_t {
    kRoundOpenNoMemory = -1,
    kRoundOpenNone = -2,     // an offset of the opening gave no contour
    kRoundOpenSeveral = -3,  // the first offset gave several contours
};

// Every function writing to out needs room for kClistMaxElements elements there.

// The ring with its sharp corners rounded by r (flip turns the opening side):
// the element count in out, or -1.
int32_t contourRoundCorners(const ContourElement* elements, int32_t count, double r, ContourElement* out,
                            int flip);
// The ring offset by r towards its inside (outside with flip) and back by the
// distance the offset used: the count, or a kRoundOpen code.
int32_t contourOpenByOffset(const ContourElement* elements, int32_t count, double r, ContourElement* out,
                            int flip);
// resultCount, or -1 when a start point of the source lies farther than limit from the result.
int32_t contourStaysNear(const ContourElement* source, int32_t count, const ContourElement* result,
                         int32_t resultCount, double limit);
// 1 when a corner turning with the contour's orientation needs a fillet below r
// for the tool radius R and the step width w, else 0.
int cornerNeedsFillet(const ContourElement* elements, int32_t count, double R, double r, double w);
// 1 and the radius a sharp corner from first to second needs, 0 when it needs none.
int cornerFilletRadius(const ContourElement* first, const ContourElement* second, double R, double w,
                       double* radius);
// Fillet arcs of at most r in every corner turning with the orientation: the new count, -1 past the cap.
int32_t contourFilletCorners(const ContourElement* elements, int32_t count, double r, ContourElement* out);
// A fillet of the radius between first and second, which are trimmed to its ends:
// 1 at the first try, 0 after halving the radius, -1 when none of at least 0.01 fits.
int elementFillet(ContourElement* first, ContourElement* second, ContourElement* arc, double radius,
                  int orientation);
// Both ends moved by distance along their normals to side; -1 when an arc's radius would vanish.
int elementOffset(const ContourElement* element, ContourElement* out, double distance, int side);
// 1 and the crossing nearest to first's end when the two elements cross, else 0.
int elementIntersect(const ContourElement* first, const ContourElement* second, Vec2* point);
// The ring with the corner arcs of an opening by d put in place of its corners:
// the new count, -1 without memory, -2 when the first offset gives nothing.
int32_t contourInsertOpeningArcs(const ContourElement* elements, int32_t count, double d, ContourElement* out,
                                 int flip);

double contourRoundSnapDistance();  // the arc snap distance of the run
void ringRoundResetState();         // snap distance back to 0.1
