#include "kernel/ncout/ncemit.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "kernel/ncout/framemat.h"
#include "kernel/base/numtext.h"

namespace {

constexpr size_t kBlockTextField = 255;  // block texts keep at most 254 characters

int emitTypeOnly(CycleRecord* record, uint16_t channel, int32_t type) {
    NcRecord rec;
    ncRecClear(&rec);
    ncRecPutI32(&rec, KVNC_TYPE, type);
    return ncEmit(record, channel, &rec);
}

int emitBlock(CycleRecord* record, int32_t type, uint32_t number, int32_t kind, const char* t1,
              const char* t2, const char* t3) {
    NcRecord rec;
    ncRecClear(&rec);
    ncRecPutI32(&rec, KVNC_TYPE, type);
    ncRecPutU32(&rec, KVNC_BLOCK_NUMBER, number);
    ncRecPutI32(&rec, KVNC_BLOCK_KIND, kind);
    ncRecPutText(&rec, KVNC_BLOCK_TEXT1, kBlockTextField, t1);
    ncRecPutText(&rec, KVNC_BLOCK_TEXT2, kBlockTextField, t2);
    ncRecPutText(&rec, KVNC_BLOCK_TEXT3, kBlockTextField, t3);
    return ncEmit(record, 12, &rec);
}

// A move on channel 31 and its companion on channel 32, built in the same bytes.
struct MoveField {
    size_t offset;
    double value;
};

int emitMove(CycleRecord* record, int32_t type, std::initializer_list<MoveField> fields, int32_t companion,
             std::initializer_list<MoveField> companionFields) {
    NcRecord rec;
    ncRecClear(&rec);
    ncRecPutI32(&rec, KVNC_TYPE, type);
    for (const auto& f : fields) ncRecPutF64(&rec, f.offset, f.value);
    ncEmit(record, 31, &rec);
    ncRecPutI32(&rec, KVNC_TYPE, companion);
    for (const auto& f : companionFields) ncRecPutF64(&rec, f.offset, f.value);
    return ncEmit(record, 32, &rec);
}

int emitPoint(CycleRecord* record, uint16_t channel, int32_t type, double x, double y, double z) {
    NcRecord rec;
    ncRecClear(&rec);
    ncRecPutI32(&rec, KVNC_TYPE, type);
    ncRecPutF64(&rec, KVNC_POINT_X, x);
    ncRecPutF64(&rec, KVNC_POINT_Y, y);
    ncRecPutF64(&rec, KVNC_POINT_Z, z);
    return ncEmit(record, channel, &rec);
}

std::string fixedText(double value) {
    char buf[kFormatFixedMax];
    formatFixed(buf, value);
    return buf;
}

// An axis component as "%.8f" writes it (to_chars is specified to give printf's digits); the rare
// non-finite or overlong value goes through printf itself.
void axisText(double value, char (&buf)[kFormatFixedMax]) {
    if (std::isfinite(value)) {
        const auto r = std::to_chars(buf, buf + sizeof buf - 1, value, std::chars_format::fixed, 8);
        if (r.ec == std::errc()) {
            *r.ptr = '\0';
            return;
        }
    }
    snprintf(buf, sizeof buf, "%.8lf", value);
}

// Whether two values print alike: coordinates at the current decimals, axis components at eight.
// Equal bits print alike without printing (most moves keep some coordinates).
bool sameText(double a, double b, bool axis) {
    if (std::memcmp(&a, &b, sizeof a) == 0) return true;
    char ta[kFormatFixedMax], tb[kFormatFixedMax];
    if (axis) {
        axisText(a, ta);
        axisText(b, tb);
    } else {
        formatFixed(ta, a);
        formatFixed(tb, b);
    }
    return std::strcmp(ta, tb) == 0;
}

std::string pathValue(const char* comment, const char* uText) {
    std::string value;
    if (comment && *comment) value = std::string("cmnt[") + comment + "]";
    if (uText && *uText) {
        if (!value.empty()) value += ' ';
        value += std::string("u[") + uText + "]";
    }
    return value;
}

void move5x(CycleRecord* record, int32_t type, int32_t axisType, int32_t companion, int32_t axisCompanion,
            double* last[6], const double now[6]) {
    int32_t flags[6] = {};
    bool moved = false, turned = false;
    for (int n = 0; n < 6; ++n) {
        if (sameText(*last[n], now[n], n >= 3)) continue;
        *last[n] = now[n];
        flags[n] = 1;
        (n < 3 ? moved : turned) = true;
    }
    if (!moved && !turned) return;
    NcRecord rec;
    ncRecClear(&rec);
    static const size_t kFlag[6] = {KVNC_MOVE5_FLAG_X, KVNC_MOVE5_FLAG_Y, KVNC_MOVE5_FLAG_Z,
                                    KVNC_MOVE5_FLAG_I, KVNC_MOVE5_FLAG_J, KVNC_MOVE5_FLAG_K};
    static const size_t kValue[6] = {KVNC_MOVE5_X, KVNC_MOVE5_Y, KVNC_MOVE5_Z,
                                     KVNC_MOVE5_I, KVNC_MOVE5_J, KVNC_MOVE5_K};
    int fields = turned ? 6 : 3;
    for (int n = 0; n < fields; ++n) {
        ncRecPutI32(&rec, kFlag[n], flags[n]);
        ncRecPutF64(&rec, kValue[n], now[n]);
    }
    ncRecPutI32(&rec, KVNC_TYPE, turned ? axisType : type);
    ncEmit(record, 31, &rec);
    ncRecPutI32(&rec, KVNC_TYPE, turned ? axisCompanion : companion);
    ncEmit(record, 32, &rec);
}

}  // namespace

