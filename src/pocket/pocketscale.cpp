#include "pocket/pocketscale.h"

#include <cmath>
#include <initializer_list>
#include <vector>

#include "pocket/ccp.h"
#include "pocket/pocketstate.h"

namespace {

bool isUnit() {
    return std::fabs(pocketKernel().geometryScale - 1.0) < 1e-5;
}

void multiply(ContourElement* e, double f) {
    const int n = e->type == kElemArc ? 7 : e->type == kElemLine ? 4 : 0;
    for (int i = 0; i < n; ++i) e->g[i] *= f;
}

}  // namespace

void scaleFromTool() {
    PocketKernel& k = pocketKernel();
    const double r = 25 * k.toolRadius;
    k.geometryScale = r < 0.1 ? 500 : r < 2.5 ? 50 : 25;
}

void scaleReset() {
    pocketKernel().geometryScale = 1.0;
}

double scaleValue(double value) {
    return value * pocketKernel().geometryScale;
}

double unscaleValue(double value) {
    return value / pocketKernel().geometryScale;
}

void scaleElement(ContourElement* e) {
    if (!isUnit()) multiply(e, pocketKernel().geometryScale);
}

void unscaleElement(ContourElement* e) {
    if (!isUnit()) multiply(e, 1.0 / pocketKernel().geometryScale);
}

void scaleElements(ContourElement* elements, int32_t count) {
    for (int32_t i = 0; i < count; ++i) scaleElement(&elements[i]);
}

void unscaleElements(ContourElement* elements, int32_t count) {
    for (int32_t i = 0; i < count; ++i) unscaleElement(&elements[i]);
}

int clistScale(const char* name) {
    if (clistIndex(name) < 0) return 0;
    if (isUnit()) return 1;
    std::vector<ContourElement> buffer;
    const int32_t n = clistCount(name);
    for (int32_t i = 0; i < n; ++i) {
        ContourHeader h;
        if (clistGetHeader(name, &h, i) < 0) return 0;
        buffer.resize(h.elementCount);
        if (clistGet(name, buffer.data(), &h, i) < 0) return 0;
        scaleElements(buffer.data(), static_cast<int32_t>(h.elementCount));
        h.allowance = scaleValue(h.allowance);
        if (!clistReplace(name, buffer.data(), &h, i)) return 0;
    }
    return 1;
}

int ccpScaleGeometry(CycleRecord*) {
    scaleFromTool();
    PocketKernel& k = pocketKernel();
    CcpParams& p = kvCCPParams;
    for (double* v : {&k.stockTolerance, &k.filletRadiusLimit, &k.infeedRadiusLimit, &k.tolerance,
                      &p.toolDiameter, &p.planeAllowance, &p.infeedLength, &p.startX, &p.startY,
                      &p.rifMinLength, &p.referenceRadius, &p.cornerRadius, &p.approachLength,
                      &p.leavingLength, &k.toolRadius, &k.amWord, &k.startX, &k.startY, &k.startRadius})
        *v = scaleValue(*v);
    double* allowances = pocketAllowances();
    for (int32_t i = 0; i < k.inputAllowances && i < kPocketMaxAllowances; ++i)
        allowances[i] = scaleValue(allowances[i]);
    int ok = clistScale("INPUT");
    if (*p.clamps) ok = clistScale("CLAMPS") && ok;
    return ok;
}
