// Smooth blends between two values over a parameter interval.
#pragma once

// Seventh-degree blend from a0 at t0 to a1 at t1 with three vanishing derivatives at both ends.
double blendC3(double t, double t0, double t1, double a0, double a1);
