// The surface objects of kvx exchange files ("oBsplSrf", "oPipeSrf"): the line reader and its writer.
//
// A surface object, line by line (brackets, '/', '(' and ')' read as blanks where numbers are taken):
//   oBsplSrf[id]                      object line, first column
//   (                                 attributes follow, up to the data block
//   order[4/3] rational[true] trimmed[true] periodicu[..] periodicv[..] offset[d] nco[uNum]   (a line each)
//   )
//   {                                 data block
//   u knot header "w w w n", 2 lines, uNum+uOrder lines "w t", 2 lines
//   v knot header "w w w n" (n = vNum+vOrder), 2 lines, n lines "w t", 1 line
//   per row: header, 1 line, vNum lines "w x X y Y z Z [h W]", 1 line
//   untrimmed: 2 lines; trimmed: "oTrim w kind w loops", 1 line, the loops, 2 data lines
// A loop is "oContour w w n" with one polyline, or "oCrvSet w w n" with n polylines joined; a
// polyline is 1 line, "oL [start] x x1 x2 y y1 y2", "oL x X y Y" per further point, 1 closing line.
// The writer fills the free lines with scope marks and comments, knots as "vk(t)", points as
// "oP(x[X] y[Y] z[Z] h[W])", so that its files are also well-formed exchange-file records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "surfaces/surflist.h"

enum : int32_t {
    kKvxLineSize = 1024,  // line buffers; lines are read in pieces of at most 1023 characters
};

// Line classes of kvxClassifyLine.
enum : int {
    kKvxLineOther = 0,
    kKvxLineScopeOpen = 1,   // '('
    kKvxLineAttr = 2,        // keyword[value]
    kKvxLineScopeClose = 3,  // ')'
    kKvxLineData = 4,        // '{'
};

// Whole files and buffers. 1 when every surface object was read; 0 for a null argument; -1 when the
// source cannot be opened, a surface object fails (the surfaces read before it stay in the list,
// the failed one is not added) or the list cannot grow. With option flag 2 of the global frame pair
// set (asked before reading) the surfaces read are taken through its matrix M1, on failure too.
int readSurfObjects(const char* path, SurfList* list);
int readSurfObjectsBuffer(const void* data, size_t size, SurfList* list);
int readSurfObjectsStream(FILE* file, SurfList* list);  // no frame mapping; the caller owns file

// One object, from the line after its object line. 0, or -1 with out left initialised and empty.
int kvxReadTrimSurface(FILE* file, TrimSurface* out);
// The surface part: 0 with the surface, the trimmed flag and the offset; -1 with a zeroed surface,
// trimmed 0 and offset 0.0.
int kvxReadBsplSurface(FILE* file, BsplSurface* surface, int32_t* trimmed, double* offset);
// One trim loop into an empty (zeroed) loop: 0 (an unknown loop keyword leaves it empty), or -1 with
// its points freed and the loop empty.
int kvxReadCurveSet(FILE* file, TrimLoop* loop);
// Appends one polyline of n points: 0, or -1 with the loop unchanged.
int kvxReadParCurve(FILE* file, int32_t n, TrimLoop* loop);

// Line helpers; buf holds kKvxLineSize bytes. kvxReadLine makes buf hold a data line (not empty, not
// a ';' comment, not a bare line end): 0 when it read a line and the last one is a data line, -1 at
// the end of the file, and -1 without reading when buf held a data line already.
int kvxReadLine(FILE* file, char* buf);
void kvxBlankBrackets(char* line);
// keyword and value hold kKvxLineSize bytes; returns one of the line classes above.
int kvxClassifyLine(const char* line, char* keyword, char* value);

// The hub and shroud reader asks for collinear loop points to be kept; every point is kept anyway.
void kvxSetKeepCollinear(int32_t flag);
int32_t kvxKeepCollinear();
void kvxSurfResetState();

// Writers of the same text: every double as "%.17g", so that reading back gives the same bits.
// kvxWriteTrimSurface: 0, or -1 for a record the reader could not take back (orders or counts out
// of range, a value that is not finite, a loop of one point) or a write error.
int kvxWriteTrimSurface(FILE* file, const TrimSurface* rec, int32_t id);
// A complete exchange file (header and every surface): 1, 0 for a null argument, -1 on failure.
int writeSurfObjects(const char* path, const SurfList* list);
