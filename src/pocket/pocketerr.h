// Pocket kernel failures: an internal code of the 3000 family is mapped to a
// host message number and sent as an error record of the current pocket record.
#pragma once

#include <cstdint>

enum : int32_t {
    kPocketErrOpenContour = 3011,
    kPocketErrStep = 3020,  // a list, ring or path step failed, or a table is full
    kPocketErrEmptyInput = 3024,
    kPocketErrElementCap = 3029,  // a contour would exceed the element cap
    kPocketErrPieceCap = 3030,
    kPocketErrToolRadius = 3040,
    kPocketErrNesting = 3042,
    kPocketErrStepFactor = 3201,
    kPocketErrNextRegion = 3210,  // silent
    kPocketErrNoRegion = 3213,
    kPocketErrGcodeCreate = 3250,
    kPocketErrGcodeOpen = 3251,
    kPocketErrGcodeWord = 3252,
    kPocketErrToolTypeDiameter = 3256,  // silent
};

// The host message number of a code (its low 16 bits, signed), or null when the code is silent.
const char* pocketErrorNumber(int32_t code);
// Sends the number through ncError of the current pocket record and keeps codes
// 3000..3199 as the last error; a silent code does nothing.
void pocketError(int32_t code);
int32_t pocketLastError();   // 0 when none was kept
int64_t pocketErrorCalls();  // calls of pocketError so far, silent codes included
// A run starts with no error of an earlier run held against it.
void pocketErrorClear();

void pocketErrorResetState();
