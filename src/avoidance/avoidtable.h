// The head avoidance's table of tool-axis angles per point of a range: B, the tilt from Z, and C,
// the azimuth about Z, with the admissible intervals that the passes narrow and the fits keep to.
#pragma once

#include <cstdint>

#include "geometry/plist.h"
#include "geometry/vec.h"

// One point of a range; angles in radians.
struct AvoidEntry {
    uint32_t state;  // 1: the point collides with its current axis
    int32_t flag;    // searches: 0 not searched, 1 found, -1 failed, -2 (transient) misses a neighbour
    double parameter;
    double bBandLow, bBandHigh;  // B minus and plus the band half-width, with a B band
    double bMin, b, bMax;
    double cLow, c, cHigh;
};

struct AvoidTable {
    int32_t capacity;  // 2n + 2 for n points
    int32_t count;
    double leadAngle;
    double maxTilt;    // upper B limit
    int32_t bBandSet;  // 1 once every entry has a B band
    AvoidEntry* entries;
};

enum : int32_t {
    kAvoidColumnCLow = 1,
    kAvoidColumnCHigh = 2,
    kAvoidColumnC = 3,
};

// A table for a list with vectors: null without memory, without vectors, or when every axis is
// vertical (no azimuth anywhere). Sets the list's per-point bytes (1: azimuth defined or filled).
AvoidTable* avoidTableCreate(Plist* list, double leadAngle, double maxTilt);
void avoidTableFree(AvoidTable* table);
// Gives runs of points without azimuth (byte 0) the C of a neighbour; 0 when no point has one.
int avoidFillAzimuth(Plist* list, AvoidTable* table);
// New entry at parameter t between its neighbours, limits interpolated; B and C from axis when given.
// Its index, or -1 when the table cannot grow (the table is then unchanged).
int32_t avoidTableInsert(AvoidTable* table, double t, const Vec3* axis);

// Axis and angles.
int vecTiltAngle(const Vec3* v, double* out);      // 1
int vecAzimuth(const Vec3* v, double* out);        // 1, or 0 (out untouched) for a vertical v
int dirFromAngles(Vec3* out, double c, double b);  // 1, or 0 with (0, 0, 1) when sin b is tiny

// Limits.
void avoidShiftLimits(AvoidTable* table, double w);
// B min := 0 and B max := maxTilt, kept inside the B bands when they are set.
void avoidLimitPassA(AvoidTable* table, double maxTilt);

// C unwrapping across the +-pi seam (entries with flag -1 skipped): a new array of count values
// (malloc'd; null without memory or for a bad column), and the three columns in place (1, or 0 with
// the table unchanged).
double* avoidUnwrapColumn(const AvoidTable* table, int32_t which);
int avoidBuildTables(AvoidTable* table);
// The unwrapping step alone, over n values in place; a value whose flag is -1 is left out.
void avoidUnwrapValues(double* v, const int32_t* flags, int32_t n);
