#include "kernel/base/runreset.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

struct Entry {
    int rank;
    const char* name;
    void (*reset)();
};

// Filled by static initialisers of other files: built on first use, whatever their order.
std::vector<Entry>& entries() {
    static std::vector<Entry> list;
    return list;
}
std::vector<Entry>& loadEntries() {
    static std::vector<Entry> list;
    return list;
}

bool runsBefore(const Entry& a, const Entry& b) {
    if (a.rank != b.rank) return a.rank > b.rank;
    return std::strcmp(a.name, b.name) < 0;
}

void addEntry(std::vector<Entry>& list, int rank, const char* name, void (*reset)()) {
    if (!name || !reset) return;
    const Entry e{rank, name, reset};
    auto at = std::lower_bound(list.begin(), list.end(), e, runsBefore);
    if (at != list.end() && at->rank == rank && std::strcmp(at->name, name) == 0) return;
    list.insert(at, e);
}

}  // namespace

void runResetAdd(int rank, const char* name, void (*reset)()) {
    addEntry(entries(), rank, name, reset);
}

void runResetAll() {
    for (const Entry& e : entries()) e.reset();
}

int runResetCount() {
    return static_cast<int>(entries().size());
}

void loadResetAdd(int rank, const char* name, void (*reset)()) {
    addEntry(loadEntries(), rank, name, reset);
}

void loadResetAll() {
    for (const Entry& e : loadEntries()) e.reset();
}

int loadResetCount() {
    return static_cast<int>(loadEntries().size());
}
