// Neighbouring side paths of a channel region: their least distance, their order about the part axis
// and the repair of inner paths that leave the band between the outer ones. Angles are polar angles
// about the z axis, positive counter-clockwise; lists run 0 to 3 in that sense.
#pragma once

#include <cstdint>

struct Plist;
struct PlistArray;
struct Profile2D;
struct Vec3;

// Signed polar angle from a's plan direction to b's, in [-pi, pi].
double pathSignedAngle(const Vec3* a, const Vec3* b);
void pathRotateZ(Vec3* p, double angle);
// The first index whose kind is not a link; count - 1 when there is none.
int32_t firstCutIndexOr(const Plist* list);

// 0 when either list is empty, -1 when the paths swap order, else 1 with *distance lowered to the
// least distance between the cut points of each and the other's polyline.
int pathPairDistance(const Plist* a, const Plist* b, double* distance);
// Over the neighbouring pairs of 2 or 4 side lists: 1, 0 (another count), -1 (paths cross).
int minPathDistance(const PlistArray* lists, double* distance);
// Turns the coinciding start of inner lists 1 and 2 onto the middle of lists 0 and 3, fading out
// where they separate: 1, 0 (not 4 lists), -1 (they separate at once).
int repairPathDistance(const Profile2D* hub, PlistArray* lists);
int innerPathsInside(const PlistArray* lists);  // 1 when the inner lead-ins lie between the outer lists
// Turns the inner lead-ins toward the bisector of the outer lists: 0 nothing to do, 1, or -1.
int repairInnerPathStarts(PlistArray* lists);
