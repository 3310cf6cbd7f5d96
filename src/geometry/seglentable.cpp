// Length-sorted segment table.
#include "geometry/seglentable.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

bool plainEnd(const Plist* list, int32_t i) {
    const int kind = list->flags[i] >> 8;
    return kind == kPointOrdinary || kind == kPointOrdinary1;
}

}  // namespace

SegLenTable* segLenTableBuild(const Plist* list, int32_t first, int32_t last) {
    if (list == nullptr || list->count == 0) return nullptr;
    if (first < 0 || last < first || last >= list->count) return nullptr;
    SegLenTable* table = static_cast<SegLenTable*>(std::calloc(1, sizeof(SegLenTable)));
    if (table == nullptr) return nullptr;
    table->capacity = last - first + 1;
    table->entries =
        static_cast<SegLenEntry*>(std::malloc(static_cast<size_t>(table->capacity) * sizeof(SegLenEntry)));
    if (table->entries == nullptr) {
        std::free(table);
        return nullptr;
    }
    for (int32_t k = first + 1; k <= last; ++k) {
        if (!plainEnd(list, k - 1) || !plainEnd(list, k)) continue;
        table->entries[table->count++] =
            SegLenEntry{dist3D(&list->points[k - 1], &list->points[k]), k - 1, k};
    }
    // Ties by index keep the processing order independent of the sort's whims.
    std::sort(table->entries, table->entries + table->count, [](const SegLenEntry& a, const SegLenEntry& b) {
        return a.length < b.length || (a.length == b.length && a.i0 < b.i0);
    });
    return table;
}

void segLenTableFree(SegLenTable* table) {
    if (table == nullptr) return;
    std::free(table->entries);
    std::free(table);
}

int32_t segLenTableFind(const SegLenTable* table, double length, int32_t i0, int32_t i1) {
    if (table == nullptr || table->count == 0) return -1;
    const SegLenEntry* e = table->entries;
    // The bisection only narrows the start; the tolerance keeps entries of nearly the same length,
    // which may sit in either order, above lo.
    int32_t lo = 0, hi = table->count - 1;
    while (hi - lo > 1) {
        const int32_t mid = (lo + hi) / 2;
        if (e[mid].length + 1e-5 <= length)
            lo = mid;
        else
            hi = mid;
    }
    for (int32_t k = lo; k < table->count; ++k)
        if (e[k].i0 == i0 && e[k].i1 == i1) return k;
    return -1;
}

int32_t segLenTableLowerBound(const SegLenTable* table, double length) {
    if (table == nullptr || table->count == 0) return 0;
    const SegLenEntry* e = table->entries;
    const SegLenEntry* at = std::upper_bound(e, e + table->count, length,
                                             [](double len, const SegLenEntry& x) { return len < x.length; });
    return static_cast<int32_t>(at - e);
}

int segLenTableMove(SegLenTable* table, int32_t from, int32_t to, const SegLenEntry* entry) {
    if (table == nullptr || entry == nullptr) return -1;
    if (from < 0 || from >= table->count || to < 0 || to > table->count) return -1;
    SegLenEntry* e = table->entries;
    const SegLenEntry moved = *entry;
    if (to - 1 >= from) {
        // Moving up: the bound counted the old entry, which leaves the space below it.
        std::memmove(e + from, e + from + 1, static_cast<size_t>(to - 1 - from) * sizeof(SegLenEntry));
        e[to - 1] = moved;
    } else {
        // Moving down: the bound lies below the old entry, so the new one goes right at it.
        std::memmove(e + to + 1, e + to, static_cast<size_t>(from - to) * sizeof(SegLenEntry));
        e[to] = moved;
    }
    return 1;
}
