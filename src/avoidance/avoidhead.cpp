// The head-avoidance driver: ranges of a path, the mode selection and the write-back of the new axes;
// the range and collision-run walks.
#include "avoidance/avoidhead.h"

#include <utility>

#include "avoidance/avoidsearch.h"
#include "collision/collassembly.h"
#include "kernel/base/constants.h"
#include "kernel/base/msg.h"
#include "kernel/base/runreset.h"

namespace {

bool breaksRange(const Plist* path, int32_t i) {
    const int kind = path->flags[i] >> 8;
    return kind == kPointLink || kind == kPointLinkLike;
}

}  // namespace

int headAvoidNextRange(int32_t from, const Plist* path, int32_t* start, int32_t* end) {
    *start = *end = -1;
    if (!path || from < 0 || from >= path->count) return 0;
    int32_t s = from;
    while (s < path->count && breaksRange(path, s)) ++s;
    if (s >= path->count) return 0;
    int32_t e = s;
    while (e + 1 < path->count && !breaksRange(path, e + 1)) ++e;
    *start = s;
    *end = e;
    return 1;
}

void headAvoidClearStates(AvoidTable* table) {
    for (int32_t i = 0; i < table->count; ++i) table->entries[i].state = 0;
}

int headAvoidNextHitRun(const AvoidTable* table, int32_t from, int32_t* start, int32_t* end) {
    *start = *end = -1;
    int32_t s = from < 0 ? 0 : from;
    while (s < table->count && table->entries[s].state == 0) ++s;
    if (s >= table->count) return 0;
    int32_t e = s;
    while (e + 1 < table->count && table->entries[e + 1].state != 0) ++e;
    *start = s;
    *end = e;
    return 1;
}

int32_t headAvoidCountHits(const AvoidTable* table, int32_t* points) {
    int32_t runs = 0, hits = 0;
    for (int32_t i = 0; i < table->count; ++i) {
        if (table->entries[i].state == 0) continue;
        ++hits;
        if (i == 0 || table->entries[i - 1].state == 0) ++runs;
    }
    if (points) *points = hits;
    return runs;
}

namespace {

int gMessageOnce = 0;     // the warning and activation messages go out once per process
int32_t gRangeCount = 0;  // ranges of two or more points treated

void sendOnce(int32_t number, const char* literal) {
    if (!gMessageOnce) msgDouble(9, number, literal, 0.0);
}

// First point from..to that collides at its own axis: its index with the code, or -1.
int32_t firstHit(const Plist* l, int32_t from, int32_t to, int* code) {
    for (int32_t i = from; i <= to && i < l->count; ++i) {
        const int r = coll_check_full(&l->points[i], &l->vectors[i], nullptr);
        if (r == 1) continue;
        *code = r;
        return i;
    }
    return -1;
}

// path[start..end] replaced by the working list; when cut, the path ends after it.
int writeBack(Plist* path, int32_t start, int32_t end, const Plist* work, bool cut) {
    const int32_t n = end - start + 1;
    if (work->count == n || cut) {
        for (int32_t k = 0; k < work->count; ++k) {
            path->points[start + k] = work->points[k];
            path->vectors[start + k] = work->vectors[k];
            path->parameters[start + k] = work->parameters[k];
            path->flags[start + k] = work->flags[k];
        }
        if (cut) path->count = start + work->count;
        return 1;
    }
    Plist* out = plistCreate(path->count - n + work->count, 1);
    if (!out) return -1;
    // A list made short of memory without axes would lose the path's axes.
    bool ok = out->vectors && (plistCopyRange(out, path, 0, start > 0 ? start - 1 : 0) == 1 || start == 0);
    if (start == 0) out->count = 0;
    for (int32_t k = 0; ok && k < work->count; ++k)
        ok = plistAppend(out, work->parameters[k], &work->points[k], work->flags[k], &work->vectors[k], 1) >=
             0;
    for (int32_t k = end + 1; ok && k < path->count; ++k)
        ok = plistAppend(out, path->parameters[k], &path->points[k], path->flags[k], &path->vectors[k], 1) >=
             0;
    if (ok) std::swap(*path, *out);  // the path's old arrays leave with out
    plistFree(out);
    return ok ? 1 : -1;
}

}  // namespace

void headAvoidParamsFromCycle(HeadAvoidParams* out, uint16_t axisMode, int16_t selection, double leadAngle,
                              double maxTilt, double toolRadius, double cPlusDeg, double cMinusDeg) {
    *out = HeadAvoidParams{
        axisMode, selection, leadAngle, maxTilt, toolRadius, cPlusDeg * kDegToRad, cMinusDeg * kDegToRad};
}

void headAvoidResetState() {
    gMessageOnce = 0;
    gRangeCount = 0;
}
static const LoadReset gLoadReset(kRunResetAvoidance, "headAvoid", headAvoidResetState);

