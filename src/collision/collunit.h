// The length unit of the files and texts the collision layer meets outside the run: tool contours
// are read in it, reports written in it, mesh tolerances handed to the converter in it. The NC
// output sets it with its own unit factor, so both always agree.
#pragma once

// The factor that takes the outside unit to the run's lengths (1 by default). A factor that is not positive
// or not finite is refused with -1 and the old one stays; else 1.
int collSetUnitFactor(double factor);
double collUnitFactor();
