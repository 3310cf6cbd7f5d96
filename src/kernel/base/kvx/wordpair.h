// Word-pair (configuration) files: each line a keyword and its value; "#"
// begins a comment that runs to the line end.
#pragma once

#include <cstdio>

#include "kernel/base/kvx/kvlist.h"

// Reads the next pair: 1 with both outputs pointing into the reader's buffers
// (valid until the next call), 0 at the end of the file when no key was begun.
int readWordPair(FILE* file, const char** key, const char** value);

// Appends every pair of the file with the given origin type; an unreadable
// file leaves the list unchanged. Returns the head.
KvList* readWordPairs(KvList* list, const char* fileName, uint16_t type);

void wordPairResetState();
