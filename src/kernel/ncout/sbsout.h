// The SBS buffer of five-axis feed moves: tool tips with their tool axes and
// the path length as parameter, written as "SBS_point" statements that carry
// the points of two interpolating splines, one through the tips and one
// through points 10 along the tool axis.
#pragma once

#include "geometry/vec.h"

int sbsBufferCreate();  // 1, or -1 when memory is short (an earlier buffer is dropped)
// 1 added, 0 skipped (closer than 1e-5 to the last tip), -1 without buffer or on failure.
int sbsBufferAdd(const Vec3* tip, const Vec3* axis);
int sbsBufferFlushFree();  // writes the buffer when it holds points, then frees it; 1, or 0 without buffer
int sbsBufferCount();      // buffered points; -1 without buffer

// Writes the buffered points as SBS_point statements and empties the buffer:
// the count of statements written (0 for fewer than three distinct
// points, where no spline can be laid), -1 without buffer.
int ncSbsFlush();

void sbsResetState();  // drops the buffer without writing it
