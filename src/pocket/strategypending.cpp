// Plane drivers and strategies that this build does not hold yet. Each fails
// openly (3020, -1) so that a plane dispatched to it is reported, not skipped.
#include "pocket/cutlists.h"
#include "pocket/pocketerr.h"
#include "pocket/pocketrun.h"
#include "pocket/strategies.h"

namespace {

int missingDriver() {
    pocketError(kPocketErrStep);
    return -1;
}

}  // namespace

int stockOutin() {
    return missingDriver();
}

int pocketContourParallel() {
    return missingDriver();
}

int pocketSimpleDriver() {
    return missingDriver();
}

// Without the lists a plane is machined by its rings alone; asking for them fails openly.
int cutListsCreate(int32_t enabled) {
    return enabled ? missingDriver() : 0;
}
