// Plane drivers and strategies that this build does not hold yet. Each fails
// openly (3020, -1) so that a plane dispatched to it is reported, not skipped.
#include "pocket/pocketerr.h"
#include "pocket/pocketrun.h"

namespace {

int missingDriver() {
    pocketError(kPocketErrStep);
    return -1;
}

}  // namespace

int pocketContourParallel() {
    return missingDriver();
}

int pocketSimpleDriver() {
    return missingDriver();
}
