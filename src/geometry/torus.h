// Torus formulas of the tool model: a torus with tube radius r around a centre circle of
// radius R, centred on the z axis.
#pragma once

// Height of the torus' lower half at plan point (x, y); 0 where the point misses the tube.
double torusLowHeight(double x, double r, double R, double y);
// Parameter s along a line at distance d from the axis where the lower surface has the given
// slope: 0 found, -1 none.
int torusTangentParam(double* out, double r, double R, double d, double slope);
