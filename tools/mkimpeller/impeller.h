// Example impeller geometry: hub, shroud, main blade and splitter blade as trimmed B-spline surfaces in
// kvx exchange files, with a plunge-roughing job file beside them. Test data and example input.
//
// Design (r = distance from the z axis):
// - Hub meridian: the cubic Bezier (r0, z0), (r0, (z0 + z1) / 2), ((r0 + r1) / 2, z1), (r1, z1), which
//   leaves the inlet axially and reaches the outlet radially; the surface revolves it with the exact
//   rational quadratic circle (u along the meridian, v around the axis).
// - Shroud meridian: the hub's control polygon with every leg moved by the shroud offset toward the
//   channel and the interior corners re-intersected; the same construction.
// - Blade: mean surface between the hub and shroud meridians at equal Bezier parameters, turned about
//   the axis by wrap x t from leading (t = 0) to trailing edge (t = 1), reaching hubDepth into the hub
//   and shroudOvershoot past the shroud; its two sides lie thickness / 2 off it along its normal, each
//   a bicubic fit (u along the chord, v from hub to shroud). Two ruled caps close leading and trailing
//   edges, built from the sides' edge control points so that the patches share their edges exactly.
// - Splitter: the same blade turned by half the pitch, starting at splitterStart of the chord.
#pragma once

#include <cstdint>
#include <string>

#include "surfaces/surflist.h"

struct ImpellerOptions {
    std::string outDir = ".";
    int32_t blades = 8;
    double hubStartR = 15.0, hubStartZ = 40.0;  // leading end of the hub meridian
    double hubEndR = 60.0, hubEndZ = 5.0;       // trailing end
    double shroudOffset = 18.0;
    double thickness = 2.0;
    double wrapDeg = 25.0;
    double hubDepth = 1.0;
    double shroudOvershoot = 1.0;
    int32_t splitters = 1;  // 0: no splitter file, and the job has none
    double splitterStart = 0.5;
    double toolRadius = 2.5;  // ball tool of the job; the channel must be wider than its diameter
    int32_t narrowOk = 0;     // 1: a channel narrower than the tool is written too (a job that must fail)
};

// Names of the files written into outDir.
constexpr const char* kImpHubFile = "hub.kvx";
constexpr const char* kImpShroudFile = "shroud.kvx";
constexpr const char* kImpBladeFile = "blade.kvx";
constexpr const char* kImpSplitFile = "split.kvx";
constexpr const char* kImpJobFile = "job.cfg";

// Command line (without the program name): 1 options read, 0 help asked for (usage in error), -1 a bad
// option (error says which).
int impParseOptions(int argc, const char* const* argv, ImpellerOptions* out, std::string* error);
const char* impUsage();

// 1 when the options describe a sound part, else -1 with the reason.
int impCheckOptions(const ImpellerOptions& opt, std::string* error);

// Surfaces of each file, appended to list: 1, or -1 (bad options or no memory).
int impBuildHub(const ImpellerOptions& opt, SurfList* list);
int impBuildShroud(const ImpellerOptions& opt, SurfList* list);
int impBuildBlade(const ImpellerOptions& opt, int splitter, SurfList* list);  // sides, then the caps

// Narrowest gap between neighbouring blade sides along the hub, measured square to the blades.
double impHubChannelWidth(const ImpellerOptions& opt);

// Checks the options and writes every file: 1, or -1 with the reason.
int impWriteAll(const ImpellerOptions& opt, std::string* error);
