#include "kernel/base/cfgfile.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "kernel/base/mem.h"
#include "kernel/base/msg.h"

FILE* cfgFileOpen(const char* fileName) {
    if (!fileName) return nullptr;
    if (strcmp(fileName, "| stdin") == 0) return stdin;
    if (fileName[0] == '~') {
        // Built at full length: a cut name would open some other file.
        const char* home = getenv("HOME");
        if (!home) return nullptr;
        std::string path = std::string(home) + (fileName + 1);
        return fopen(path.c_str(), "rb");
    }
    return fopen(fileName, "rb");
}

void cfgFileClose(FILE* file) {
    if (file && file != stdin) fclose(file);
}

namespace {

// One pair of the parameter-file grammar; the states are those of the format's
// reader (0 before a key ... 12 error).
struct PairReader {
    explicit PairReader(FILE* f) : file(f) {}

    FILE* file;
    int c = 0;
    std::string key;
    std::string value;
    bool continued = false;
    bool quotedValue = false;

    void read() { c = cfgNextChar(file); }

    // Runs the states until the pair ends.
    void run() {
        int state = 0;
        for (;;) {
            switch (state) {
                case 0:  // before a key
                    read();
                    while (cfgIsBlank(c) || cfgIsLineEnd(c)) read();
                    if (c == ';')
                        state = 9;
                    else if (c == '"')
                        state = 2;
                    else if (c == kCfgEnd)
                        state = 12;
                    else
                        state = 1;
                    break;
                case 1:  // bare key, from the current character on
                    for (;;) {
                        if (cfgIsBlank(c)) {
                            state = 3;
                            break;
                        }
                        if (c == ':') {
                            state = 4;
                            break;
                        }
                        if (cfgIsLineEnd(c) || c == kCfgEnd) {
                            state = 12;
                            break;
                        }
                        key += static_cast<char>(c);
                        read();
                    }
                    break;
                case 2:  // quoted key
                    for (;;) {
                        read();
                        if (c == '"') {
                            state = 3;
                            break;
                        }
                        if (cfgIsLineEnd(c) || c == kCfgEnd) {
                            state = 12;
                            break;
                        }
                        key += static_cast<char>(c);
                    }
                    break;
                case 3:  // after the key
                    read();
                    while (cfgIsBlank(c)) read();
                    state = c == ':' ? 4 : 12;
                    break;
                case 4:  // after ":": "=" must touch it
                    read();
                    state = c == '=' ? 5 : 12;
                    break;
                case 5:  // before a value
                    read();
                    while (cfgIsBlank(c)) read();
                    if (c == '"')
                        state = 7;
                    else if (cfgIsLineEnd(c) || c == kCfgEnd)
                        state = 12;
                    else
                        state = 6;
                    break;
                case 6:  // bare value, from the current character on
                    for (;;) {
                        if (cfgIsBlank(c) || c == ';' || c == '>') {
                            state = 8;
                            break;
                        }
                        if (cfgIsLineEnd(c) || c == kCfgEnd) {
                            state = 11;
                            break;
                        }
                        value += static_cast<char>(c);
                        read();
                    }
                    break;
                case 7:  // quoted value
                    quotedValue = true;
                    state = quoted();
                    break;
                case 8:  // after a value
                    for (;;) {
                        read();
                        if (cfgIsBlank(c)) continue;
                        if (c == '>') {
                            continued = true;
                            continue;
                        }
                        if (c == ';')
                            state = 9;
                        else if (cfgIsLineEnd(c))
                            state = continued ? 10 : 11;
                        else
                            state = 12;
                        break;
                    }
                    break;
                case 9:  // comment
                    do read();
                    while (!cfgIsLineEnd(c) && c != kCfgEnd);
                    state = (c != kCfgEnd && continued) ? 10 : 11;
                    break;
                case 10:  // continuation
                    continued = false;
                    read();
                    while (cfgIsBlank(c) || cfgIsLineEnd(c)) read();
                    if (c == '"')
                        state = 7;
                    else if (c == kCfgEnd)
                        state = 11;
                    else
                        state = 6;
                    break;
                case 11:  // end of line
                    // An empty quoted value ends its pair; passing over the line
                    // end would glue the next line's key onto this one. A key
                    // whose bare value ended before it began (":= >", ":= ;")
                    // is dropped with its line for the same reason.
                    if (cfgIsLineEnd(c) && value.empty() && !quotedValue) {
                        key.clear();
                        continued = false;
                        state = 0;
                        break;
                    }
                    return;
                default:  // 12: error
                    if (!cfgIsLineEnd(c) && c != kCfgEnd) {
                        do read();
                        while (!cfgIsLineEnd(c) && c != kCfgEnd);
                    }
                    return;
            }
        }
    }

    int quoted() {
        for (;;) {
            read();
            if (cfgIsLineEnd(c) || c == kCfgEnd) return 11;
            if (c == '\\') {
                read();
                if (cfgIsLineEnd(c) || c == kCfgEnd) return 11;
                switch (c) {
                    case 'b':
                        value += '\b';
                        break;
                    case 'n':
                        value += '\n';
                        break;
                    case 'r':
                        value += '\r';
                        break;
                    case 't':
                        value += '\t';
                        break;
                    default:
                        value += static_cast<char>(c);
                }
            } else if (c == '"') {
                read();
                return (cfgIsLineEnd(c) || c == kCfgEnd) ? 11 : 8;
            } else {
                value += static_cast<char>(c);
            }
        }
    }
};

}  // namespace

namespace {

int readPair(FILE* file, KvPair* pair) {
    for (;;) {
        PairReader reader{file};
        reader.run();
        if (!reader.key.empty() && !reader.value.empty()) {
            pair->key = strDup(reader.key.c_str());
            pair->value = strDup(reader.value.c_str());
            if (pair->key && pair->value) return 1;
            free(pair->key);
            free(pair->value);
            pair->key = pair->value = nullptr;
            msgFault("memory");
            return 0;
        }
        // A finished pair with an empty quoted value carries nothing; the
        // file goes on behind it.
        if (reader.quotedValue && !reader.key.empty() && reader.c != kCfgEnd) continue;
        return 0;
    }
}

}  // namespace

int cfgFileReadPair(FILE* file, KvPair* pair) {
    if (!file || !pair) return 0;
    free(pair->key);
    free(pair->value);
    pair->key = pair->value = nullptr;
    // Memory short ends the reading as the end of the file does; the run learns that its
    // parameters were cut short.
    try {
        return readPair(file, pair);
    } catch (const std::bad_alloc&) {
        msgFault("memory");
        return 0;
    }
}

// The byte 26 ends the file for good: it is pushed back so every later read meets it again.
// A zero byte is passed over: it cannot stand inside a text and would cut it short.
int cfgNextChar(FILE* file) {
    int c;
    do c = getc(file);
    while (c == 0);
    if (c == 26) ungetc(c, file);
    return (c == EOF || c == 26) ? kCfgEnd : c;
}
