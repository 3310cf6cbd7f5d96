// Rows of plunges across the channel: a row runs about the part axis from side list 0 to side list 3
// at one path parameter (split into two halves by the inner lists where they cut), and becomes a list
// of plunge records whose tops lie on the start profile. Rows follow each other along the path
// parameter so that neighbouring rows stay within the row step.
#pragma once

#include <cstdint>

struct CutListSet;
struct CutRecordList;
struct MeshSet;
struct Plist;
struct PlistArray;
struct Profile2D;
struct ToolDescription;
struct Vec3;

enum : int32_t {
    kRowSetCapacity = 1000,
    kRowArcMaxSegments = 3600,  // a non-positive chord tolerance still ends the arc
};

// All rows of a region (possibly none); null only when no set can be made. Where the gap to the last
// rows cannot be kept by the usual steps (the rows jump where a side path rounds an edge or the inner
// lists begin), the step is halved down to a least one and the row past the jump is taken, so that the
// rows reach the window's end unless no row can be laid there.
CutListSet* buildPlungeRows(const PlistArray* sides, const PlistArray* second, const Profile2D* start,
                            double g);
// The stations' axes blend the side lists' axes, which alone the tilt search measured: every station's
// axis is measured against the blades and, where the blend reaches one, tilted back into its window
// (its top moved onto the start profile along the new axis); nothing without the collision search
// (*COLL_CHECK). The number of stations tilted, -1 when a query fails or a station has no free axis,
// -2 on cancel.
int plungeRowsClearAxes(CutListSet* set, const PlistArray* sides, const Profile2D* start,
                        const ToolDescription* tool, const MeshSet* blades);
// 1 when the rows reach the end of their parameter window (within the row step g), or when there is
// no window to cover; 0 when they stop short of it and part of the channel stays uncut.
int plungeRowsReachEnd(const CutListSet* set, const PlistArray* sides, double g);
// 1 row added (*t its parameter), 0 the gap cannot be kept, -1 no acceptable row.
int nextPlungeRow(CutListSet* set, const PlistArray* sides, const Profile2D* start, double stationStep,
                  double target, double* t);
// A row walked at the row step against the last two rows: 1 added, -1 failed.
int rowBetween(CutListSet* set, const PlistArray* sides, const Profile2D* start, double stationStep, double g,
               double t);
// Rebuilds list index of the set with uniform stations: 1, or -1 (set empty or row not rebuilt).
int rebuildLastRow(const Profile2D* start, CutListSet* set, int32_t index, const PlistArray* sides,
                   double stationStep);
// a and b (with vectors) are emptied and filled: 1 one row in a, 2 halves a and b, -1 no row.
int rowAtParam(Plist* a, Plist* b, const PlistArray* sides, double t);
// Records of a row (its parameters become arc lengths); null for a row of fewer than two distinct
// starting points, a non-positive step or no memory.
CutRecordList* rowCuts(const Profile2D* start, Plist* row, double stationStep, int uniform);
int rowStationCrossing(const Profile2D* start, const Plist* row, double s, Vec3* bottom, Vec3* top);
// Appends the arc about the z axis from one point to the other (axes from and to, interpolated):
// the row's parameters become arc lengths. 1, or -1 when the row is full.
int rowArc(const Vec3* from, const Vec3* fromAxis, const Vec3* to, const Vec3* toAxis, Plist* row);
CutRecordList* lastRowOfSet(const CutListSet* set, int32_t key, int32_t* index);  // key 0 or key; null
