// The core library: turns each output record of a cycle into one line of POF
// text (the format is described in README.md beside this file). The cycle
// library loads it at run time and calls its entries by name; every entry but
// LayerOutput takes the cycle record first, by which the per-cycle state here
// is kept.

#include <kvcycles.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "platform/corelib.h"

#define KVCORE_ENTRY extern "C" __attribute__((visibility("default")))

namespace {

constexpr int32_t kUnknownRecord = -1;
constexpr int32_t kNoMemory = -2;  // nothing may leave a C entry: memory that cannot be had is this code
constexpr int kMaxDecimals = 12;

// The longest line (three block texts of 256 bytes, each byte escaped to four) fits a line buffer.
constexpr size_t kLineMax = 8192;

struct CoreState {
    FILE* out = nullptr;  // set by SetFP; not owned
    FILE* raw = nullptr;  // the raw record dump named by KVCORE_RAW_FILE; owned
    int32_t technology = 1;
    int32_t turnMapException = 0;
    int32_t additional = 0;
    int32_t decimals = 6;
    double normal[3] = {0, 0, 1};
    std::string release;
    std::string folder;
    char line[kLineMax];  // LayerOutput's text
    // The texts of the numbers written last: a cycle often sends a move on two channels, and each
    // number's text is a function of its bits and the decimals alone.
    struct Number {
        uint64_t bits = 0;
        int32_t decimals = -1;
        uint8_t size = 0;
        char text[32];
    };
    Number recent[8];
    uint32_t nextRecent = 0;
    // The fields' text of the move written last: the second channel's copy of a move repeats it under
    // another type. Like a number's, it is a function of the values' bits and the decimals alone.
    struct Fields {
        int32_t form = 0;  // 0 none kept, else a MoveForm
        int32_t decimals = -1;
        uint64_t bits[4] = {};
        uint32_t size = 0;
        char text[192];
    };
    Fields lastFields;
};

std::map<const CycleRecord*, CoreState> gStates;
// The state found last: output asks for the same record's state several times per record. A map
// node stays where it is until erased, so only an erase invalidates it.
const CycleRecord* gLastRecord = nullptr;
CoreState* gLastState = nullptr;

CoreState* stateOf(const CycleRecord* record) {
    if (record && record == gLastRecord) return gLastState;
    auto it = gStates.find(record);
    if (it == gStates.end()) return nullptr;
    gLastRecord = record;
    gLastState = &it->second;
    return gLastState;
}

void forgetState(const CycleRecord* record) {
    if (record == gLastRecord) {
        gLastRecord = nullptr;
        gLastState = nullptr;
    }
    gStates.erase(record);
}

int32_t envInt(const char* name, int32_t fallback) {
    const char* text = getenv(name);
    if (!text || !*text) return fallback;
    char* end = nullptr;
    long value = strtol(text, &end, 10);
    return *end ? fallback : static_cast<int32_t>(value);
}

// ---- Reading the record ----

const unsigned char* bytesOf(const NcRecord* output) {
    return reinterpret_cast<const unsigned char*>(output);
}

int32_t getI32(const unsigned char* r, size_t offset) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(r[offset + i]) << (8 * i);
    return static_cast<int32_t>(v);
}

double getF64(const unsigned char* r, size_t offset) {
    uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits |= static_cast<uint64_t>(r[offset + i]) << (8 * i);
    double v;
    memcpy(&v, &bits, sizeof v);
    return v;
}

// ---- Writing the line ----

constexpr double kPow10[kMaxDecimals + 1] = {1e0, 1e1, 1e2, 1e3,  1e4,  1e5, 1e6,
                                             1e7, 1e8, 1e9, 1e10, 1e11, 1e12};
constexpr uint64_t kPow10Int[kMaxDecimals + 1] = {
    1,        10,        100,        1000,        10000,        100000,       1000000,
    10000000, 100000000, 1000000000, 10000000000, 100000000000, 1000000000000};

