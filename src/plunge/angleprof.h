// Angle profile: the lead angle of the tool along a channel, one table for plunging down and one for
// plunging up, with stations at the blade edges blended smoothly between.
#pragma once

#include <cstdint>

struct PlistArray;

enum : int32_t {
    kAngleEdgeLeadMain = 1,      // leading edge of the main blade
    kAngleEdgeLeadSplitter = 2,  // leading edge of the splitter
    kAngleEdgeTrail = 3,         // trailing edge
    kAngleMaxStations = 3,
};

struct AngleStation {
    double position;  // path parameter
    double angle;     // radians
    int32_t edge;     // kAngleEdge...
    int32_t general;  // 1 when the station took the table's general angle
};

struct AngleTable {
    double angle;  // general angle (radians) where no station applies
    int32_t count;
    AngleStation stations[kAngleMaxStations];  // ascending position
};

struct AngleProfile {
    AngleTable table1;  // lead angles, plunging down
    AngleTable table2;  // lead-up angles, plunging up
};

AngleProfile* angleProfCreate();  // all zero, or null
void angleProfFree(AngleProfile* profile);
// Tables from the cycle parameters, stations at the cut ends of the four side lists: 1, or -1 when
// the array does not hold exactly four lists.
int angleProfInit(AngleProfile* profile, const PlistArray* sideLists);
double angleProfEval(const AngleProfile* profile, int useTable2, double position);
