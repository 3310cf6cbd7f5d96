// Language files: the section of a language and its text lines. The first byte
// chooses the language asked for and the size of the line buffer.
#include <cstring>

#include "fuzzhelp.h"
#include "kernel/base/langfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    langFileResetState();
    FuzzBytes in{data, size};
    uint8_t choice = in.u8();
    static const char* const kLanguages[] = {"english", "german", "french", nullptr};
    const char* language = kLanguages[choice & 3];
    size_t bufferSize = 1 + (choice >> 2);  // 1 to 64: lines longer than the buffer are cut
    std::string file = fuzzWriteFile("input.lng", in.data, in.size);

    int handle = langFileOpen(file.c_str(), language);
    fuzzCheck(handle >= kLangFirstHandle && handle < kLangFirstHandle + kLangSlots,
              "a readable file was refused");
    char guard[80];
    memset(guard, 0x55, sizeof guard);
    int lines = 0;
    while (langFileNext(handle, guard, bufferSize)) {
        fuzzCheck(strnlen(guard, bufferSize) < bufferSize, "a line overran the buffer");
        for (size_t i = bufferSize; i < sizeof guard; ++i)
            fuzzCheck(guard[i] == 0x55, "a line wrote past the buffer");
        ++lines;
    }
    fuzzCheck(guard[0] == '\0', "the last read did not empty the buffer");
    langFileClose(handle);
    fuzzCheck(readLanguageFile(file.c_str(), language) == (lines > 0 ? 1 : 0),
              "the two ways of reading the section disagree");
    langFileResetState();
    return 0;
}
