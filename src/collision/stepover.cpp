#include "collision/stepover.h"

#include <algorithm>
#include <cmath>

namespace {

// The widths never exceed 1.8 R: beyond it neighbouring passes would leave uncut ridges at the sides.
constexpr double kMaxFactor = 1.8;

bool badHeight(double h) {
    return !(h >= 0.0) || !std::isfinite(h);
}

double stepoverFlat(double R, double h, double angle) {
    const double wMax = kMaxFactor * R;
    const double b = R * std::sin(angle);
    if (h > b || b < 1e-5) return wMax;
    const double w = (2 * R / b) * std::sqrt(std::max(0.0, 2 * b * h - h * h));
    return std::min(w, wMax);
}

// The corner torus' centre circle, tilted, projects to an ellipse (a across, b in height); the tool's
// profile is that ellipse offset outward by r. Evaluation fails where the ellipse degenerates.
bool torusPoint(double a, double b, double r, double t, double* x, double* y) {
    const double D = std::sqrt(a * a * std::sin(t) * std::sin(t) + b * b * std::cos(t) * std::cos(t));
    if (std::fabs(D) < 1e-5) return false;
    if (x) *x = a * std::cos(t) + r * b * std::cos(t) / D;
    if (y) *y = b * std::sin(t) + r * a * std::sin(t) / D;
    return true;
}

double stepoverTorus(double R, double r, double h, double angle) {
    const double wMax = kMaxFactor * R;
    const double a = R - r;
    const double b = a * std::sin(angle);
    const double hh = std::min(h, 0.9 * (b + r));
    const double target = (b + r) - hh;
    double tLo = 0.0, tHi = 1.570796326794895, yLo, yHi;
    if (!torusPoint(a, b, r, tLo, nullptr, &yLo) || !torusPoint(a, b, r, tHi, nullptr, &yHi)) return wMax;
    if (yLo > target + 1e-5 || yHi < target - 1e-5) return wMax;
    while (yHi - yLo > 1e-5) {
        const double tMid = 0.5 * (tLo + tHi);
        double yMid;
        if (!torusPoint(a, b, r, tMid, nullptr, &yMid)) return wMax;
        if (yMid >= target) {
            tHi = tMid;
            yHi = yMid;
        } else {
            tLo = tMid;
            yLo = yMid;
        }
    }
    double x;
    if (!torusPoint(a, b, r, 0.5 * (tLo + tHi), &x, nullptr)) return wMax;
    return 2 * x;
}

}  // namespace

double stepover_ball(double R, double h) {
    if (badHeight(h)) return -1.0;
    const double wMax = kMaxFactor * R;
    if (h > R) return wMax;
    return std::min(2 * std::sqrt(std::max(0.0, 2 * R * h - h * h)), wMax);
}

double stepover_for_tool(const ToolGeom* tool, double h, double angle) {
    if (!tool || badHeight(h)) return -1.0;
    switch (tool->toolType) {
        case kBallMill:
            return stepover_ball(tool->radius, h);
        case kRadiusMill:
            return stepoverTorus(tool->radius, tool->cornerRadius, h, angle);
        default:
            return stepoverFlat(tool->radius, h, angle);
    }
}
