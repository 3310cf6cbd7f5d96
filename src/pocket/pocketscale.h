// The geometry scale of the pocket kernel: small tools and inch input are
// machined in multiplied units so that the kernel's fixed tolerances fit.
#pragma once

#include <cstdint>

#include "kernel/cycle/cycle.h"
#include "pocket/clist.h"

void scaleFromTool();  // 25, or 50 / 500 for small tool radii
void scaleReset();     // 1
double scaleValue(double value);
double unscaleValue(double value);
void scaleElement(ContourElement* e);
void unscaleElement(ContourElement* e);
void scaleElements(ContourElement* elements, int32_t count);
void unscaleElements(ContourElement* elements, int32_t count);
// Elements and allowance of every contour of the list: 1, or 0 for an unknown list or a failed step.
int clistScale(const char* name);
// The scale from the tool, applied to the record's lengths, the kernel's and the contours of INPUT and
// CLAMPS; heights stay. 1, or 0 when a list could not be scaled.
int ccpScaleGeometry(CycleRecord* record);
