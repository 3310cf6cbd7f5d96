// Word-pair (configuration) files: a keyword and its value per line.
#include <cstring>

#include "fuzzhelp.h"
#include "kernel/base/kvx/wordpair.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    wordPairResetState();
    std::string file = fuzzWriteFile("input.cfg", data, size);
    KvList* list = kvListAppend(nullptr, "*CALLER", "kept", kKvBuiltIn);
    list = readWordPairs(list, file.c_str(), kKvFile);
    fuzzCheck(list && strcmp(list->key, "*CALLER") == 0 && strcmp(list->value, "kept") == 0,
              "the caller's pair was changed");
    for (const KvList* n = list->next; n; n = n->next) {
        fuzzCheck(*n->key != '\0', "an empty keyword was stored");
        // A keyword is one word of one line; blanks inside a value become spaces.
        fuzzCheck(strpbrk(n->key, " \t\r\n#") == nullptr, "a keyword holds a blank, a line end or a comment");
        fuzzCheck(strpbrk(n->value, "\t\r\n#") == nullptr, "a value holds a tab, a line end or a comment");
        size_t length = strlen(n->value);
        fuzzCheck(length == 0 || (n->value[0] != ' ' && n->value[length - 1] != ' '),
                  "a value keeps a leading or trailing blank");
    }
    kvListFree(list);
    return 0;
}
