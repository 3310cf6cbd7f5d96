// Parameter files: pairs of a key and a value written key ":=" value, with
// quoting, ";" comments and ">" continuation lines.
#pragma once

#include <cstdio>

#include "kernel/kvx/kvlist.h"

// Opens a file for reading without text translation. "| stdin" is standard
// input; a leading "~" stands for $HOME (null when HOME is not set).
FILE* cfgFileOpen(const char* fileName);

// Frees what the pair still holds and reads the next pair: 1 with the pair
// filled, 0 at the end of the file or when no complete pair could be read.
int cfgFileReadPair(FILE* file, KvPair* pair);

// Closes a file of cfgFileOpen; standard input stays open.
void cfgFileClose(FILE* file);
