// Kernel-wide store of saved memory blocks (the region tree keeps its ring
// copies here); an entry is the handle of its block.
#pragma once

#include <cstddef>

struct SavedBlock {
    void* data;
    size_t size;  // bytes held
    SavedBlock* next;
};

SavedBlock* savedBlockPush(const void* block, size_t size);  // a copy, newest first; null without memory
void savedBlocksFree();
// Copies at most size bytes of the entry out: 0, or -1 for no entry.
int savedBlockCopy(const SavedBlock* entry, void* out, size_t size);
// Replaces the entry's block by a copy of size bytes, growing it when needed: 1, or 0.
int copyToHandle(SavedBlock* entry, const void* block, size_t size);