// Rounds magnitude * 10^decimals to the nearest integer, a tie to even: the digits printf's "%.*f"
// prints for the exact binary value. The powers are exact and fma gives the product's rounding
// error exactly, so the rounding is decided on the exact product; its sign decides even when the
// last sum rounds. Below 2^50 the fraction and its distance to one half are exact and the error
// (at most 1/16) cannot carry a fraction under 1/4 across one half. False for larger products,
// which the general formatter takes.
bool roundScaled(double magnitude, int decimals, uint64_t* scaled) {
    const double pow = kPow10[decimals];
    const double product = magnitude * pow;
    if (!(product < 0x1p50)) return false;
    const double error = std::fma(magnitude, pow, -product);
    const double whole = std::floor(product);
    const double past = (product - whole - 0.5) + error;
    const uint64_t n = static_cast<uint64_t>(whole);
    // Without branches: which way a number rounds is random, a branch on it mostly mispredicted.
    const uint64_t up = static_cast<uint64_t>(past > 0) | (static_cast<uint64_t>(past == 0) & n);
    *scaled = n + (up & 1);
    return true;
}

// One line of text, put together in the record's line buffer and written with one call.
struct Line {
    char* at;  // the end of the text so far
    int decimals;
    CoreState* state;

    void put(char c) { *at++ = c; }
    void put(const char* text) {
        while (*text) *at++ = *text++;
    }
    void putInteger(long long value) { at = std::to_chars(at, at + 24, value).ptr; }

    void number(const char* name, double value) {
        *at++ = ' ';
        while (*name) *at++ = *name++;
        *at++ = '=';
        uint64_t bits;
        memcpy(&bits, &value, sizeof bits);
        const CoreState::Number* known = nullptr;
        for (const CoreState::Number& n : state->recent)
            if (n.bits == bits && n.decimals == decimals) known = &n;
        if (known) {
            // Whole texts copied at a fixed size: a copy of a varying few bytes is a slow string move.
            memcpy(at, known->text, sizeof known->text);
            at += known->size;
        } else {
            char* const from = at;
            at = format(at, value);
            if (static_cast<size_t>(at - from) <= sizeof CoreState::Number::text) {
                CoreState::Number& n = state->recent[state->nextRecent++ % 8];
                n.bits = bits;
                n.decimals = decimals;
                n.size = static_cast<uint8_t>(at - from);
                memcpy(n.text, from, sizeof n.text);
            }
        }
    }

    char* format(char* at, double value) const {
        if (!std::isfinite(value)) {
            memcpy(at, "nan", 3);
            return at + 3;
        }
        uint64_t scaled;
        if (roundScaled(std::fabs(value), decimals, &scaled))
            return putScaled(at, std::signbit(value), scaled);
        // std::to_chars with a precision rounds the exact binary value correctly, as printf's "%.*f"
        // does in the default rounding mode, so the digits are the same.
        char* end = std::to_chars(at, at + 400, value, std::chars_format::fixed, decimals).ptr;
        // Trailing zeros carry nothing; "-0" is 0.
        if (decimals > 0) {
            while (end[-1] == '0') --end;
            if (end[-1] == '.') --end;
        }
        if (end - at == 2 && at[0] == '-' && at[1] == '0') {
            *at = '0';
            return at + 1;
        }
        return end;
    }

    // The text of a number already rounded to `decimals` places (scaled by 10^decimals), in the
    // same form: trailing zeros and a bare point dropped, no sign on zero.
    char* putScaled(char* at, bool negative, uint64_t scaled) const {
        if (scaled == 0) {
            *at = '0';
            return at + 1;
        }
        if (negative) *at++ = '-';
        // A constant divisor per precision: a division by a variable costs more than the rest.
        switch (decimals) {
            case 0:
                return scaledDigits<0>(at, scaled);
            case 1:
                return scaledDigits<1>(at, scaled);
            case 2:
                return scaledDigits<2>(at, scaled);
            case 3:
                return scaledDigits<3>(at, scaled);
            case 4:
                return scaledDigits<4>(at, scaled);
            case 5:
                return scaledDigits<5>(at, scaled);
            case 6:
                return scaledDigits<6>(at, scaled);
            case 7:
                return scaledDigits<7>(at, scaled);
            case 8:
                return scaledDigits<8>(at, scaled);
            case 9:
                return scaledDigits<9>(at, scaled);
            case 10:
                return scaledDigits<10>(at, scaled);
            case 11:
                return scaledDigits<11>(at, scaled);
            default:
                return scaledDigits<12>(at, scaled);
        }
    }