int selectAvoidanceMode(AvoidTable* table, Plist* range, const HeadAvoidParams* cyc) {
    if (!range || range->count < 1) return 1;
    const bool bAxis = cyc->axisMode == 1 || cyc->axisMode == 3,
               cAxis = cyc->axisMode == 2 || cyc->axisMode == 4;
    sendOnce(6011, "*Warning: Try to avoid tool head collision");
    if (!bAxis && !cAxis) {
        gMessageOnce = 1;
        return 1;
    }
    if (cyc->selection != 0 && cyc->selection != 2) {
        msgDouble(9, 7154, "* B/C mode not yet implemented", 0.0);
        return kHeadAvoidNoSolution;
    }
    int r;
    if (bAxis && cyc->selection == 0) {
        sendOnce(7150, "*Global B-axis avoidance activated");
        r = headAvoidGlobalB(cyc, range, table);
    } else if (bAxis) {
        sendOnce(7151, "*Global selective B-axis avoidance activated");
        r = headAvoidSelectiveB(table, range, cyc);
        if (r == kHeadAvoidNoConverge) {
            msgDouble(9, 7155, "*temporary global avoidance", 0.0);
            for (int32_t i = 0; i < table->count; ++i) table->entries[i].flag = 1;
            r = headAvoidGlobalB(cyc, range, table);
        }
    } else if (cyc->selection == 0) {
        sendOnce(7152, "*Global C-axis avoidance activated");
        r = headAvoidGlobalC(cyc, range, table);
    } else {
        sendOnce(7153, "*Global selective C-axis avoidance activated");
        r = headAvoidSelectiveC(table, range, cyc);
        if (r == kHeadAvoidNoConverge) {
            msgDouble(9, 7155, "*Termporary global avoidance", 0.0);
            r = headAvoidGlobalC(cyc, range, table);
        }
    }
    gMessageOnce = 1;
    return r;
}

int avoidToolHeadCollision(Plist* path, const HeadAvoidParams* params) {
    if (!path || !params || (path->count > 0 && !path->vectors)) return -1;
    HeadAvoidParams cyc = *params;
    if (path->count == 0) return 1;
    int result = 1, code = 0;
    Plist* work = plistCreate(path->count, 1);
    if (!work) {
        const int32_t hit = firstHit(path, 0, path->count - 1, &code);
        if (hit < 0) return 1;
        path->count = hit;
        return code;
    }
    int32_t start = 0, end = 0;
    int found = headAvoidNextRange(0, path, &start, &end);
    while (found && result >= 0) {
        if (start == end) {  // one point is no range: it becomes a link and is never treated
            path->flags[start] = static_cast<uint16_t>(kPointLink << 8);
            found = headAvoidNextRange(start, path, &start, &end);
            continue;
        }
        ++gRangeCount;
        bool retried = false, cut = false;
        for (;;) {
            if (plistCopyRange(work, path, start, end) != 1) {
                result = -1;
                break;
            }
            AvoidTable* t = avoidTableCreate(work, cyc.leadAngle, cyc.maxTilt);
            if (!t) {  // every axis vertical: the path ends at its first collision
                const int32_t hit = firstHit(path, 0, path->count - 1, &code);
                if (hit >= 0) path->count = hit, result = code;
                found = 0;
                break;
            }
            for (int32_t i = 0; i < t->count; ++i) {
                AvoidEntry& e = t->entries[i];
                vecTiltAngle(&work->vectors[i], &e.b);
                vecAzimuth(&work->vectors[i], &e.c);
                e.cLow = e.c - cyc.cMinus;
                e.cHigh = e.c + cyc.cPlus;
            }
            avoidLimitPassA(t, t->maxTilt);
            avoidBuildTables(t);
            bool hit = false;
            for (int32_t i = 0; i < t->count; ++i) {
                t->entries[i].state =
                    coll_check_full(&work->points[i], &work->vectors[i], nullptr) == 1 ? 0 : 1;
                hit = hit || t->entries[i].state;
            }
            if (!hit) {
                avoidTableFree(t);
                break;
            }
            const int r = selectAvoidanceMode(t, work, &cyc);
            if (r < 0 && !retried && (cyc.axisMode == 3 || cyc.axisMode == 4)) {
                cyc.axisMode = cyc.axisMode == 3 ? 4 : 3;  // stays for the later ranges
                retried = true;
                avoidTableFree(t);
                continue;
            }
            if (r < 0) {  // the range as it was, up to its first collision
                result = kHeadAvoidCut;
                plistCopyRange(work, path, start, end);
                const int32_t k = firstHit(work, 0, work->count - 1, &code);
                if (k >= 0) work->count = k, result = code, cut = true;
            } else {
                for (int32_t i = 0; i < t->count && i < work->count; ++i) {
                    if (t->entries[i].state != 0) {  // only the points before it survive
                        work->count = i;
                        result = kHeadAvoidCut;
                        cut = true;
                        break;
                    }
                    dirFromAngles(&work->vectors[i], t->entries[i].c, t->entries[i].b);
                }
            }
            avoidTableFree(t);
            if (writeBack(path, start, end, work, cut) < 0) result = -1;
            end = start + work->count - 1;
            break;
        }
        if (result < 0 || !found) break;
        found = headAvoidNextRange(end + 1, path, &start, &end);
    }
    plistFree(work);
    return result;
}
