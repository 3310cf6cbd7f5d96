#include "ncdecode.h"

#include <kvcycles.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <initializer_list>

namespace {

int32_t getI32(const unsigned char* r, int offset) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(r[offset + i]) << (8 * i);
    return static_cast<int32_t>(v);
}

double getF64(const unsigned char* r, int offset) {
    uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits |= static_cast<uint64_t>(r[offset + i]) << (8 * i);
    double v;
    memcpy(&v, &bits, sizeof v);
    return v;
}

// The listing has a field per record item: printf's digits (to_chars is specified to give them)
// without its format parser.
void addName(std::string& out, const char* name) {
    out += ' ';
    out += name;
    out += '=';
}

void addInt(std::string& out, const char* name, int64_t value) {
    char buf[24];
    addName(out, name);
    out.append(buf, std::to_chars(buf, buf + sizeof buf, value).ptr);
}

void addDouble(std::string& out, const char* name, const unsigned char* r, int offset) {
    const double value = getF64(r, offset);
    char buf[40];
    addName(out, name);
    if (std::isfinite(value)) {
        out.append(buf, std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 10).ptr);
        return;
    }
    snprintf(buf, sizeof buf, "%.10g", value);
    out += buf;
}

// A text field, quoted; a field without terminator is shown up to its end and
// marked, so an overrun in the library is visible.
void addText(std::string& out, const char* name, const unsigned char* r, int offset, int size) {
    out += ' ';
    out += name;
    out += "=\"";
    int n = 0;
    while (n < size && r[offset + n]) ++n;
    for (int i = 0; i < n; ++i) {
        unsigned char c = r[offset + i];
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 32 || c == 127) {
            char buf[8];
            snprintf(buf, sizeof buf, "\\x%02x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    out += '"';
    if (n == size) out += "(unterminated)";
}

bool isOneOf(int32_t type, std::initializer_list<int32_t> types) {
    for (int32_t t : types) {
        if (t == type) return true;
    }
    return false;
}

void addMove5(std::string& out, const unsigned char* r) {
    addInt(out, "fx", getI32(r, KVNC_MOVE5_FLAG_X));
    addInt(out, "fy", getI32(r, KVNC_MOVE5_FLAG_Y));
    addInt(out, "fz", getI32(r, KVNC_MOVE5_FLAG_Z));
    addDouble(out, "x", r, KVNC_MOVE5_X);
    addDouble(out, "y", r, KVNC_MOVE5_Y);
    addDouble(out, "z", r, KVNC_MOVE5_Z);
    addInt(out, "fi", getI32(r, KVNC_MOVE5_FLAG_I));
    addInt(out, "fj", getI32(r, KVNC_MOVE5_FLAG_J));
    addInt(out, "fk", getI32(r, KVNC_MOVE5_FLAG_K));
    addDouble(out, "i", r, KVNC_MOVE5_I);
    addDouble(out, "j", r, KVNC_MOVE5_J);
    addDouble(out, "k", r, KVNC_MOVE5_K);
}

}  // namespace

std::string ncDecodeRecord(int32_t channel, const unsigned char* r) {
    int32_t type = getI32(r, KVNC_TYPE);
    std::string out;
    addInt(out, "ch", channel);
    addInt(out, "type", type);
    out.erase(0, 1);

    if ((type >= 101 && type <= 112) || (type >= 201 && type <= 204) ||
        isOneOf(type, {301, 1001, 3001, 3131, 4101})) {
        addText(out, "name", r, KVNC_TEXT_NAME, KVNC_TEXT_SIZE);
        addText(out, "value", r, KVNC_TEXT_VALUE, KVNC_TEXT_SIZE);
    } else if (type >= 5001 && type <= 5003) {
        addInt(out, "number", static_cast<uint32_t>(getI32(r, KVNC_BLOCK_NUMBER)));
        addInt(out, "kind", getI32(r, KVNC_BLOCK_KIND));
        addText(out, "text1", r, KVNC_BLOCK_TEXT1, KVNC_BLOCK_TEXT_SIZE);
        addText(out, "text2", r, KVNC_BLOCK_TEXT2, KVNC_BLOCK_TEXT_SIZE);
        addText(out, "text3", r, KVNC_BLOCK_TEXT3, KVNC_BLOCK_TEXT_SIZE);
    } else if (isOneOf(type, {3101, 3111})) {
        addDouble(out, "x", r, KVNC_POINT_X);
        addDouble(out, "y", r, KVNC_POINT_Y);
    } else if (isOneOf(type, {3102, 3112})) {
        addDouble(out, "z", r, KVNC_POINT_Z);
    } else if (isOneOf(type, {3103, 3113})) {
        addDouble(out, "x", r, KVNC_POINT_X);
        addDouble(out, "y", r, KVNC_POINT_Y);
        addDouble(out, "z", r, KVNC_POINT_Z);
    } else if (isOneOf(type, {3107, 3109, 3114, 3118, 4016, 4019, 4007, 4020})) {
        addMove5(out, r);
    } else if (type == 3121) {
        addInt(out, "cw", getI32(r, KVNC_ARC_DIR));
        addDouble(out, "x", r, KVNC_ARC_END_X);
        addDouble(out, "y", r, KVNC_ARC_END_Y);
        addDouble(out, "cx", r, KVNC_ARC_CENTRE_X);
        addDouble(out, "cy", r, KVNC_ARC_CENTRE_Y);
    } else if (type == 3104) {
        int32_t hasW = getI32(r, KVNC_TRACE_FLAG);
        addDouble(out, "x", r, KVNC_TRACE_X);
        addDouble(out, "y", r, KVNC_TRACE_Y);
        addDouble(out, "z", r, KVNC_TRACE_Z);
        if (hasW == 1) addDouble(out, "w", r, KVNC_TRACE_W);
    } else if (isOneOf(type, {4001, 4004})) {
        addDouble(out, "x", r, KVNC_COMP_X);
        addDouble(out, "y", r, KVNC_COMP_Y);
    } else if (isOneOf(type, {4002, 4005})) {
        addDouble(out, "z", r, KVNC_COMP_Z);
    } else if (type == 4006) {
        addDouble(out, "x", r, KVNC_COMP_X);
        addDouble(out, "y", r, KVNC_COMP_Y);
        addDouble(out, "z", r, KVNC_COMP_Z);
    } else if (isOneOf(type, {4008, 4009})) {
        addDouble(out, "x", r, KVNC_COMP_END_X);
        addDouble(out, "y", r, KVNC_COMP_END_Y);
        addDouble(out, "cx", r, KVNC_COMP_CENTRE_X);
        addDouble(out, "cy", r, KVNC_COMP_CENTRE_Y);
    } else if (type == 7001) {
        addDouble(out, "x", r, KVNC_TRIPLE_P1);
        addDouble(out, "y", r, KVNC_TRIPLE_P1 + 8);
        addDouble(out, "z", r, KVNC_TRIPLE_P1 + 16);
        // The record carries the point three times; show when the copies disagree.
        if (memcmp(r + KVNC_TRIPLE_P1, r + KVNC_TRIPLE_P2, 24) ||
            memcmp(r + KVNC_TRIPLE_P1, r + KVNC_TRIPLE_P3, 24))
            out += " (copies differ)";
    } else if (!isOneOf(type, {3002, 5004})) {
        out += " (no decoded layout)";
    }
    return out;
}
