#include "kernel/base/kvx/kvxfile.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "kernel/base/cfgfile.h"
#include "kernel/base/mem.h"
#include "kernel/base/msg.h"

namespace {

constexpr int kEnd = -1;      // end of the stream or the byte 26
constexpr int kNothing = -2;  // no character held back
constexpr char kTraceFile[] = "QJW.TXT";

constexpr bool isBlank(int c) {
    return c == ' ' || c == '\t';
}
constexpr bool isLineEnd(int c) {
    return c == '\r' || c == '\n';
}
constexpr bool isDigit(int c) {
    return c >= '0' && c <= '9';
}

struct CharClasses {
    bool name[256];
    bool value[256];
    bool body[256];
};

constexpr CharClasses makeClasses() {
    CharClasses t{};
    for (int c = 0; c < 256; ++c) {
        t.name[c] = c == '#' || c == '$' || c == '%' || c == '&' || c == '-' || c == '@' || c == '_' ||
                    isDigit(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        t.value[c] = (c >= 33 && c <= 126 && c != '[' && c != ']' && c != '`') || c == 21;
        t.body[c] = c == 9 || (c >= 32 && c <= 39) || (c >= 42 && c <= 95) || (c >= 97 && c <= 126);
    }
    return t;
}

constexpr CharClasses kClasses = makeClasses();

bool isName(int c) {
    return c >= 0 && c < 256 && kClasses.name[c];
}
bool isValue(int c) {
    return c >= 0 && c < 256 && kClasses.value[c];
}
bool isBody(int c) {
    return c >= 0 && c < 256 && kClasses.body[c];
}

// The byte 26 ends the file for good: it is pushed back so every later read meets it again.
// A zero byte is passed over: it cannot stand inside a text and would cut it short.
int readChar(FILE* file) {
    int c;
    do c = getc(file);
    while (c == 0);
    if (c == 26) ungetc(c, file);
    return (c == EOF || c == 26) ? kEnd : c;
}

char* dupText(const std::string& text) {
    char* copy = static_cast<char*>(malloc(text.size() + 1));
    if (!copy) throw std::bad_alloc();
    memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

void trimBlanks(std::string& text) {
    size_t end = text.size();
    while (end > 0 && isBlank(text[end - 1])) --end;
    text.resize(end);
}

// ---- Header ----

// One header line: blanks and line ends before it skipped, trailing blanks cut.
// False at the end of the file before the line.
bool readHeaderLine(FILE* file, std::string& line) {
    line.clear();
    int c = readChar(file);
    while (isBlank(c) || isLineEnd(c)) c = readChar(file);
    if (c == kEnd) return false;
    while (c != kEnd && !isLineEnd(c)) {
        line += static_cast<char>(c);
        c = readChar(file);
    }
    trimBlanks(line);
    return true;
}

// "major.minor" behind the version tag; false when the two numbers cannot be read.
bool parseVersion(const char* text, long* major, long* minor) {
    char* end = nullptr;
    long a = strtol(text, &end, 10);
    if (end == text || *end != '.') return false;
    const char* rest = end + 1;
    if (!isDigit(*rest)) return false;
    long b = strtol(rest, &end, 10);
    *major = a;
    *minor = b;
    return true;
}

bool readHeader(FILE* file, KvxHeader* header) {
    std::string line;
    if (!readHeaderLine(file, line) || line != kKvxBanner) return false;
    if (!readHeaderLine(file, line) || line.compare(0, strlen(kKvxVersionTag), kKvxVersionTag) != 0)
        return false;
    long major = 0, minor = 0;
    if (parseVersion(line.c_str() + strlen(kKvxVersionTag), &major, &minor)) {
        // A number beyond 16 bits names no version this reader knows.
        if (major < 0 || major > UINT16_MAX || minor < 0 || minor > UINT16_MAX) return false;
        header->major = static_cast<uint16_t>(major);
        header->minor = static_cast<uint16_t>(minor);
    }
    if (!readHeaderLine(file, line)) return false;
    header->line3 = dupText(line);
    if (readHeaderLine(file, line)) header->line4 = dupText(line);
    return header->major == 0 || (header->major == 1 && header->minor == 0);
}

// ---- Records ----

struct Param {
    bool hasKey = false;
    std::string key;
    bool hasValue = false;
    std::string value;
};

enum class Step { Record, Nothing, Error };

// One record read; everything under construction lives here and is dropped
// with it, so an unfinished read leaves nothing behind.
struct RecordReader {
    explicit RecordReader(FILE* f) : file(f) {}

    FILE* file;
    int held = kNothing;
    int type = 0;
    std::string name;
    bool hasId = false;
    std::string id;
    std::vector<Param> params;
    bool bodyInFile = false;
    int64_t bodyStart = -1;
    int64_t bodyEnd = -1;

    int get() {
        if (held != kNothing) {
            int c = held;
            held = kNothing;
            return c;
        }
        return readChar(file);
    }
    void unget(int c) { held = c; }

    int skipSpace() {
        int c = get();
        while (isBlank(c) || isLineEnd(c)) c = get();
        return c;
    }

    // Skips to the line end; false at the end of the file.
    bool skipComment() {
        int c = get();
        while (c != kEnd && !isLineEnd(c)) c = get();
        return c != kEnd;
    }

    // The name of a variable, object or method; returns the character that ended it.
    int readName() {
        int c = skipSpace();
        while (isName(c)) {
            name += static_cast<char>(c);
            c = get();
        }
        return c;
    }

    // An identifier between "[" and "]" (or the line end); blanks inside are dropped.
    bool readId() {
        for (;;) {
            int c = get();
            if (isBlank(c)) continue;
            if (c == ']' || isLineEnd(c)) {
                hasId = !id.empty();
                return true;
            }
            if (!isName(c)) return false;
            id += static_cast<char>(c);
        }
    }

    bool readVariableValue() {
        std::string value;
        bool begun = false;
        for (;;) {
            int c = get();
            if (!begun) {
                if (isBlank(c) || isLineEnd(c) || c == ')') continue;
                if (c == kEnd) return false;
            } else if (c == ')' || isLineEnd(c) || c == kEnd) {
                break;
            }
            begun = true;
            if (c == '\\') {
                c = get();
                if (c == kEnd) break;
                if (isDigit(c)) {
                    int code = c - '0';
                    for (int digits = 1; digits < 3; ++digits) {
                        c = get();
                        if (!isDigit(c)) {
                            unget(c);
                            break;
                        }
                        code = code * 10 + (c - '0');
                    }
                    // A zero byte cannot stand inside a text.
                    if (code % 256) value += static_cast<char>(code % 256);
                } else {
                    value += static_cast<char>(c);
                }
                continue;
            }
            if (!isBlank(c) && !isValue(c)) return false;
            value += static_cast<char>(c);
        }
        size_t first = value.find_first_not_of(" \t");
        value = first == std::string::npos ? std::string() : value.substr(first);
        trimBlanks(value);
        hasId = !value.empty();
        id = value;
        return true;
    }

    bool readParamValue(Param& p) {
        if (p.key == "t") {
            // Text parameters are taken verbatim, blanks included.
            for (int c = get();; c = get()) {
                if (c == kEnd) return false;
                if (c == ']' || isLineEnd(c)) break;
                p.value += static_cast<char>(c);
            }
            p.hasValue = true;
            return true;
        }
        bool begun = false;
        for (;;) {
            int c = get();
            if (c == kEnd) return false;
            if (c == ']' || (begun && isLineEnd(c))) break;
            if (!begun && (isBlank(c) || isLineEnd(c))) continue;
            if (!isBlank(c) && !isValue(c)) return false;
            begun = true;
            p.value += static_cast<char>(c);
        }
        trimBlanks(p.value);
        p.hasValue = !p.value.empty();
        return true;
    }

    // The body of a method; a body too long for memory stays in the file.
    bool readBody() {
        bodyStart = ftello(file);
        std::string body;
        for (;;) {
            int c = get();
            if (c == '\r') continue;
            if (c == kEnd) {
                if (body.empty()) return false;
                break;
            }
            if (c == ')') {
                if (body.empty()) continue;
                break;
            }
            if (c != '\n' && !isBody(c)) return false;
            if (body.size() == kKvxBodyMax) return skipLongBody();
            body += static_cast<char>(c);
        }
        Param p;
        p.hasValue = true;
        p.value = std::move(body);
        params.push_back(std::move(p));
        bodyStart = -1;
        return true;
    }

    bool skipLongBody() {
        bodyInFile = true;
        for (;;) {
            int c = get();
            if (c == ')' || c == kEnd) {
                bodyEnd = ftello(file);
                return true;
            }
            if (!isBlank(c) && !isLineEnd(c) && !isBody(c)) return false;
        }
    }

    void traceMethod() {
        FILE* trace = fopen(kTraceFile, "a");
        if (!trace) return;
        fprintf(trace, " methode = '%s'\n", name.c_str());
        fclose(trace);
    }

    Step run() {
        int state = 1;
        int afterComment = 1;
        for (;;) {
            int c;
            switch (state) {
                case 0:
                    return Step::Error;
                case 1:  // between records
                    c = skipSpace();
                    if (c == kEnd) return Step::Nothing;
                    if (c == ';') {
                        afterComment = 1;
                        state = 2;
                    } else if (c == 'v') {
                        state = 3;
                    } else if (c == 'o') {
                        state = 6;
                    } else if (c == 'm') {
                        state = 14;
                    } else if (c == '{' || c == '}') {
                        type = c;
                        state = 20;
                    } else {
                        state = 0;
                    }
                    break;
                case 2:  // comment
                    if (skipComment())
                        state = afterComment;
                    else
                        return afterComment == 1 ? Step::Nothing : Step::Error;
                    break;
                case 3:   // variable name
                case 6:   // object name
                case 14:  // method name
                {
                    type = state == 3 ? 'v' : state == 6 ? 'o' : 'm';
                    c = readName();
                    int after = state == 3 ? 4 : state == 6 ? 7 : 15;
                    if (name.empty() || c == kEnd) {
                        state = 0;
                    } else if (c == '(') {
                        state = state == 3 ? 5 : state == 6 ? 10 : 18;
                    } else if (c == '[' && state != 3) {
                        state = state == 6 ? 8 : 16;
                    } else if (isBlank(c) || isLineEnd(c) || c == ';') {
                        if (type == 'm') traceMethod();
                        if (c == ';') {
                            afterComment = after;
                            state = 2;
                        } else {
                            state = after;
                        }
                    } else {
                        state = 0;
                    }
                    break;
                }
                case 4:   // after a variable name
                case 7:   // after an object name
                case 9:   // after an object identifier
                case 12:  // after a parameter key
                case 15:  // after a method name
                case 17:  // after a method identifier
                    c = skipSpace();
                    if (c == ';') {
                        afterComment = state;
                        state = 2;
                    } else if (c == '(' && state != 12) {
                        state = state == 4 ? 5 : (state == 7 || state == 9) ? 10 : 18;
                    } else if (c == '[' && (state == 7 || state == 12 || state == 15)) {
                        state = state == 7 ? 8 : state == 12 ? 13 : 16;
                    } else {
                        state = 0;
                    }
                    break;
                case 5:  // variable value
                    state = readVariableValue() ? 20 : 0;
                    break;
                case 8:   // object identifier
                case 16:  // method identifier
                    state = readId() ? state + 1 : 0;
                    break;
                case 10:  // object parameter list
                    c = skipSpace();
                    if (c == ')') {
                        state = 20;
                    } else if (c == ';') {
                        afterComment = 10;
                        state = 2;
                    } else if (c == '(' || c == '[' || c == ']' || c == kEnd) {
                        state = 0;
                    } else {
                        params.emplace_back();
                        params.back().hasKey = true;
                        params.back().key += static_cast<char>(c);
                        state = 11;
                    }
                    break;
                case 11:  // parameter key
                    c = get();
                    while (isName(c)) {
                        params.back().key += static_cast<char>(c);
                        c = get();
                    }
                    state = c == '[' ? 13 : (isBlank(c) || isLineEnd(c)) ? 12 : 0;
                    break;
                case 13:  // parameter value
                    state = readParamValue(params.back()) ? 10 : 0;
                    break;
                case 18:  // method body
                    state = readBody() ? 20 : 0;
                    break;
                default:  // 20: record complete
                    return Step::Record;
            }
        }
    }

    KvxParam* buildParams() {
        KvxParam* head = nullptr;
        KvxParam** tail = &head;
        try {
            for (const Param& p : params) {
                auto* node = static_cast<KvxParam*>(memCalloc(sizeof(KvxParam)));
                if (!node) throw std::bad_alloc();
                *tail = node;
                tail = &node->next;
                if (p.hasKey) node->key = dupText(p.key);
                if (p.hasValue) node->value = dupText(p.value);
            }
        } catch (const std::bad_alloc&) {
            KvxRecord partial{};
            partial.params = head;
            kvxRecordReset(&partial);
            throw;
        }
        return head;
    }

    void moveInto(KvxRecord* record) {
        KvxRecord built{};
        built.bodyStart = built.bodyEnd = -1;
        try {
            built.type = type;
            if (!name.empty()) built.name = dupText(name);
            if (hasId) built.id = dupText(id);
            built.params = buildParams();
        } catch (const std::bad_alloc&) {
            kvxRecordReset(&built);
            throw;
        }
        if (bodyInFile) {
            built.file = file;
            built.bodyStart = bodyStart;
            built.bodyEnd = bodyEnd;
        }
        *record = built;
    }
};

}  // namespace

FILE* kvxOpen(const char* fileName, KvxHeader* header) {
    FILE* file = cfgFileOpen(fileName);
    if (!file) return nullptr;
    if (!header) {
        cfgFileClose(file);
        return nullptr;
    }
    kvxHeaderFree(header);
    bool accepted = false;
    try {
        accepted = readHeader(file, header);
    } catch (const std::bad_alloc&) {
        msgFault("memory");
        accepted = false;
    }
    if (!accepted) {
        // Callers that see no file take no header either: its texts go with the refusal.
        free(header->line3);
        free(header->line4);
        header->line3 = header->line4 = nullptr;
        cfgFileClose(file);
        return nullptr;
    }
    return file;
}

void kvxHeaderFree(KvxHeader* header) {
    if (!header) return;
    free(header->line3);
    free(header->line4);
    *header = KvxHeader{};
}

int kvxReadRecord(FILE* file, KvxRecord* record) {
    if (!file || !record) return 0;
    kvxRecordReset(record);
    try {
        RecordReader reader(file);
        if (reader.run() != Step::Record) return 0;
        reader.moveInto(record);
        return 1;
    } catch (const std::bad_alloc&) {
        // 0 as at the end of the file; the run learns that its input was cut short.
        msgFault("memory");
        return 0;
    }
}

void kvxRecordReset(KvxRecord* record) {
    if (!record) return;
    free(record->name);
    free(record->id);
    for (KvxParam* p = record->params; p;) {
        KvxParam* next = p->next;
        free(p->key);
        free(p->value);
        free(p);
        p = next;
    }
    *record = KvxRecord{};
    record->bodyStart = record->bodyEnd = -1;
}
