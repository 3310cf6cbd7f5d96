// Small text helpers of the kernel.
#pragma once

#include <cstddef>

// Replaces every `from` by `to`; returns the number of replacements. With
// destination == source the work is done in place (nothing when from == to);
// otherwise the destination (room for strlen(source) + 1 bytes) gets the copy.
int strReplaceChar(char* destination, const char* source, char from, char to);

// Reads up to three numbers out of a text; returns how many were read (0-3).
// Null outputs are allowed for numbers the caller does not want.
int parseNumbers3(const char* text, double* first, double* second, double* third);

// Copies a text so that it can stand in an output name or value: a backslash is
// doubled, characters outside the safe set become "\%03d" of their code.
// Writes at most size - 1 characters and never splits an escape; returns the
// length that the whole escaped text needs (a result >= size means it was cut).
size_t escapeName(char* destination, size_t size, const char* source);
