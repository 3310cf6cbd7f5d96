// Chains of element chunks in which the outside-in strategies collect their
// moves before emitting them.
#pragma once

#include <cstdint>

#include "geometry/vec.h"
#include "pocket/clist.h"

struct MoveChunk {
    int32_t capacity;
    int32_t count;
    ContourElement* elements;
    MoveChunk* next;
};

struct MoveChain {
    MoveChunk* head;  // the newest chunk
};

MoveChain* moveChainCreate(int32_t capacity);  // one empty chunk; null without memory
// Copies the element with the given tag; a full head chunk gets a new one in
// front. 1, or -1 without memory (the chain keeps what it had).
int moveChainAppend(MoveChain* chain, const ContourElement* element, int32_t tag);
void moveChainFree(MoveChain* chain);
void moveChunksFree(MoveChunk* first);
void moveChainReverseEach(MoveChain* chain);                       // inside each chunk; the chunk order stays
int moveChainHasPoint(const MoveChain* chain, const Vec2* point);  // an element's start or end
// 1 when both ends of the element lie within 1e-5 of one element of the chunks.
int moveChainCovers(const MoveChunk* first, const ContourElement* element);
// A chunk of elements first..last, linked in front of next; null without memory.
MoveChunk* moveChunkFromRange(int32_t last, int32_t first, MoveChunk* next, const ContourElement* elements);
// One chunk per run of material elements (non-negative tag) of every contour
// of the list, the newest run first; null when there is none.
MoveChunk* listMaterialRuns(const char* list);
