// Stepover from a scallop height: the widest distance between neighbouring passes that leaves no cusp
// higher than a given height. Pure functions.
#pragma once

#include "collision/chkmodel.h"

// By tool type: ball, radius mill (torus rule) or any other (tilted flat end). angle in radians.
// A negative or non-finite height is refused with -1.
double stepover_for_tool(const ToolGeom* tool, double h, double angle);
double stepover_ball(double R, double h);
