// One machining plane of the pocket cycle: the choice of the strategy that
// machines list MAIN, the CUT lists and move list it runs with, and what is
// flushed after it (the outside-in replay, an open pocket-contour section).
#pragma once

#include <cstdint>

// Machines the current plane (MAIN filled, outer boundary first): the
// strategy's result, 1 done, 0 nothing done, -1 failure.
int pocketPlane();
// The two halves around the strategy: the set-up (retry mode, section pieces,
// circular-pocket start, kernel words, CUT lists, move list) and the flush
// (outside-in replay, move list freed, an open section closed).
void pocketPlanePrepare();
void pocketPlaneFinish();
// Whether the plane's step asks for the CUT lists: 1 or 0.
int pocketPlaneWantsCutLists();
