#include "kernel/base/langfile.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "kernel/base/cfgfile.h"
#include "kernel/base/runreset.h"

namespace {

struct LangSlot {
    FILE* file;
    int hasSection;  // a section was found and still has lines
};

LangSlot gSlots[kLangSlots];
int gOpenCount = 0;

enum Keyword { kNone, kDefault, kLanguage, kStart, kEndWord };

Keyword keywordOf(const std::string& word) {
    if (word == "default") return kDefault;
    if (word == "language") return kLanguage;
    if (word == "start") return kStart;
    if (word == "end") return kEndWord;
    return kNone;
}

// Skips to the end of the current line; false at the end of the file.
bool skipLine(FILE* file, int c) {
    while (c != kCfgEnd && !cfgIsLineEnd(c)) c = cfgNextChar(file);
    return c != kCfgEnd;
}

// Reads the argument word behind a keyword. Returns false when the line (or
// file) ended before any argument; `c` is left on the argument's terminator.
bool readArgument(FILE* file, int& c, std::string& argument) {
    c = cfgNextChar(file);
    while (cfgIsBlank(c)) c = cfgNextChar(file);
    if (c == kCfgEnd || cfgIsLineEnd(c) || c == ';') return false;
    while (c != kCfgEnd && !cfgIsBlank(c) && !cfgIsLineEnd(c) && c != ';') {
        argument += static_cast<char>(c);
        c = cfgNextChar(file);
    }
    return true;
}

// Searches the file's section for the language; true when its "start" line was found.
bool searchSection(FILE* file, const char* language) {
    std::string choice;
    bool chosen = false;
    for (;;) {
        int c = cfgNextChar(file);
        while (cfgIsBlank(c)) c = cfgNextChar(file);
        if (c == kCfgEnd) return false;
        if (cfgIsLineEnd(c)) continue;
        std::string word;
        while (c != kCfgEnd && strchr("adefglnrstu", c)) {
            word += static_cast<char>(c);
            c = cfgNextChar(file);
        }
        if (c == kCfgEnd) return false;
        if (cfgIsLineEnd(c)) continue;  // a word without a blank behind it is dropped
        if (!cfgIsBlank(c) || word.empty()) {
            if (!skipLine(file, c)) return false;
            continue;
        }
        Keyword keyword = keywordOf(word);
        if (keyword == kNone) return false;  // a word of keyword letters that is no keyword
        std::string argument;
        if (!readArgument(file, c, argument)) {
            if (c == kCfgEnd) return false;
            if (c == ';' && !skipLine(file, c)) return false;
            continue;
        }
        switch (keyword) {
            case kDefault:
                if (!chosen) {
                    choice = argument;
                    chosen = true;
                }
                break;
            case kLanguage:
                if (language && argument == language) {
                    choice = argument;
                    chosen = true;
                }
                break;
            case kStart:
                if (!chosen || argument == choice) {
                    if (c == ';') skipLine(file, c);
                    return true;
                }
                break;
            default:  // "end" while searching
                break;
        }
        if (c == ';' && !skipLine(file, c)) return false;
        if (c == kCfgEnd) return false;
    }
}

// Reads the next text line of the section: 1 with the line, 0 at its end.
int nextSectionLine(FILE* file, char* buffer, size_t size) {
    for (;;) {
        int c = cfgNextChar(file);
        while (cfgIsBlank(c)) c = cfgNextChar(file);
        if (c == kCfgEnd) return 0;
        if (cfgIsLineEnd(c)) continue;
        if (c == ':') {
            // The text runs to the line end. A last line without a line end is
            // delivered too: a file's final newline is easily missing.
            size_t n = 0;
            c = cfgNextChar(file);
            while (c != kCfgEnd && !cfgIsLineEnd(c)) {
                if (n + 1 < size) buffer[n++] = static_cast<char>(c);
                c = cfgNextChar(file);
            }
            if (size) buffer[n] = '\0';
            return 1;
        }
        std::string word;
        while (c != kCfgEnd && strchr("den", c)) {
            word += static_cast<char>(c);
            c = cfgNextChar(file);
        }
        if (c == kCfgEnd) return 0;
        if (cfgIsLineEnd(c)) continue;  // "end" alone does not end the section
        if (!cfgIsBlank(c) || word != "end") {
            if (!skipLine(file, c)) return 0;
            continue;
        }
        std::string argument;
        if (readArgument(file, c, argument)) return 0;  // "end" with an argument
        if (c == kCfgEnd) return 0;
        if (c == ';' && !skipLine(file, c)) return 0;
    }
}

LangSlot* slotOf(int handle) {
    if (handle < kLangFirstHandle || handle >= kLangFirstHandle + kLangSlots) return nullptr;
    return &gSlots[handle - kLangFirstHandle];
}

}  // namespace

int langFileOpen(const char* fileName, const char* language) {
    if (gOpenCount == 0) memset(gSlots, 0, sizeof gSlots);
    if (gOpenCount >= kLangSlots) return kLangTooMany;
    int slot = 0;
    while (slot < kLangSlots && gSlots[slot].file) ++slot;
    if (slot == kLangSlots) return kLangTooMany;
    FILE* file = cfgFileOpen(fileName);
    if (!file) return kLangCannotOpen;
    gSlots[slot].file = file;
    gSlots[slot].hasSection = searchSection(file, language) ? 1 : 0;
    ++gOpenCount;
    return kLangFirstHandle + slot;
}

int langFileNext(int handle, char* buffer, size_t size) {
    if (buffer && size) buffer[0] = '\0';
    LangSlot* slot = slotOf(handle);
    if (!slot || !slot->file || !slot->hasSection || !buffer) return 0;
    if (nextSectionLine(slot->file, buffer, size)) return 1;
    slot->hasSection = 0;
    return 0;
}

void langFileClose(int handle) {
    LangSlot* slot = slotOf(handle);
    if (!slot || !slot->file) return;
    cfgFileClose(slot->file);
    slot->file = nullptr;
    slot->hasSection = 0;
    --gOpenCount;
}

int readLanguageFile(const char* fileName, const char* language) {
    int handle = langFileOpen(fileName, language);
    if (handle < 0) return 0;
    char line[264];
    int lines = 0;
    while (langFileNext(handle, line, sizeof line)) ++lines;
    langFileClose(handle);
    return lines > 0 ? 1 : 0;
}

void langFileResetState() {
    for (int i = 0; i < kLangSlots; ++i) langFileClose(kLangFirstHandle + i);
    gOpenCount = 0;
}
static const LoadReset gLoadReset(kRunResetBase, "langFile", langFileResetState);
