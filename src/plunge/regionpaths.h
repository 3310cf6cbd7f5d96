// Side paths of a channel region: built along the level between the walls, trimmed at the shroud or
// the next level, extended at their ends, linked across the blade, and their second lists on the
// shroud. Paths 0 and 3 run along the blade sides, 1 and 2 along the splitter's (empty without one).
#pragma once

#include <cstdint>

#include "plunge/edgecurve.h"

struct LevelCurves;
struct PlistArray;

// What the region builder reads besides the region's index.
struct RegionPathInputs {
    const LevelCurves* levels;  // the region's level curve and the next one
    const HubShroud* pair;      // the working hub and shroud
    CheckModel* const* models;  // blade, splitter (or null), blade turned by the pitch
    const TriGrid* const* grids;
    const ContourPair* contours;
    int32_t hasSplitter;
    ChannelTraceFn trace;
};

// Four paths appended to lists: 1 when points were trimmed at the shroud, 0 otherwise, -1 when a list
// cannot be added, or the side builder's negative result.
int buildRegionPaths(PlistArray* lists, int32_t region, const RegionPathInputs* in, double pitch,
                     double splitterAngle, double tolerance);
int trimPathAtShroud(Plist* path, const HubShroud* pair, int reverse, double offset);  // 1 marked, else 0
int trimPathAtCurve(Plist* path, const HubShroud* pair, int which, int reverse);  // which 1 hub, 2 shroud
int cutPathsAtLevel(PlistArray* lists, const HubShroud* level, double value);     // 0 when value <= 0
int cutPathsAtShroud(PlistArray* lists, const HubShroud* pair);
int linkSidePaths(Plist* a, Plist* b);
int linkAcrossBlade(Plist* first, Plist* fourth, double pitch);
void rotatePathAboutAxis(Plist* path, double angle);  // points and tool axes about z
int resetSplitterKinds(PlistArray* lists);            // 0 when a splitter path is empty
int pathsEndClearOfShroud(const PlistArray* lists, const HubShroud* pair, int allSides);
int extendSidePaths(PlistArray* lists, double extLead, double extTrail);  // 1
// Rolls the tool around the leading (side -1) or trailing (+1) blade edge: paths 0 and 3 (all four in
// the splitter case) compared with the blade contour turned back by 0, half the pitch or the pitch.
// 1, or -1 on a degenerate direction.
int edgeRollingPass(PlistArray* lists, const ContourPair* pair, double toolRadius, int side, int splitterCase,
                    double pitch);
// One list per side path of the points where the path's tool axes meet the shroud: the count added,
// or -1.
int buildSecondRegionLists(PlistArray* second, const PlistArray* lists, const HubShroud* hubCopy);
