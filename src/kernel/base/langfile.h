// Language files: sections of text lines, one per language, and the lines that
// choose which section applies. Up to four files are open at a time, each known
// by a handle 123 to 126.
#pragma once

#include <cstddef>

enum : int {
    kLangFirstHandle = 123,
    kLangSlots = 4,
    kLangTooMany = -1,  // four files are open
    kLangCannotOpen = -2,
};

// Opens the file and searches the section of the language; returns the handle.
// A file without a matching section is open all the same; its reads return 0.
int langFileOpen(const char* fileName, const char* language);

// Reads the next text line of the section into the buffer (cut to size - 1
// characters): 1, or 0 at the section's end or for an unknown handle. The
// buffer is emptied first.
int langFileNext(int handle, char* buffer, size_t size);

void langFileClose(int handle);

// 1 when the language's section of the file holds at least one line, else 0.
int readLanguageFile(const char* fileName, const char* language);

void langFileResetState();  // closes every open file
