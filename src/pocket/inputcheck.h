// Checks of the pocket contours as read, before the set-up orients, nests and
// machines them: a contour that crosses itself or encloses no area, and, where
// the nesting alone decides which contour is a pocket and which an island,
// contours that cross each other or an island put outside every pocket. What
// they refuse reaches the host as a pocket error.
#pragma once

#include <cstdint>

#include "pocket/clist.h"

// Each closed contour of the list: 1 when none crosses itself or encloses less
// than the kernel tolerance times its length (a flat contour); otherwise 0 after
// pocket error 3011. Open contours are left to the set-up's own check.
int inputCheckContours(const char* list);
// The contours of the list as the nesting will place them: 1 when no two cross
// each other (one reaching clearly inside and clearly outside the other) and
// the outermost ones all run the same way (an outermost contour running the
// other way is an island drawn outside the pocket); otherwise 0 after pocket
// error 3042.
int inputCheckNesting(const char* list);

// The signed area a closed chain of lines and arcs encloses: positive when it
// runs counter-clockwise.
double contourArea(const ContourElement* chain, int32_t count);
