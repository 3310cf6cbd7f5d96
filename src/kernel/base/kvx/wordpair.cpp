#include "kernel/base/kvx/wordpair.h"

#include <new>
#include <string>

#include "kernel/base/cfgfile.h"
#include "kernel/base/msg.h"
#include "kernel/base/runreset.h"

namespace {

// Grown as needed: configuration values (file lists, comments) have no fixed bound.
std::string gKey;
std::string gValue;

int readPair(FILE* file, const char** key, const char** value) {
    gKey.clear();
    gValue.clear();
    bool inValue = false;
    for (;;) {
        int c = cfgNextChar(file);
        if (c == kCfgEnd) {
            if (gKey.empty()) return 0;
            break;
        }
        if (c == '#') {
            // The comment's line end closes only the comment: the pair goes on.
            do c = cfgNextChar(file);
            while (c != kCfgEnd && !cfgIsLineEnd(c));
            if (c == kCfgEnd) {
                if (gKey.empty()) return 0;
                break;
            }
            continue;
        }
        if (cfgIsLineEnd(c)) {
            if (!gKey.empty()) break;
            continue;
        }
        if (cfgIsBlank(c)) {
            if (gKey.empty()) continue;
            if (!inValue)
                inValue = true;
            else if (!gValue.empty())
                gValue += ' ';
            continue;
        }
        if (inValue)
            gValue += static_cast<char>(c);
        else
            gKey += static_cast<char>(c);
    }
    while (!gValue.empty() && gValue.back() == ' ') gValue.pop_back();
    *key = gKey.c_str();
    *value = gValue.c_str();
    return 1;
}

}  // namespace

int readWordPair(FILE* file, const char** key, const char** value) {
    if (!file) return 0;
    // Memory short ends the reading as the end of the file does; the run learns that its words
    // were cut short.
    try {
        return readPair(file, key, value);
    } catch (const std::bad_alloc&) {
        msgFault("memory");
        return 0;
    }
}

KvList* readWordPairs(KvList* list, const char* fileName, uint16_t type) {
    FILE* file = fileName ? fopen(fileName, "rb") : nullptr;
    if (!file) return list;
    // Appended at the kept tail: a walk from the head for every pair made long files quadratic.
    KvList* last = list;
    while (last && last->next) last = last->next;
    const char* key;
    const char* value;
    while (readWordPair(file, &key, &value)) {
        if (KvList* node = kvListAppendAfter(last, key, value, type)) {
            if (!list) list = node;
            last = node;
        }
    }
    fclose(file);
    return list;
}

void wordPairResetState() {
    std::string().swap(gKey);
    std::string().swap(gValue);
}
static const RunReset gRunReset(kRunResetBase, "wordPair", wordPairResetState);
