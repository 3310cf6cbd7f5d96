#include "kernel/wordpair.h"

#include <string>

namespace {

// Grown as needed: configuration values (file lists, comments) have no fixed bound.
std::string gKey;
std::string gValue;

constexpr int kEnd = -1;

// The byte 26 ends the file for good: it is pushed back so every later read meets it again.
int nextChar(FILE* file) {
    int c = getc(file);
    if (c == 26) ungetc(c, file);
    return (c == EOF || c == 26) ? kEnd : c;
}

bool isBlank(int c) {
    return c == ' ' || c == '\t';
}
bool isLineEnd(int c) {
    return c == '\r' || c == '\n';
}

}  // namespace

int readWordPair(FILE* file, const char** key, const char** value) {
    if (!file) return 0;
    gKey.clear();
    gValue.clear();
    bool inValue = false;
    for (;;) {
        int c = nextChar(file);
        if (c == kEnd) {
            if (gKey.empty()) return 0;
            break;
        }
        if (c == '#') {
            // The comment's line end closes only the comment: the pair goes on.
            do c = nextChar(file);
            while (c != kEnd && !isLineEnd(c));
            if (c == kEnd) {
                if (gKey.empty()) return 0;
                break;
            }
            continue;
        }
        if (isLineEnd(c)) {
            if (!gKey.empty()) break;
            continue;
        }
        if (isBlank(c)) {
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

KvList* readWordPairs(KvList* list, const char* fileName, uint16_t type) {
    FILE* file = fileName ? fopen(fileName, "rb") : nullptr;
    if (!file) return list;
    const char* key;
    const char* value;
    while (readWordPair(file, &key, &value)) list = kvListAppend(list, key, value, type);
    fclose(file);
    return list;
}

void wordPairResetState() {
    std::string().swap(gKey);
    std::string().swap(gValue);
}
