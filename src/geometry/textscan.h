// Plain text helpers of the point-file readers.
#pragma once

// Lines of a text file, read in pieces of at most 128 characters (a longer line counts once per
// piece); -1 for an empty name, a name starting with a blank, or a file that cannot be read.
int fileCountLines(const char* fileName);
// The number right after the first occurrence of letter in line, when a digit, '-' or a blank
// follows it: 1 with out set, else 0.
int parseNumAfter(char letter, const char* line, double* out);
