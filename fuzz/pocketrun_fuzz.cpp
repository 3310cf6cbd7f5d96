// The whole pocket cycle run in-process on a small fuzzed job. The bytes are
// decoded into a bounded job rather than handed over as text (the readers of
// the job's files have harnesses of their own), so that mutations change the
// geometry and the switches: an outer contour and up to three islands of lines
// and arcs on a half-unit grid, the tool, the step, depth and infeed levels,
// the strategy and a few switches. The job's parameter and contour files are
// written from them and run through kvCSexecCycle. A job is scaled down to at
// most kMaxStepsAcross steps across, and has one or two infeed planes a level.
//
// Layout (every byte past the end reads 0):
//   strategy, tool diameter, step factor, depth, levels, three switch bytes,
//   allowance, island count; then per contour: a flag byte, an element count
//   and per element a kind byte, x and y. Element i runs from point i to
//   point i + 1 (the last one back to the first); an arc's centre lies on the
//   chord's bisector, its kind byte giving the offset and the direction.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "KVWOG5/kont2d.h"
#include "KVWOG5/wogerr.h"
#include "fuzzhelp.h"
#include "geometry/frames.h"
#include "kernel/base/msg.h"
#include "kernel/base/numtext.h"
#include "kernel/base/rng.h"
#include "kernel/base/runreset.h"
#include "kernel/ncout/core.h"
#include "pocket/ccp.h"
#include "kernel/cycle/cycle.h"
#include "kernel/cycle/cycstart.h"
#include "kernel/ncout/core.h"
#include "kernel/ncout/ncout.h"
#include "kernel/ncout/ncrecord.h"
#include "kernel/ncout/pof.h"
#include "kernel/ncout/toolcontour.h"
#include "platform/module.h"
#include "pocket/ccp.h"
#include "pocket/clist.h"
#include "pocket/contouroffset.h"
#include "pocket/cornerloop.h"
#include "pocket/cutlists.h"
#include "pocket/feedhelpers.h"
#include "pocket/islands.h"
#include "pocket/linearcfit.h"
#include "pocket/linkmove.h"
#include "pocket/planerings.h"
#include "pocket/pocketerr.h"
#include "pocket/pocketnc.h"
#include "pocket/pocketrun.h"
#include "pocket/pocketstate.h"
#include "pocket/regionstack.h"
#include "pocket/regiontree.h"
#include "pocket/regionwalk.h"
#include "pocket/restmat.h"
#include "pocket/rifblock.h"
#include "pocket/ringhelpers.h"
#include "pocket/ringround.h"
#include "pocket/strategies.h"
#include "kernel/exports/exports.h"

