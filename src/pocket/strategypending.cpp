// Plane drivers and strategies that this build does not hold yet. Each fails
// openly (3020, -1) so that a plane dispatched to it is reported, not skipped.
#include "pocket/pocketerr.h"
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
