// The run's reset: every family whose state belongs to one run registers its reset here once, beside
// the reset's definition; a run's start calls them all through runResetAll, and so does a test that
// needs the state of a fresh run.
#pragma once

// Ranks are the families' layers, ten apart. Resets run from the highest rank down: a family resets
// before the lower families whose objects it holds or frees; a family that must follow another of its
// own layer takes that layer's rank minus one. Within a rank they run by name, so that the order never
// depends on which file the linker initialised first.
enum RunResetRank : int {
    kRunResetBase = 10,
    kRunResetGeometry = 20,
    kRunResetOffsets = 30,
    kRunResetContour = 40,
    kRunResetSurfaces = 50,
    kRunResetCollision = 60,
    kRunResetNcOut = 70,
    kRunResetCycle = 80,
    kRunResetAvoidance = 90,
    kRunResetCycles = 100,
    kRunResetExports = 110,
};

// A family registers through a static RunReset in its own file; registering one name twice keeps one.
void runResetAdd(int rank, const char* name, void (*reset)());
void runResetAll();
int runResetCount();  // the registered resets, for tests

struct RunReset {
    RunReset(int rank, const char* name, void (*reset)()) { runResetAdd(rank, name, reset); }
};

// State that lives from load to unload and that no run may reset (files kept open between runs,
// settings read once, counters and once-only notes that span the runs of a process) registers a
// LoadReset instead: loadResetAll runs them, in the same order, when the library is unloaded, and in
// tests that need the state of a freshly loaded library.
void loadResetAdd(int rank, const char* name, void (*reset)());
void loadResetAll();
int loadResetCount();

struct LoadReset {
    LoadReset(int rank, const char* name, void (*reset)()) { loadResetAdd(rank, name, reset); }
};