    template <int kDecimals>
    static char* scaledDigits(char* at, uint64_t scaled) {
        constexpr uint64_t kUnit = kPow10Int[kDecimals];
        at = std::to_chars(at, at + 24, scaled / kUnit).ptr;
        uint64_t fraction = scaled % kUnit;
        if (fraction == 0) return at;
        // All places with a fixed count (divisions by the constant 10), then the zeros cut off.
        *at++ = '.';
        for (int i = kDecimals - 1; i >= 0; --i) {
            at[i] = static_cast<char>('0' + fraction % 10);
            fraction /= 10;
        }
        at += kDecimals;
        while (at[-1] == '0') --at;
        return at;
    }

    void integer(const char* name, long long value) {
        put(' ');
        put(name);
        put('=');
        putInteger(value);
    }

    void quoted(const char* name, const unsigned char* r, size_t offset, size_t size) {
        put(' ');
        put(name);
        put("=\"");
        for (size_t i = 0; i < size && r[offset + i]; ++i) {
            unsigned char c = r[offset + i];
            if (c == '"' || c == '\\') {
                put('\\');
                put(static_cast<char>(c));
            } else if (c < 32 || c == 127) {
                static const char kHex[] = "0123456789abcdef";
                put("\\x");
                put(kHex[c >> 4]);
                put(kHex[c & 15]);
            } else {
                put(static_cast<char>(c));
            }
        }
        put('"');
    }
};

// The fields of a point move (x y) and of an arc (its direction, end and centre).
enum MoveForm : int32_t { kPointForm = 1, kArcCwForm, kArcCcwForm };
constexpr size_t kFieldsCopy = 64;  // most fields' texts are shorter

void moveFields(Line& line, MoveForm form, double x, double y, double cx = 0, double cy = 0) {
    const double values[4] = {x, y, cx, cy};
    uint64_t bits[4];
    memcpy(bits, values, sizeof bits);
    CoreState::Fields& kept = line.state->lastFields;
    if (kept.form == form && kept.decimals == line.decimals && memcmp(kept.bits, bits, sizeof bits) == 0) {
        // At a fixed size where it fits, as a number's text: a copy of a varying few bytes is a library call.
        if (kept.size <= kFieldsCopy)
            memcpy(line.at, kept.text, kFieldsCopy);
        else
            memcpy(line.at, kept.text, kept.size);
        line.at += kept.size;
        return;
    }
    char* const from = line.at;
    if (form != kPointForm) line.put(form == kArcCwForm ? " dir=cw" : " dir=ccw");
    line.number("x", x);
    line.number("y", y);
    if (form != kPointForm) {
        line.number("cx", cx);
        line.number("cy", cy);
    }
    const size_t size = static_cast<size_t>(line.at - from);
    kept.form = size <= sizeof kept.text ? form : 0;
    if (kept.form == 0) return;
    kept.decimals = line.decimals;
    memcpy(kept.bits, bits, sizeof bits);
    kept.size = static_cast<uint32_t>(size);
    if (size <= kFieldsCopy)
        memcpy(kept.text, from, kFieldsCopy);
    else
        memcpy(kept.text, from, size);
}

bool isTextType(int32_t t) {
    return (t >= 101 && t <= 112) || (t >= 201 && t <= 204) || t == 301 || t == 1001 || t == 3001 ||
           t == 3131 || t == 4101;
}

// The flagged coordinates and axis components of a five-axis move.
void fiveAxis(Line& line, const unsigned char* r) {
    static const struct {
        const char* name;
        size_t flag, value;
    } kFields[] = {
        {"x", KVNC_MOVE5_FLAG_X, KVNC_MOVE5_X}, {"y", KVNC_MOVE5_FLAG_Y, KVNC_MOVE5_Y},
        {"z", KVNC_MOVE5_FLAG_Z, KVNC_MOVE5_Z}, {"i", KVNC_MOVE5_FLAG_I, KVNC_MOVE5_I},
        {"j", KVNC_MOVE5_FLAG_J, KVNC_MOVE5_J}, {"k", KVNC_MOVE5_FLAG_K, KVNC_MOVE5_K},
    };
    for (const auto& f : kFields) {
        if (getI32(r, f.flag) == 1) line.number(f.name, getF64(r, f.value));
    }
}

