#include "geometry/polygroup.h"

#include <cstdlib>

void polyGroupFree(PolyGroup* group) {
    if (!group) return;
    std::free(group->ids);
    if (group->lines) {
        for (int32_t k = 0; k < group->count; k++) {
            std::free(group->lines[k].points);
            std::free(group->lines[k].z);
        }
    }
    std::free(group->lines);
    std::free(group);
}