namespace {

// The contours' extent in steps (larger jobs are scaled down): every ring
// costs a few milliseconds in the sanitized build, the whole run should not
// cost much more than a few tens.
constexpr double kMaxStepsAcross = 12.0;

void resetAll() {
    runResetAll();
    pocketErrorResetState();
    kvListFree(kvCCP.vars);
    kvCCP.vars = nullptr;
    ncFreeChannels(&kvCCP);
    runResetAll();
    ncOutResetState();
    pofResetState();
    wogResetState();
    kont2dResetState();
    cycleResetState();
}

struct Point {
    double x, y;
};

struct Element {
    uint8_t kind;
    Point p;
};

struct Contour {
    uint8_t flags;
    std::vector<Element> elements;
};

// The centre of element i's arc (on the chord's bisector, offset in eighths of the half chord).
Point arcCentre(const Point& a, const Point& b, uint8_t kind) {
    const double off = ((kind >> 2) - 32) / 8.0;
    return {(a.x + b.x) / 2 - off * (b.y - a.y) / 2, (a.y + b.y) / 2 + off * (b.x - a.x) / 2};
}

// The largest side of the box round every contour, arcs taken as whole circles.
double extentOf(const std::vector<Contour>& contours) {
    double x0 = 1e300, y0 = 1e300, x1 = -1e300, y1 = -1e300;
    for (const Contour& c : contours) {
        const size_t n = c.elements.size();
        for (size_t i = 0; i < n; ++i) {
            const Point a = c.elements[i].p, b = c.elements[(i + 1) % n].p;
            double r = 0;
            Point m = a;
            if (c.elements[i].kind & 1) {
                m = arcCentre(a, b, c.elements[i].kind);
                r = std::hypot(a.x - m.x, a.y - m.y);
            }
            x0 = std::min(x0, m.x - r), y0 = std::min(y0, m.y - r);
            x1 = std::max(x1, m.x + r), y1 = std::max(y1, m.y + r);
        }
    }
    return std::max(x1 - x0, y1 - y0);
}

std::string num(double v) {
    char text[40];
    snprintf(text, sizeof text, "%.17g", v);
    return text;
}

std::string kvxText(const std::vector<Contour>& contours, double scale, double depth) {
    std::string t = "kVX-Exchange-File\nkVX-Version: 1.0\npocket\ncontours\nv surface(0)\n";
    int id = 1;
    for (const Contour& c : contours) {
        t += "o Contour[" + std::to_string(id++) + "]()\n{\n";
        // Levels of their own: a deeper pocket in the floor, a tall island, a shallow one.
        switch (c.flags & 3) {
            case 1:
                t += " v surface(" + num(-depth) + ")\n v depth(" + num(depth / 2) + ")\n";
                break;
            case 2:
                t += " v depth(" + num(1.5 * depth) + ")\n";
                break;
            case 3:
                t += " v depth(" + num(depth / 2) + ")\n";
                break;
            default:
                t += " v depth(" + num(depth) + ")\n";
                break;
        }
        if (c.flags & 4) t += " v sideOfCompensation(leftOfContour)\n";
        if (c.flags & 8) t += " v reverse(true)\n";
        if (c.flags & 16) t += " v stock(true)\n";
        if (c.flags & 32) t += " v pocket(true)\n";
        if (c.flags & 64) t += " v planeAllowance(" + num((c.flags >> 7) ? 0.5 : 0.1) + ")\n";
        const size_t n = c.elements.size();
        for (size_t i = 0; i < n; ++i) {
            const Point a{c.elements[i].p.x * scale, c.elements[i].p.y * scale};
            const Point b{c.elements[(i + 1) % n].p.x * scale, c.elements[(i + 1) % n].p.y * scale};
            const uint8_t kind = c.elements[i].kind;
            std::string x = i == 0 ? num(a.x) + "/" : "/", y = i == 0 ? num(a.y) + "/" : "/";
            x += num(b.x);
            y += num(b.y);
            if (!(kind & 1)) {
                t += " o L(x[" + x + "] y[" + y + "])\n";
                continue;
            }
            const Point c0 = arcCentre(a, b, kind);
            t += std::string(" o A(o[") + (kind & 2 ? "-" : "+") + "] x[" + x + "/" + num(c0.x) + "] y[" + y +
                 "/" + num(c0.y) + "])\n";
        }
        t += "}\n";
    }
    return t;
}

int checkRecord(KvCycle*, int32_t, const void* bytes, void* user) {
    const auto* r = static_cast<const NcRecord*>(bytes);
    const int32_t type = ncRecGetI32(r, KVNC_TYPE);
    if (type >= 3100 && type != 3131) {
        const double x = ncRecGetF64(r, KVNC_POINT_X), y = ncRecGetF64(r, KVNC_POINT_Y);
        const double z = ncRecGetF64(r, KVNC_POINT_Z);
        fuzzCheck(std::isfinite(x) && std::isfinite(y) && std::isfinite(z), "a point that is not finite");
    }
    *static_cast<int32_t*>(user) = type;
    return 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    resetAll();
    coreSetModuleFolder(moduleFileName().c_str());
    FuzzBytes in{data, size};

    static const char* const kStrategies[] = {"",           "outsideIn", "outsideInDirect", "axisParallel",
                                              "stockOutin", "openPocket"};
    const char* strategy = kStrategies[in.u8() % 6];
    const double diameter = 1 + in.u8() / 8.0;
    const double factor = 0.05 + (in.u8() % 95) / 100.0;
    const double depth = 1 + in.u8() % 16;
    const int levels = 1 + in.u8() % 2;
    const uint8_t s1 = in.u8(), s2 = in.u8(), s3 = in.u8();
    const double allowance = (in.u8() % 8) / 10.0;
    const int islands = in.u8() % 4;

    std::vector<Contour> contours(1 + islands);
    for (size_t k = 0; k < contours.size(); ++k) {
        contours[k].flags = in.u8();
        const int n = 1 + in.u8() % (k == 0 ? 10 : 6);
        for (int i = 0; i < n; ++i) contours[k].elements.push_back({in.u8(), {in.u8() / 2.0, in.u8() / 2.0}});
    }
    // A radius mill (last switch) cuts with half its diameter.
    const double step = factor * diameter * (s3 & 128 ? 0.5 : 1.0), extent = extentOf(contours);
    const double scale = extent > kMaxStepsAcross * step ? kMaxStepsAcross * step / extent : 1.0;

    const std::string folder = fuzzPrivateFolder();
    const std::string kvx = kvxText(contours, scale, depth);
    fuzzWriteFile("pocket.kvx", reinterpret_cast<const uint8_t*>(kvx.data()), kvx.size());

    std::string pcf = "geoSource := \"" + folder + "/pocket.kvx\"\n";
    pcf += "toolDiameter := " + num(diameter) + "\ninfeedFactor := " + num(factor) + "\n";
    pcf += "planeAllowance := " + num(allowance) + "\nsurface := 0\ndepth := " + num(depth) + "\n";
    pcf += "infeedDepth := " + num(depth / levels) + "\n";
    pcf += "clearancePlane := " + num(depth + 40) + "\nretractPlane := " + num(depth + 10) + "\n";
    pcf += "clearanceDistance := 2\nplaneFeedrate := 800\nzFeedrate := 200\n";
    if (*strategy) pcf += std::string("strategy := ") + strategy + "\n";
    static const char* const kOri[] = {"none", "single", "full"};
    if ((s1 & 3) < 3) pcf += std::string("oriAutomatic := ") + kOri[s1 & 3] + "\n";
    pcf += std::string("orientation := ") + (s1 & 4 ? "clockwise" : "counterClockwise") + "\n";
    if (s1 & 8) pcf += "splitPath := true\n";
    if (s1 & 16) pcf += "spiral := true\n";
    if (s1 & 32) pcf += "allowSingleCut := true\n";
    if (s1 & 64) pcf += "filletCorners := true\nfilletRadius := " + num(diameter / 4) + "\n";
    if (s1 & 128) pcf += "completePocket := true\n";
    static const char* const kPlunge[] = {"helical", "ramp", "vertical"};
    static const char* const kApproach[] = {"none", "perpendicular", "contourParallel", "quarterCircle",
                                            "halfCircle"};
    static const char* const kStock[] = {"", "true", "force", "stockOnly", "multi"};
    pcf += std::string("plungeType := ") + kPlunge[s2 % 3] + "\nhelixRadius := " + num(0.4 * diameter) + "\n";
    pcf += std::string("approachType := ") + kApproach[s2 / 3 % 5] + "\n";
    pcf += std::string("leavingType := ") + kApproach[s2 / 15 % 4] + "\n";
    pcf += "approachLength := " + num(diameter / 2) + "\nleavingLength := " + num(diameter / 2) + "\n";
    if (s2 / 60) pcf += std::string("stock := ") + kStock[s2 / 60] + "\n";
    if (s3 & 1) pcf += "stepStrategy := pocket\n";
    if (s3 & 2) pcf += "invertSequence := true\n";
    if (s3 & 4) pcf += "edgeMovement := true\n";
    if (s3 & 8) pcf += "reduceContours := false\n";
    if (s3 & 16) pcf += "referenceDiameter := " + num(diameter * 2) + "\n";
    if (s3 & 32) pcf += "openInsideOut := true\n";
    if (s3 & 64) pcf += "trochoidSteps := 3\n";
    if (s3 & 128)
        pcf +=
            "considerToolType := true\ntoolType := radiusMill\ncornerRadius := " + num(diameter / 4) + "\n";
    fuzzWriteFile("run.pcf", reinterpret_cast<const uint8_t*>(pcf.data()), pcf.size());

    std::string arg = "-S" + folder + "/run";
    char* argv[] = {arg.data(), nullptr};
    int32_t last = 0;
    HostCallbacks callbacks{checkRecord, &last, nullptr, nullptr, nullptr, nullptr};
    fuzzCheck(kvCSexecCycle(reinterpret_cast<KvCycle*>(&kvCCP), 1, argv, &callbacks) == 1,
              "the run did not start");
    const int32_t status = kvCSgetSignal(reinterpret_cast<KvCycle*>(&kvCCP));
    fuzzCheck(status == 0 || status == 1, "an unknown status");
    fuzzCheck(last == 104, "the cycle end was not the last record");
    resetAll();
    return 0;
}
