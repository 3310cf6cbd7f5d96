// Range and collision-run walks of the head avoidance.
#include "avoidance/avoidhead.h"

namespace {

bool breaksRange(const Plist* path, int32_t i) {
    const int kind = path->flags[i] >> 8;
    return kind == kPointLink || kind == kPointLinkLike;
}

}  // namespace

int headAvoidNextRange(int32_t from, const Plist* path, int32_t* start, int32_t* end) {
    *start = *end = -1;
    if (!path || from < 0 || from >= path->count) return 0;
    int32_t s = from;
    while (s < path->count && breaksRange(path, s)) ++s;
    if (s >= path->count) return 0;
    int32_t e = s;
    while (e + 1 < path->count && !breaksRange(path, e + 1)) ++e;
    *start = s;
    *end = e;
    return 1;
}

void headAvoidClearStates(AvoidTable* table) {
    for (int32_t i = 0; i < table->count; ++i) table->entries[i].state = 0;
}

int headAvoidNextHitRun(const AvoidTable* table, int32_t from, int32_t* start, int32_t* end) {
    *start = *end = -1;
    int32_t s = from < 0 ? 0 : from;
    while (s < table->count && table->entries[s].state == 0) ++s;
    if (s >= table->count) return 0;
    int32_t e = s;
    while (e + 1 < table->count && table->entries[e + 1].state != 0) ++e;
    *start = s;
    *end = e;
    return 1;
}

int32_t headAvoidCountHits(const AvoidTable* table, int32_t* points) {
    int32_t runs = 0, hits = 0;
    for (int32_t i = 0; i < table->count; ++i) {
        if (table->entries[i].state == 0) continue;
        ++hits;
        if (i == 0 || table->entries[i - 1].state == 0) ++runs;
    }
    if (points) *points = hits;
    return runs;
}
