// Contour reduction: long runs of short lines (what offsetting arcs leaves
// behind) are refitted into few lines and arcs within a tolerance; a result
// that crosses itself is refused.
#pragma once

#include <cstdint>

#include "pocket/clist.h"

// Reduces every contour of the list in place (a contour whose reduction fails stays): 1, or 0 for a bad name.
int contourReduceList(const char* name, double tolerance, int force);
// The new count written back into elements (room for capacity), the count
// unchanged when nothing was done, or 0 when the reduction failed.
int32_t contourReduceOne(ContourElement* elements, int32_t count, double tolerance, int force,
                         int32_t capacity);
void contourReduceResetState();  // forgets the reductions recorded in the run
// Arcs copied, runs of 10 or more lines of one source refitted: the count written to out (room for count).
int32_t reduceLineRuns(const ContourElement* elements, int32_t count, double tolerance, ContourElement* out);
// The lines and arcs of a refitted run written to out (at most n), or -1 when
// nothing was reduced or without memory.
int32_t refitLineRun(int32_t n, const ContourElement* lines, ContourElement* out, double tolerance);