void describe(Line& line, int32_t type, const unsigned char* r) {
    if (isTextType(type)) {
        line.quoted("name", r, KVNC_TEXT_NAME, KVNC_TEXT_SIZE);
        line.quoted("value", r, KVNC_TEXT_VALUE, KVNC_TEXT_SIZE);
        return;
    }
    switch (type) {
        case 5001:
        case 5002:
        case 5003:
            line.integer("number", static_cast<uint32_t>(getI32(r, KVNC_BLOCK_NUMBER)));
            line.integer("kind", getI32(r, KVNC_BLOCK_KIND));
            line.quoted("text1", r, KVNC_BLOCK_TEXT1, KVNC_BLOCK_TEXT_SIZE);
            line.quoted("text2", r, KVNC_BLOCK_TEXT2, KVNC_BLOCK_TEXT_SIZE);
            line.quoted("text3", r, KVNC_BLOCK_TEXT3, KVNC_BLOCK_TEXT_SIZE);
            return;
        case 3101:
        case 3111:
            moveFields(line, kPointForm, getF64(r, KVNC_POINT_X), getF64(r, KVNC_POINT_Y));
            return;
        case 3102:
        case 3112:
            line.number("z", getF64(r, KVNC_POINT_Z));
            return;
        case 3103:
        case 3113:
            line.number("x", getF64(r, KVNC_POINT_X));
            line.number("y", getF64(r, KVNC_POINT_Y));
            line.number("z", getF64(r, KVNC_POINT_Z));
            return;
        case 3104:
            line.number("x", getF64(r, KVNC_TRACE_X));
            line.number("y", getF64(r, KVNC_TRACE_Y));
            line.number("z", getF64(r, KVNC_TRACE_Z));
            if (getI32(r, KVNC_TRACE_FLAG) == 1) line.number("w", getF64(r, KVNC_TRACE_W));
            return;
        case 3107:
        case 3109:
        case 3114:
        case 3118:
        case 4007:
        case 4016:
        case 4019:
        case 4020:
            fiveAxis(line, r);
            return;
        case 3121:
            moveFields(line, getI32(r, KVNC_ARC_DIR) == 1 ? kArcCwForm : kArcCcwForm,
                       getF64(r, KVNC_ARC_END_X), getF64(r, KVNC_ARC_END_Y), getF64(r, KVNC_ARC_CENTRE_X),
                       getF64(r, KVNC_ARC_CENTRE_Y));
            return;
        case 4001:
        case 4004:
            moveFields(line, kPointForm, getF64(r, KVNC_COMP_X), getF64(r, KVNC_COMP_Y));
            return;
        case 4002:
        case 4005:
            line.number("z", getF64(r, KVNC_COMP_Z));
            return;
        case 4006:
            line.number("x", getF64(r, KVNC_COMP_X));
            line.number("y", getF64(r, KVNC_COMP_Y));
            line.number("z", getF64(r, KVNC_COMP_Z));
            return;
        case 4008:
        case 4009:
            moveFields(line, type == 4008 ? kArcCwForm : kArcCcwForm, getF64(r, KVNC_COMP_END_X),
                       getF64(r, KVNC_COMP_END_Y), getF64(r, KVNC_COMP_CENTRE_X),
                       getF64(r, KVNC_COMP_CENTRE_Y));
            return;
        case 7001:
            line.number("x", getF64(r, KVNC_TRIPLE_P1));
            line.number("y", getF64(r, KVNC_TRIPLE_P1 + 8));
            line.number("z", getF64(r, KVNC_TRIPLE_P1 + 16));
            return;
        default:
            return;  // type only: 3002, 5004 and types without fields of their own
    }
}

}  // namespace

// OpenCore: 1 when the record's state is ready (again: a second open starts afresh).
// OpenCore: 1 when the record's state is ready (again: a second open starts afresh), 0 when memory is
// short (the record then has no state).
KVCORE_ENTRY int32_t OpenCore(CycleRecord* record) {
    if (!record) return 0;
    if (CoreState* old = stateOf(record)) {
        if (old->raw) fclose(old->raw);
        old->raw = nullptr;
    }
    try {
        CoreState& state = gStates[record];
        state = CoreState{};
        state.technology = envInt("KVCORE_TECHNOLOGY", 1);
        state.turnMapException = envInt("KVCORE_TURNMAP_EXCEPTION", 0);
        if (const char* raw = getenv("KVCORE_RAW_FILE"); raw && *raw) state.raw = fopen(raw, "wb");
        return 1;
    } catch (...) {
        forgetState(record);
        return 0;
    }
}

