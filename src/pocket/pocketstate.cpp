#include "pocket/pocketstate.h"

#include <cstdlib>
#include <cstring>

#include "kernel/base/runreset.h"
#include "pocket/ccp.h"
#include "pocket/pocketerr.h"

namespace {

constexpr PocketKernel kKernelDefaults = [] {
    PocketKernel k{};
    k.stepFactor = 0.5 * 0.99;
    k.startRegion = -1;
    k.geometryScale = 1.0;
    k.tolerance = 1e-4;
    k.fineTolerance = 1e-14;
    k.tolerance2 = 1e-4;
    k.siWord = 2.0;
    k.tiWord = -2.0;
    k.stockTolerance = 0.5;
    k.singleCutOverlap = 0.9;
    k.widthFactor = 1.0;
    return k;
}();

constexpr PocketOffsetState kOffsetDefaults = [] {
    PocketOffsetState o{};
    o.growMode = 1;
    o.cornerFactor = 1.0;
    o.classifyTol = 0.005;
    return o;
}();

PocketKernel gKernel = kKernelDefaults;
PocketOffsetState gOffset = kOffsetDefaults;
CycleRecord* gRecord = &kvCCP;
double gAllowances[kPocketMaxAllowances];
// Rows are made as they are reached: the full table would hold 96 MB.
uint32_t* gRingRows[kPocketRingRows];

}  // namespace

PocketKernel& pocketKernel() {
    return gKernel;
}

PocketOffsetState& pocketOffsetState() {
    return gOffset;
}

CycleRecord* pocketRecord() {
    return gRecord;
}

void pocketSetRecord(CycleRecord* record) {
    gRecord = record ? record : &kvCCP;
}

int pocketAllowanceSet(int32_t i, double value) {
    if (i < 0 || i >= kPocketMaxAllowances) {
        pocketError(kPocketErrStep);
        return 0;
    }
    gAllowances[i] = value;
    return 1;
}

double pocketAllowanceGet(int32_t i) {
    return i >= 0 && i < kPocketMaxAllowances ? gAllowances[i] : 0.0;
}

double* pocketAllowances() {
    return gAllowances;
}

uint32_t* pocketRingRow(int32_t row) {
    if (row < 0 || row >= kPocketRingRows) {
        pocketError(kPocketErrStep);
        return nullptr;
    }
    if (!gRingRows[row]) {
        gRingRows[row] = static_cast<uint32_t*>(calloc(kPocketRingColumns, sizeof(uint32_t)));
        if (!gRingRows[row]) {
            pocketError(kPocketErrStep);
            return nullptr;
        }
    }
    return gRingRows[row];
}

int pocketRingRowAppend(int32_t row, uint32_t contour) {
    uint32_t* words = pocketRingRow(row);
    if (!words) return 0;
    if (words[0] + 1 >= static_cast<uint32_t>(kPocketRingColumns)) {
        pocketError(kPocketErrStep);
        return 0;
    }
    words[++words[0]] = contour;
    return 1;
}

void pocketStateFree() {
    for (uint32_t*& row : gRingRows) {
        free(row);
        row = nullptr;
    }
}

void pocketStrategyFlagsReset(int32_t strategy) {
    PocketKernel& k = gKernel;
    k.outsideIn = strategy == kCcpOutsideIn;
    k.outsideInDirect =
        strategy == kCcpOutsideInDirect || strategy == kCcpStockOutin || strategy == kCcpOpenPocket;
    k.axisParallel = strategy == kCcpAxisParallel;
    k.stockOutin = strategy == kCcpStockOutin;
    k.openPocket = strategy == kCcpOpenPocket;
    k.stockCorrection = 0;
}

void pocketKernelResetState() {
    gKernel = kKernelDefaults;
    gOffset = kOffsetDefaults;
    gRecord = &kvCCP;
    memset(gAllowances, 0, sizeof gAllowances);
    pocketStateFree();
}
static const RunReset gRunReset(kRunResetCycles, "pocketKernel", pocketKernelResetState);
