// The blade of a channel as a pair of 3D contour lists along it (hub-side and tip-side mean lines,
// or the two curves of a blade profile file): construction and orientation, fold trimming, the
// lengthening before path generation, evaluation at a common parameter, and blade points against a
// revolved meridional profile.
#pragma once

#include <cstdint>

#include "plunge/plist3d.h"
#include "plunge/profile2d.h"

struct ProfileCurve;

struct ContourPair {
    Plist3D* first;  // the reference of every parameter of the pair
    Plist3D* second;
};

struct ContourTriple {
    Plist3D* slot[3];
};

// Both lists oriented: reversed when the last point lies below 0.6 of the first point's radius, or
// else more than 1.0 above it; both reversed once more with *IMP_REVERSE. Null on failure.
ContourPair* buildBladeContourPair(const ProfileCurve* a, const ProfileCurve* b);
void freeContourPair(ContourPair* pair);  // null-safe
void freeContourTriple(ContourTriple* triple);
// Deep copy with every point turned about z by (1 - s/L) a2 + a1 (s its parameter, L its list's length).
ContourPair* twistContourPair(const ContourPair* pair, double a1, double a2);
ContourPair* copyContourPair(const ContourPair* pair);
int normContourPairParams(ContourPair* pair);  // both lists over [0, L(first)]
int evalContourPair(const ContourPair* pair, double s, Vec3* onSecond, Vec3* onFirst);  // 1, or -1
double contourPairLength(const ContourPair* pair);
int contourPairEndAngles(const ContourPair* pair, double* start, double* end);  // radians; 1, or -1
double contourStartSlope(const Plist3D* list);  // degrees the first segment descends below the xy plane
int trimContourPairFolds(ContourPair* pair);    // 1 when a list was trimmed at a fold over 140 degrees
// Lengthens both lists by about e (capped when the ends are strongly bent): straight at both ends when
// a list starts at 40 degrees or steeper, else a curved 8-point lead in front and a straight end.
int prepareBladeContours(ContourPair* pair, double e);
int addCurvedLead(Plist3D* list, double d1, double d2);  // 1, or -1

// Where the segment between the pair's points at s crosses the revolved profile: 1, or -1 with the
// midpoint of the two points.
int bladeCrossingAtProfile(const ContourPair* pair, const Profile2D* profile, double s, Vec3* out);
int bladeCrossingAt(const ContourPair* pair, const ProfileLineCross* cross, double s, Vec3* out);
// Where the blade band crosses the profile's point at s (bisection along the pair); 1, or -1 when
// the profile cannot be evaluated.
int bladePointAtProfile(const ContourPair* pair, const Profile2D* profile, double s, Vec3* out);
