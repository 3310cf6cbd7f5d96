// Meridional profiles: (r, z) polylines, the sections of surfaces of revolution about the z axis,
// with arc-length parameters; evaluation, closest point, offsets, editing, joining, and the crossing
// of 3D segments with the surface of revolution a profile describes. A 3D point (x, y, z) is read as
// (r, z) with r = sqrt(x^2 + y^2).
#pragma once

#include <cstdint>

#include "geometry/spline.h"
#include "geometry/vec.h"

struct ProfileCurve;
struct Plist3D;

struct Profile2D {
    int32_t capacity;  // at least 1
    int32_t count;
    Vec2* points;       // (r, z)
    double* param;      // cumulative 2D arc length from the first point, unless rescaled
    PolyCurve* spline;  // cubic spline through the points, or null; rebuilt when the points change
};

// The reference of the channel coordinates: a vector and an extended copy of a level profile.
struct ChannelSection {
    Vec3 reference;
    Profile2D* profile;  // owned
};

// Small 2D angle helpers (radians).
double signedAngle2D(const Vec2* a, const Vec2* b);  // [-pi, pi]; 0 when either is shorter than 1e-5
double polarAngle2D(const Vec2* v);                  // signedAngle2D((1, 0), v)
int meridianToWorld(const Vec2* p, double phi, Vec3* out);

// Construction. Constructors return null on failure.
Profile2D* newProfile2D(int32_t capacity);
Profile2D* copyProfile2D(const Profile2D* profile);  // points and parameters, no spline
void freeProfile2D(Profile2D* profile);              // null-safe
// From a profile curve with z values: reversed so that it runs from its higher to its lower z, and
// once more with *IMP_REVERSE.
Profile2D* profile2DFromCurve(const ProfileCurve* curve);
Profile2D* profile2DFromPlist3D(const Plist3D* list);  // higher z first
// Offset by |d| to the left of the running direction (d >= 0) or to the right (d < 0); a fold of the
// offset in its second half ends it there.
Profile2D* profile2DOffset(const Profile2D* profile, double d);
ChannelSection* channelSectionCreate(const Vec3* reference, const Profile2D* profile, double length);
void channelSectionFree(ChannelSection* section);
int channelSectionCoords(const ChannelSection* section, Vec2* out, const Vec3* p);

// Queries.
int32_t evalProfile2D(const Profile2D* profile, double s, Vec2* out);  // segment start index, or -1
double profileParamAtPoint(const Profile2D* profile, int32_t i, const Vec2* point);
// Signed distance of p (negative right of the profile's direction); param and segment of the foot.
// 1e300 (either sign) when there is nothing to measure: no profile, or p too far for a squared distance.
double closestPointProfile2D(const Profile2D* profile, const Vec3* p, double* param, int32_t* segment);
// The same for many points of a profile whose points stay as they are: its search boxes, of
// profile2DBoxSize doubles (0 below two points), taken once by profile2DBoxes.
int32_t profile2DBoxSize(const Profile2D* profile);
void profile2DBoxes(const Profile2D* profile, double* boxes);
double closestPointProfile2DBoxed(const Profile2D* profile, const double* boxes, const Vec3* p, double* param,
                                  int32_t* segment);
double polylineDistance2D(const Vec2* points, int32_t count, const Vec2* point, Vec2* foot);
int profileSideOf(const Profile2D* a, const Profile2D* b);  // 2 when b starts left of a, else 1

// Editing: 1 on success, -1 on failure unless said otherwise.
int reverseProfile2D(Profile2D* profile);
int trimProfile2DStart(Profile2D* profile, double s);
int extendProfile2D(Profile2D* profile, double d);
int appendProfile2DPoint(Profile2D* profile, double d);
int32_t dropCloseProfilePoints(Vec2* points, int32_t count, double d);  // the new count
int cutProfile2DAtCrossing(Profile2D* profile, const Seg2D* segment);   // 1 cut, 0 no crossing
int cutProfile2DAtReversal(Profile2D* profile);                         // 1 cut, 0 none
int fitProfile2DToSpan(Profile2D* a, Profile2D* b);                     // makes b span a
// b up to its first crossing with a, continued along a. flag 1 (and s = -1.0) when they do not meet
// and b starts on the right of a: the result is then a from its second point.
Profile2D* joinProfiles2D(const Profile2D* a, const Profile2D* b, double* s, int32_t* flag);
int profile2DSpline(Profile2D* profile);
void recomputeProfile2DParams(Profile2D* profile);  // cumulative lengths from 0, spline rebuilt

// Crossings of the 3D segment p-q with the surface of revolution: 1 found (out), 0 none, -1 failure.
int segmentPointAtZ(const Vec3* a, const Vec3* b, double z, Vec3* out);
int segmentPointAtRadius(const Vec2* target, const Vec3* a, const Vec3* b, Vec3* out);
int crossSegmentProfileExact(const Profile2D* profile, const Vec3* p, const Vec3* q, Vec3* out);
// The same with the profile's search boxes (profile2DBoxes) taken once for many segments.
int crossSegmentProfileExactBoxed(const Profile2D* profile, const double* boxes, const Vec3* p, const Vec3* q,
                                  Vec3* out);
int crossSegmentProfile(const Profile2D* profile, const Vec3* p, const Vec3* q, Vec3* out, double f);
int crossSegmentProfileAlt(const Profile2D* profile, const Vec3* p, const Vec3* q, Vec3* out, double f);
int crossSegmentProfileTwice(const Profile2D* profile, const Vec3* p, const Vec3* q, Vec3* out);
int crossLineProfile(const Profile2D* profile, const Vec3* p, const Vec3* q, Vec3* out, double f);
// crossLineProfile for many segments against one profile: what depends on the profile alone is
// taken once. The profile must outlive the object and keep its points. Null on failure.
struct ProfileLineCross;
ProfileLineCross* profileLineCrossCreate(const Profile2D* profile);
void profileLineCrossFree(ProfileLineCross* cross);  // null-safe
int crossLineProfilePrepared(const ProfileLineCross* cross, const Vec3* p, const Vec3* q, Vec3* out,
                             double f);
