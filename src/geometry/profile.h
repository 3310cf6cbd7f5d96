// Profile curves: 2D polylines parametrised by arc length with optional z values, a name and a
// kind; their point files, evaluation, reversal and optimisation boxes.
#pragma once

#include <cstdint>
#include <cstdio>

#include "geometry/plist.h"
#include "geometry/vec.h"

enum : int32_t {
    kProfileNameSize = 260,
};

// Kinds of profiles.
enum : uint8_t {
    kProfilePoints = 'p',  // read and constructed profiles
    kProfileSubN = 'n',    // sub-record ProfileSubN
    kProfileSubR = 'r',    // sub-record ProfileSubR
    kProfileSubF = 'f',    // sub-record ProfileSubF
    kProfileBoxX = 'x',    // the box list is a single box
    kProfileBoxY = 'y',
};

// The record and its lengths and z arrays are malloc'd; points too when ownsPoints is set.
struct ProfileCurve {
    double start;             // parameter of the first point
    double end;               // parameter of the last point
    double fitStart, fitEnd;  // offset range of the boundary fit
    int32_t count;
    char name[kProfileNameSize];  // file the profile was read from, or empty
    double reserved[4];
    Vec2* points;
    double* lengths;  // absolute parameter of every point, start .. end
    double* z;        // one per point, or null
    int32_t ownsPoints;
    uint8_t kind;
    uint16_t swapFit;
    uint16_t reversed;
    void* sub;  // kind-specific sub-record (malloc'd by the cycle code), or null
    ProfileCurve* next;
};

// Sub-records that profileFreeList releases with their profile; the cycle code fills the words.
struct ProfileSubN {
    int32_t words[2];
    ProfileCurve* inner;  // its first profile's sub-record is a PolyGroup
};
struct ProfileSubR {
    int32_t words[8];
    ProfileCurve* lists[2];
};
struct ProfileSubF {
    int32_t words[4];
    ProfileCurve* lists[2];
};

// A path piece of the cycle code: kind 1 runs backwards, kind 2 forwards.
struct ProfilePath {
    int32_t kind;
    int32_t count;
    Vec3* points;
};

// The boundary contour of the profile fit.
struct FitBoundary {
    double xmin, ymin, xmax, ymax;
    int32_t count;
    Seg2D* elements;
};

struct IntervalBox {
    double xmin, ymin, xmax, ymax;
};

// Box list along a profile; boxes is malloc'd.
struct IntervalList {
    int32_t count;
    IntervalBox* boxes;
};

// Parameter ranges along a profile; the box list spans from the first to the last.
struct ProfileRangeEntry {
    double t0, t1;
};
struct ProfileRange {
    int32_t count;
    ProfileRangeEntry* entries;
};

// Construction and release.
ProfileCurve* profileCreate(Vec2* points, int32_t n, uint8_t kind);  // points stay the caller's
ProfileCurve* profileLine(const Vec3* p0, const Vec3* p1);
ProfileCurve* profileFromPath(const ProfilePath* path);  // null for other kinds or no points
void profileFreeList(ProfileCurve* list);                // the whole chain; null-safe
void profileReverse(ProfileCurve* profile);
double profileLength3D(const ProfileCurve* profile);

// Evaluation at an arc-length parameter: the index of the segment's first point, or -1.
int32_t profileEval(const ProfileCurve* profile, double t, Vec2* point, double* z);
int profileTangent(const ProfileCurve* profile, double t, Vec2* dir);  // 1, or -1
// New malloc'd array of max(capacity, count) elements, one per segment; null on failure.
Seg2D* profileToSegList(const ProfileCurve* profile, int32_t capacity, int32_t* segCount);
// Lowers each point's z to the profile's z at the point's parameter where that is lower. The
// number of points lowered, or -1 for a missing list or profile.
int32_t plistClampToProfile(Plist* list, const ProfileCurve* profile);

// Profile point files: blocks of point lines ("X.. Y.. Z..") each closed by a "**END" line.
int prfCountBlocks(const char* name);                                           // or -1
int prfCopyBlock(std::FILE* file, const char* tempName);                        // 1, or -1
int32_t prfReadPoints(Vec2* points, double* z, const char* name, int32_t max);  // count, or -1
// Fits a profile into a boundary, setting *fitStart and *fitEnd: 0, or -1 when it cannot. Fitting
// offsets the profile, which this layer cannot do: the reader is handed profileFitBoundary.
using ProfileFitFn = int (*)(ProfileCurve* profile, const FitBoundary* boundary, double tolerance,
                             double* fitStart, double* fitEnd);
// Every block as a profile (a file of several blocks goes through "tmp.prf"); null when none. With a
// boundary, each profile is fitted into it by fit (which must then be given) into its fitStart and
// fitEnd, and a failed fit drops that profile and ends the list.
ProfileCurve* profileReadFile(const char* name, const FitBoundary* boundary, ProfileFitFn fit,
                              double tolerance, int reverse, int swapFit);

// Boxes of width `width` along the profile grown by margin; null without points or on failure.
IntervalList* profileOptIntervals(const ProfileCurve* profile, double margin, const ProfileRange* range,
                                  double width);
void intervalListFree(IntervalList* list);  // null-safe
