// Library-wide error record with its debug log, the debug switch, temporary file names and the
// library's random generator with the random first start of the 2D offset.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

struct StartCandList;

struct WogErrorState {
    int32_t code;       // last recorded code
    int32_t line;       // source line given with it
    char file[256];     // source path given with it, cut to 255 characters
    int32_t debug;      // debug switch; once on, stays on
    int32_t firstCall;  // 1 until the switch file has been read
};

// Records the failure; in debug mode a negative code is also appended to "wogerrno.txt". Always 0.
int wogError(int32_t code, const char* file, int32_t line);
// Records the text with code -1 (so debug mode logs it), then puts the previous code back.
int wogWarning(const char* text);
int wogErrorReset();
int wogErrorPrint(FILE* stream);
const WogErrorState* wogErrorState();

// The debug switch; the switch file is read on the first call of the process only.
int wogDebugEnabled();
// Name of the debug switch file: the environment variable KV_WOGDEBUG_INFO when set, else the
// fixed name in the working folder.
const char* wogDebugInfoPath();

// Takes a free name "./" "/<hex>" suffix by creating it empty (exclusively: an existing file or link
// is never taken, and no other process can take the same name): 1 when made, 0 after 200 taken names
// or when the folder takes no new file, -1 when out is missing or too small for a name (out then holds
// an empty text). out receives the last name built. The names come from the library's own generator.
int makeUniqueTempName(char* out, size_t outSize, const char* suffix);

void wogRandSeed(uint32_t value);
double wogRandNext();  // in [0, 1)
// Exchanges candidate 0 with a random other one, chosen only by the seed value and the count.
int pickRandomStart(StartCandList* list, int32_t seedValue);
int memSwap(void* a, void* b, size_t size);

// Test support: everything back to its load-time state (switch file unread, seeds 1).
void wogResetState();
