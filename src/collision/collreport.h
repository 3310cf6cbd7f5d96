// The run's collision report: which part of the tool assembly ever collided, one warning per part,
// and the measured possible shortening or needed lengthening of the tool's stick-out.
#pragma once

#include <cstdint>

#include "collision/toolenv.h"
#include "geometry/vec.h"

// Result of every assembly check.
enum CollResult : int32_t {
    kCollFree = 1,
    kCollBadAxis = -1,      // no frame can be built from the tool axis
    kCollAny = -2,          // vertical check: some part hit (also the reserved combined obstacle)
    kCollHolder = -3,       // holder against the holder obstacle
    kCollHead = -4,         // head against the head obstacle
    kCollExtra = -5,        // reserved: the extra part is never built
    kCollExtension = -6,    // extension against the extension obstacle
    kCollCuttingPart = -7,  // shank above the cutter against the cutting-part obstacle
    kCollCutter = -10,      // the analytic cutter test against the part model
};

// The part a result is charged to.
enum CollPartCode : int32_t {
    kPartNone = 0,
    kPartTool = 1,
    kPartHolder = 2,
    kPartHead = 3,
    kPartTaper = 4,  // the assembly's own code for the taper cone; the report charges it to the tool
    kPartCutting = 5,
    kPartExtension = 6,
};

struct CollReport {
    uint8_t reduceMode;  // measure the possible shortening
    uint8_t extendMode;  // measure the needed lengthening; silences head, holder and extension warnings
    double step;         // length increment of both searches, at least 0.1
    uint8_t toolHit, extensionHit, holderHit, headHit;
    uint8_t toolWarned, extensionWarned, holderWarned, headWarned;
    double refLength;        // cutterTop plus the ball or corner radius
    double reducibleLength;  // cutterTop - tipTop - chamferTop
    double clearanceZ;
    int32_t reduceSteps;  // <= 0: steps every free position so far could go deeper and stay free
    int32_t extendSteps;  // >= 0: steps the colliding positions must be pulled back to be free
};

void collrep_init(CollReport* report, const ToolDescription* tool, int32_t reduce, int32_t extend,
                  double step, double clearanceZ);
// Replaces the run's report; 1 (the report is absent when memory is short).
int collrep_create(const ToolDescription* tool, int32_t reduce, int32_t extend, double step,
                   double clearanceZ);
void collrep_free();
const CollReport* collrep_current();
// Charges one tested position: result unchanged without a report, else 1 (accepted) or -2.
int32_t collrep_record(const Vec3* point, const Vec3* axis, int32_t partCode, int32_t result);
int collrep_set_flags(CollReport* report, const Vec3* point, const Vec3* axis, int32_t code);
// True when the assembly is free with the tip moved by d along the axis.
bool coll_check_shifted(const Vec3* point, const Vec3* axis, double d);
// Warnings per part (head, holder, extension, tool), each at most once per report; 1 when one was sent.
int collrep_warn(CollReport* report, int32_t mode);
int collrep_check(int32_t mode);
void collrep_print_values(const CollReport* report);
void collrep_print(int32_t mode);