int ncError(CycleRecord* record, const char* text) {
    return ncEmitText(record, 0, 101, "error", text);
}

int ncErrorNumber(CycleRecord* record, int32_t number, const char* value) {
    char text[KVNC_TEXT_SIZE];
    snprintf(text, sizeof text, "%ld,%s", static_cast<long>(number), value ? value : "");
    return ncError(record, text);
}

int ncComment(CycleRecord* record, const char* text) {
    return ncEmitText(record, 2, 1001, text, nullptr);
}

int ncCommentText(CycleRecord* record, const char* text) {
    if (!text || !*text) return 0;
    return ncEmitText(record, 32, 4101, text, nullptr);
}

namespace {

// The number k of a variable named "comment_<k>" as the writer would name it (no sign, no leading
// zero); 0 for any other name.
long commentNumber(const char* key) {
    static const char kPrefix[] = "comment_";
    if (strncmp(key, kPrefix, sizeof kPrefix - 1) != 0) return 0;
    const char* digits = key + sizeof kPrefix - 1;
    if (*digits < '1' || *digits > '9') return 0;
    long k = 0;
    auto [end, error] = std::from_chars(digits, digits + strlen(digits), k);
    return error == std::errc() && *end == '\0' ? k : 0;
}

}  // namespace

int ncWriteComments(CycleRecord* record) {
    if (!record) return 0;
    char* last = kvListGet(record->vars, "lastComment", nullptr);
    long count = last ? strtol(last, nullptr, 10) : 0;
    free(last);
    // The comments that are there, in their order, up to the last: a count read from the parameter file
    // is never walked number by number.
    std::vector<std::pair<long, const char*>> comments;
    for (const KvList* n = record->vars; n; n = n->next) {
        const long k = commentNumber(n->key);
        if (k >= 1 && k <= count) comments.emplace_back(k, n->value);
    }
    std::stable_sort(comments.begin(), comments.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    int result = 0;
    for (size_t i = 0; i < comments.size(); ++i) {
        // A key met again: its first value holds, as the list's lookup finds it.
        if (i > 0 && comments[i].first == comments[i - 1].first) continue;
        result = ncComment(record, comments[i].second);
    }
    return result;
}

int ncSetVariable(CycleRecord* record, const char* name, const char* value) {
    return ncEmitText(record, 10, 301, name, value);
}

int ncSetFeedVariable(CycleRecord* record, const char* name, double number) {
    std::string value = std::string("F:\"") + (name ? name : "") + "\":=" + fixedText(number);
    return ncSetVariable(record, "arg", value.c_str());
}

int ncAliasDef(CycleRecord* record, const char* a, const char* b, const char* c, const char* d) {
    std::string value =
        std::string(a ? a : "") + "," + (b ? b : "") + "," + (c ? c : "") + "," + (d && *d ? d : "1");
    return ncSetVariable(record, "aliasDef", value.c_str());
}

int ncTr5X(CycleRecord* record) {
    return ncSetVariable(record, "tr", "5X");
}

int ncTr5X0(CycleRecord* record) {
    return ncSetVariable(record, "tr", "5X0");
}

int ncAssignRecord(CycleRecord* record, const char* name, const char* value) {
    ncEmitText(record, 31, 3131, name, value);
    std::string quoted = std::string("\"") + (name ? name : "") + "\":=\"" + (value ? value : "") + "\"";
    return ncEmitText(record, 1, 203, "loc", quoted.c_str());
}

int ncToolAxis(CycleRecord* record, double i, double j, double k) {
    double length = std::hypot(std::hypot(i, j), k);
    if (!(length > 1e-8)) return 0;
    std::string value = fixedText(i / length) + "," + fixedText(j / length) + "," + fixedText(k / length);
    return ncEmitText(record, 11, 3131, "toolAxis", value.c_str());
}

int ncWriteToolAxisFromFrame(CycleRecord* record, double i, double j, double k) {
    if (!record) return 0;
    // Directions: the rotations alone, translations left out.
    double tool[16], frame[16], inverse[16];
    frameMatCopy(tool, record->toolFrame);
    frameMatCopy(frame, record->frame);
    for (int row = 0; row < 3; ++row) tool[4 * row + 3] = frame[4 * row + 3] = 0.0;
    frameMatInverse(inverse, frame);
    double in[4], world[4], out[4];
    setHomPoint(in, i, j, k);
    frameMatTransformPoint(world, tool, in);
    frameMatTransformPoint(out, inverse, world);
    return ncToolAxis(record, out[0], out[1], out[2]);
}

int ncBlockBeginId(CycleRecord* record, uint32_t number, const char* text2, const char* text3) {
    return emitBlock(record, 5001, number, 1, nullptr, text2, text3);
}

int ncBlockEndId(CycleRecord* record, uint32_t number, const char* text2, const char* text3) {
    return emitBlock(record, 5002, number, 1, nullptr, text2, text3);
}

int ncBlockBeginName(CycleRecord* record, const char* name, const char* text2, const char* text3) {
    if (!name || !*name) return 0;
    return emitBlock(record, 5001, 0, 4, name, text2, text3);
}

int ncBlockEndName(CycleRecord* record, const char* name, const char* text2, const char* text3) {
    if (!name || !*name) return 0;
    return emitBlock(record, 5002, 0, 4, name, text2, text3);
}

int ncBlockValue5003(CycleRecord* record, uint32_t number) {
    return emitBlock(record, 5003, number, 1, nullptr, nullptr, nullptr);
}

int ncBlockRecord5004(CycleRecord* record) {
    return emitTypeOnly(record, 12, 5004);
}

int ncPathBegin(CycleRecord* record, const char* name, const char* comment, const char* uText) {
    return ncEmitText(record, 31, 3001, name, pathValue(comment, uText).c_str());
}

int ncPathEnd(CycleRecord* record) {
    return emitTypeOnly(record, 31, 3002);
}

int ncMove3101(CycleRecord* record, double x, double y) {
    return emitMove(record, 3101, {{KVNC_POINT_X, x}, {KVNC_POINT_Y, y}}, 4001,
                    {{KVNC_COMP_X, x}, {KVNC_COMP_Y, y}});
}

int ncMove3102(CycleRecord* record, double z) {
    return emitMove(record, 3102, {{KVNC_POINT_Z, z}}, 4002, {{KVNC_COMP_Z, z}});
}

int ncMove3111(CycleRecord* record, double x, double y) {
    return emitMove(record, 3111, {{KVNC_POINT_X, x}, {KVNC_POINT_Y, y}}, 4004,
                    {{KVNC_COMP_X, x}, {KVNC_COMP_Y, y}});
}

int ncMove3112(CycleRecord* record, double z) {
    return emitMove(record, 3112, {{KVNC_POINT_Z, z}}, 4005, {{KVNC_COMP_Z, z}});
}

int ncMove3113(CycleRecord* record, double x, double y, double z) {
    return emitMove(record, 3113, {{KVNC_POINT_X, x}, {KVNC_POINT_Y, y}, {KVNC_POINT_Z, z}}, 4006,
                    {{KVNC_COMP_X, x}, {KVNC_COMP_Y, y}, {KVNC_COMP_Z, z}});
}

int ncMove3121(CycleRecord* record, int32_t direction, double endX, double endY, double centreX,
               double centreY) {
    NcRecord rec;
    ncRecClear(&rec);
    ncRecPutI32(&rec, KVNC_TYPE, 3121);
    ncRecPutI32(&rec, KVNC_ARC_DIR, direction);
    ncRecPutF64(&rec, KVNC_ARC_END_X, endX);
    ncRecPutF64(&rec, KVNC_ARC_END_Y, endY);
    ncRecPutF64(&rec, KVNC_ARC_CENTRE_X, centreX);
    ncRecPutF64(&rec, KVNC_ARC_CENTRE_Y, centreY);
    ncEmit(record, 31, &rec);
    ncRecPutI32(&rec, KVNC_TYPE, direction == 1 ? 4008 : 4009);
    ncRecPutF64(&rec, KVNC_COMP_END_X, endX);
    ncRecPutF64(&rec, KVNC_COMP_END_Y, endY);
    ncRecPutF64(&rec, KVNC_COMP_CENTRE_X, centreX);
    ncRecPutF64(&rec, KVNC_COMP_CENTRE_Y, centreY);
    return ncEmit(record, 32, &rec);
}

void ncMove3107(CycleRecord* record, double* lastX, double* lastY, double* lastZ, double x, double y,
                double z, double* lastI, double* lastJ, double* lastK, double i, double j, double k) {
    if (!lastX || !lastY || !lastZ || !lastI || !lastJ || !lastK) return;
    double* last[6] = {lastX, lastY, lastZ, lastI, lastJ, lastK};
    const double now[6] = {x, y, z, i, j, k};
    move5x(record, 3107, 3109, 4016, 4019, last, now);
}

void ncMove3114(CycleRecord* record, double* lastX, double* lastY, double* lastZ, double x, double y,
                double z, double* lastI, double* lastJ, double* lastK, double i, double j, double k) {
    if (!lastX || !lastY || !lastZ || !lastI || !lastJ || !lastK) return;
    double* last[6] = {lastX, lastY, lastZ, lastI, lastJ, lastK};
    const double now[6] = {x, y, z, i, j, k};
    move5x(record, 3114, 3118, 4007, 4020, last, now);
}

int ncPathBegin41(CycleRecord* record, const char* name, const char* comment, const char* uText) {
    return ncEmitText(record, 41, 3001, name, pathValue(comment, uText).c_str());
}

int ncPathEnd41(CycleRecord* record) {
    return emitTypeOnly(record, 41, 3002);
}

int ncPoint3103(CycleRecord* record, double x, double y, double z) {
    return emitPoint(record, 41, 3103, x, y, z);
}

int ncPoint3113(CycleRecord* record, double x, double y, double z) {
    return emitPoint(record, 41, 3113, x, y, z);
}

int ncRecord7001(CycleRecord* record, double x, double y, double z) {
    NcRecord rec;
    ncRecClear(&rec);
    ncRecPutI32(&rec, KVNC_TYPE, 7001);
    ncRecPutI32(&rec, KVNC_TRIPLE_ZERO, 0);
    for (size_t base : {KVNC_TRIPLE_P1, KVNC_TRIPLE_P2, KVNC_TRIPLE_P3}) {
        ncRecPutF64(&rec, base, x);
        ncRecPutF64(&rec, base + 8, y);
        ncRecPutF64(&rec, base + 16, z);
    }
    return ncEmit(record, 42, &rec);
}

int ncEmitText(CycleRecord* record, uint16_t channel, int32_t type, const char* name, const char* value) {
    NcRecord rec;
    ncRecClear(&rec);
    ncRecPutI32(&rec, KVNC_TYPE, type);
    ncRecPutText(&rec, KVNC_TEXT_NAME, KVNC_TEXT_SIZE, name);
    ncRecPutText(&rec, KVNC_TEXT_VALUE, KVNC_TEXT_SIZE, value);
    return ncEmit(record, channel, &rec);
}
