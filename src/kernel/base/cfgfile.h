// Parameter files: pairs of a key and a value written key ":=" value, with
// quoting, ";" comments and ">" continuation lines.
#pragma once

#include <cstdio>

// A key and a value read from a file, owned by the pair until handed on.
struct KvPair {
    char* key;
    char* value;
};

// Opens a file for reading without text translation. "| stdin" is standard
// input; a leading "~" stands for $HOME (null when HOME is not set).
FILE* cfgFileOpen(const char* fileName);

// Frees what the pair still holds and reads the next pair: 1 with the pair
// filled, 0 at the end of the file or when no complete pair could be read.
int cfgFileReadPair(FILE* file, KvPair* pair);

// Closes a file of cfgFileOpen; standard input stays open.
void cfgFileClose(FILE* file);

// Shared by the kernel's text readers: a blank is a space or a tab, a line
// ends at a carriage return or a line feed, and the byte 26 ends the file.
constexpr int kCfgEnd = -1;
// The next byte other than zero, or kCfgEnd at the end of the stream or the byte 26.
int cfgNextChar(FILE* file);
inline bool cfgIsBlank(int c) {
    return c == ' ' || c == '\t';
}
inline bool cfgIsLineEnd(int c) {
    return c == '\r' || c == '\n';
}
