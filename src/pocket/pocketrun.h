// The pocket run's plane drivers: each machines list MAIN of one plane.
#pragma once

#include <cstdint>

// The default driver: the result of the last region path (0 or more), or -1.
int pocketContourParallel();
// Without the span, back-cut and region-order refinements (a vanishing step factor): 1, 0 or -1.
int pocketSimpleDriver();
