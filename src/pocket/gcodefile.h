// The G-code contour file: offset rings dumped as G41 ... G40 blocks with the
// tool radius in a G191 (or reference-tool G192) line, and read back into a
// contour list. "*RIF_NAME" may name a contour list instead of a file.
#pragma once

#include <cstdint>

#include "pocket/clist.h"

constexpr int kGcodeLineMax = 127;  // characters of a line; the rest of a longer line is dropped

// 0 when dumping is off; 1 after "G191 R..." (nothing for a list); -1 with 3250 when the file cannot be made.
int gcodeFileStart(double radius);
// Appends one contour to the file or the list: 1; 0 when dumping is off or the contour is empty;
// -1 when the file cannot be opened or the list refuses the contour.
int gcodeFileWriteContour(const ContourElement* elements, const ContourHeader* header);
// Reads the file into the list (null: read only): 0 when reading is off or no G191/G192 line was
// read, 1 after G191, 2 after G192; -1 after 3251 or 3252. The radius is scaled like the contours.
int gcodeFileRead(const char* listName, double* radius);
// Offset of the letter in the line with the number after it, or -1 when the word is missing.
int gcodeWord(char letter, const char* line, double* number);
void elementStore(ContourElement* array, int32_t index, const ContourElement* element);