KVCORE_ENTRY int32_t SetDLLPath(CycleRecord* record, const char* folder) {
    CoreState* s = stateOf(record);
    if (!s) return kUnknownRecord;
    try {
        s->folder = folder ? folder : "";
    } catch (...) {
        return kNoMemory;
    }
    return 0;
}

// CloseCore: 1, or -1 for a record that never opened. The output file stays
// with its owner; the raw dump is closed.
KVCORE_ENTRY int32_t CloseCore(CycleRecord* record) {
    CoreState* s = stateOf(record);
    if (!s) return kUnknownRecord;
    if (s->raw) fclose(s->raw);
    forgetState(record);
    return 1;
}

KVCORE_ENTRY int32_t ActivateAdditionalFunctions(CycleRecord* record, int32_t flag) {
    CoreState* s = stateOf(record);
    if (!s) return kUnknownRecord;
    s->additional = flag;
    return 0;
}

KVCORE_ENTRY int32_t SetRelease(CycleRecord* record, const char* release) {
    CoreState* s = stateOf(record);
    if (!s) return kUnknownRecord;
    try {
        s->release = release ? release : "";
    } catch (...) {
        return kNoMemory;
    }
    return 0;
}

KVCORE_ENTRY int32_t SetFP(CycleRecord* record, FILE* file) {
    CoreState* s = stateOf(record);
    if (!s) return kUnknownRecord;
    s->out = file;
    return 0;
}

KVCORE_ENTRY int32_t GetFP(CycleRecord* record, FILE** file) {
    CoreState* s = stateOf(record);
    if (!s || !file) return kUnknownRecord;
    *file = s->out;
    return 0;
}

// LayerOutput: one line per record into the file of SetFP; without a file the
// record is accepted and nothing is written. 0, or -1 for a record that never
// opened, a missing output record or print function.
KVCORE_ENTRY int32_t LayerOutput(int32_t channel, int32_t /*mode*/, CycleRecord* record, NcRecord* output,
                                 CorePrintFn print, CoreEmitFn /*emit*/) {
    CoreState* s = stateOf(record);
    if (!s || !output || !print) return kUnknownRecord;
    if (!s->out) return 0;
    const unsigned char* r = bytesOf(output);
    int32_t type = getI32(r, KVNC_TYPE);
    Line line{s->line, s->decimals, s};
    line.putInteger(channel);
    line.put(' ');
    line.putInteger(type);
    describe(line, type, r);
    line.put('\n');
    line.put('\0');
    print(s->out, s->line);
    return 0;
}

KVCORE_ENTRY int32_t GetTechnology(CycleRecord* record, int32_t* technology) {
    CoreState* s = stateOf(record);
    if (!s || !technology) return kUnknownRecord;
    *technology = s->technology;
    return 0;
}

KVCORE_ENTRY int32_t GetTurnMapException(CycleRecord* record, int32_t* flag) {
    CoreState* s = stateOf(record);
    if (!s || !flag) return kUnknownRecord;
    *flag = s->turnMapException;
    return 0;
}

KVCORE_ENTRY int32_t GetRedFile(CycleRecord* record, FILE** file) {
    CoreState* s = stateOf(record);
    if (!s || !file) return kUnknownRecord;
    *file = s->raw;
    return 0;
}

// SetDtoSPrecision: the decimals of the numbers in the text, limited to 0..12.
KVCORE_ENTRY int32_t SetDtoSPrecision(CycleRecord* record, int32_t decimals) {
    CoreState* s = stateOf(record);
    if (!s) return kUnknownRecord;
    s->decimals = decimals < 0 ? 0 : decimals > kMaxDecimals ? kMaxDecimals : decimals;
    return 0;
}

KVCORE_ENTRY int32_t SetSurfaceNormal(CycleRecord* record, double x, double y, double z) {
    CoreState* s = stateOf(record);
    if (!s) return kUnknownRecord;
    s->normal[0] = x;
    s->normal[1] = y;
    s->normal[2] = z;
    return 0;
}
