// Plain text helpers of the point-file readers.
#include "geometry/textscan.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int fileCountLines(const char* fileName) {
    if (fileName == nullptr || fileName[0] == '\0' || fileName[0] == ' ' || fileName[0] == '\t') return -1;
    std::FILE* f = std::fopen(fileName, "r");
    if (f == nullptr) return -1;
    char piece[129];
    int count = 0;
    while (std::fgets(piece, sizeof piece, f) != nullptr) ++count;
    std::fclose(f);
    return count;
}

int parseNumAfter(char letter, const char* line, double* out) {
    // The terminator would match too, and the look at the next character would run past the text.
    if (line == nullptr || letter == '\0') return 0;
    const char* at = std::strchr(line, letter);
    if (at == nullptr) return 0;
    const char next = at[1];
    if (!std::isdigit(static_cast<unsigned char>(next)) && next != '-' && next != ' ' && next != '\t')
        return 0;
    *out = std::strtod(at + 1, nullptr);
    return 1;
}
