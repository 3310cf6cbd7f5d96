// The NC output front end: the cycle record that receives the front end's
// records (the writer) and the message sink.
#pragma once

#include <cstdint>

#include "kernel/cycle.h"

void ncSetWriter(CycleRecord* cycle);  // null: the sink and the writers do nothing
CycleRecord* ncGetWriter();

// Emits "%d,%s" with code and text ("%d" without text) as an error record on
// the writer, a result longer than 128 characters cut to 127. Returns the
// emission's result; 0 without a writer.
int ncReportError(int32_t code, const char* text);

void ncOutResetState();  // no writer
