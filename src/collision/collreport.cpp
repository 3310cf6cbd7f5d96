// Collision report of a run.
#include "collision/collreport.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "collision/collassembly.h"
#include "collision/collunit.h"
#include "kernel/base/msg.h"

namespace {

CollReport* gReport = nullptr;

// Integer bisection between a colliding and a free step count; the free end is returned.
int32_t bisectSteps(const Vec3* point, const Vec3* axis, double step, int32_t hit, int32_t free) {
    while (free - hit > 1) {
        const int32_t h = (hit + free) / 2;
        if (coll_check_shifted(point, axis, h * step))
            free = h;
        else
            hit = h;
    }
    return free;
}

void lengthText(double v, char* out, size_t size) {
    std::snprintf(out, size, "%.2lf", v / collUnitFactor());
}

}  // namespace

void collrep_init(CollReport* r, const ToolDescription* tool, int32_t reduce, int32_t extend, double step,
                  double clearanceZ) {
    *r = CollReport{};
    r->reduceMode = reduce != 0;
    r->extendMode = extend != 0;
    r->step = step < 0.1 ? 0.1 : step;
    r->refLength = tool->cutterTop + (tool->toolType == 1 ? tool->radius : tool->cornerRadius);
    r->reducibleLength = tool->cutterTop - tool->tipTop - tool->chamferTop;
    r->clearanceZ = clearanceZ;
    r->reduceSteps = r->reduceMode ? -static_cast<int32_t>(std::trunc(r->reducibleLength / r->step)) : 0;
}

int collrep_create(const ToolDescription* tool, int32_t reduce, int32_t extend, double step,
                   double clearanceZ) {
    collrep_free();
    if (!tool) return 1;
    gReport = static_cast<CollReport*>(std::malloc(sizeof(CollReport)));
    if (gReport) collrep_init(gReport, tool, reduce, extend, step, clearanceZ);
    return 1;
}

void collrep_free() {
    std::free(gReport);
    gReport = nullptr;
}

const CollReport* collrep_current() {
    return gReport;
}

int32_t collrep_record(const Vec3* point, const Vec3* axis, int32_t partCode, int32_t result) {
    if (!gReport) return result;
    int32_t code = partCode;
    if (code == 0 && result < 0) {
        switch (result) {
            case kCollCutter:
            case kCollExtra:
                code = kPartTool;
                break;
            case kCollCuttingPart:
                code = kPartCutting;
                break;
            case kCollExtension:
                code = kPartExtension;
                break;
            case kCollHead:
                code = kPartHead;
                break;
            default:
                code = kPartHolder;
                break;
        }
    }
    return collrep_set_flags(gReport, point, axis, code);
}

bool coll_check_shifted(const Vec3* point, const Vec3* axis, double d) {
    if (std::fabs(axis->x) < 1e-5 && std::fabs(axis->y) < 1e-5) {
        const Vec3 p{point->x, point->y, point->z + d};
        int32_t part = 0;
        return coll_check_vertical(&p, 0, &part) >= 0;
    }
    const Vec3 p{point->x + d * axis->x, point->y + d * axis->y, point->z + d * axis->z};
    return coll_check_parts(&p, axis, nullptr) >= 0;
}

int collrep_set_flags(CollReport* r, const Vec3* point, const Vec3* axis, int32_t code) {
    if (code != 0) {
        switch (code) {
            case kPartHolder:
                r->holderHit = 1;
                break;
            case kPartHead:
                r->headHit = 1;
                break;
            case kPartExtension:
                r->extensionHit = 1;
                break;
            default:
                r->toolHit = 1;
                break;
        }
        if (!r->extendMode || code == kPartCutting) return -2;
        int32_t n = static_cast<int32_t>(std::trunc((r->clearanceZ - point->z) / r->step));
        if (n < 0) n = 0;
        if (!coll_check_shifted(point, axis, n * r->step)) {
            n += 100;
            if (!coll_check_shifted(point, axis, n * r->step)) return -2;
        }
        const int32_t m = r->extendSteps;
        if (coll_check_shifted(point, axis, m * r->step)) return 1;
        r->extendSteps = bisectSteps(point, axis, r->step, m, n);
        return 1;
    }
    if (!r->reduceMode || r->reduceSteps == 0) return 1;
    const int32_t m = r->reduceSteps;
    if (coll_check_shifted(point, axis, m * r->step)) return 1;
    r->reduceSteps = bisectSteps(point, axis, r->step, m, 0);
    return 1;
}

int collrep_warn(CollReport* r, int32_t mode) {
    if (!r) return 0;
    struct Row {
        uint8_t hit;
        uint8_t* warned;
        bool needsExtendOff;
        int32_t base;
    };
    const Row rows[4] = {{r->headHit, &r->headWarned, true, 10},
                         {r->holderHit, &r->holderWarned, true, 11},
                         {r->extensionHit, &r->extensionWarned, true, 12},
                         {r->toolHit, &r->toolWarned, false, 13}};
    int sent = 0;
    for (const Row& row : rows) {
        if (!row.hit || *row.warned || (row.needsExtendOff && r->extendMode)) continue;
        *row.warned = 1;
        const int32_t block = mode == 0 ? 5500 : mode == 2 ? 5510 : mode == 3 ? 5520 : 0;
        if (block == 0) continue;
        msgDouble(9, block + row.base, "*", 0.0);
        sent = 1;
    }
    return sent;
}

int collrep_check(int32_t mode) {
    return gReport ? collrep_warn(gReport, mode) : 0;
}

void collrep_print_values(const CollReport* r) {
    if (!r) return;
    const bool partHit = r->headHit || r->holderHit || r->extensionHit;
    if (r->toolHit)
        msgDouble(9, 5543, "*", 0.0);
    else if (!r->extendMode && (r->extensionHit || r->holderHit || r->headHit))
        msgDouble(9, r->extensionHit ? 5542 : r->holderHit ? 5541 : 5540, "*", 0.0);
    char a[64], b[64];
    lengthText(r->refLength, a, sizeof a);
    if (r->extendMode) {
        if (partHit) {
            if (r->extendSteps == 0) {
                msgDouble(9, 5506, "*", 0.0);
            } else {
                lengthText(r->extendSteps * r->step + r->refLength, b, sizeof b);
                msgTwoTexts(9, 5505, "*", a, b);
                msgDouble(9, 5500, "*", r->extendSteps * r->step);
            }
        } else if (!r->reduceMode) {
            msgDouble(9, 5506, "*", 0.0);
        }
    }
    if (r->reduceMode) {
        if (!partHit) {
            if (r->reduceSteps != 0) {
                lengthText(r->reduceSteps * r->step + r->refLength, b, sizeof b);
                msgTwoTexts(9, 5504, "*", a, b);
            } else {
                msgDouble(9, 5506, "*", 0.0);
            }
        } else if (!r->extendMode) {
            msgDouble(9, 5506, "*", 0.0);
        }
    }
}

void collrep_print(int32_t mode) {
    if (!gReport) return;
    collrep_warn(gReport, mode);
    collrep_print_values(gReport);
}
