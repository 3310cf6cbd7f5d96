#include "pocket/pocketpcf.h"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <string>

#include "geometry/frames.h"
#include "kernel/base/numtext.h"
#include "pocket/pocketstate.h"
#include "pocket/rifblock.h"

namespace {

constexpr char kDashes[] = "; ----------------------------------------------------------------------\n";

class PcfWriter {
  public:
    PcfWriter(FILE* f, CycleRecord* record) : f_(f), record_(record) {}

    // A line of a word; the variable takes the word.
    void word(const char* line, const char* key, const char* value) {
        fputs(line, f_);
        set(key, value);
    }
    // A line of a number in the line's own format; the variable takes the number formatter's text.
    void number(const char* format, const char* key, double value) {
        fprintf(f_, format, value);
        char text[kFormatFixedMax];
        formatFixed(text, value);
        set(key, text);
    }
    void triple(const char* format, const char* key, const double* v) {
        fprintf(f_, format, v[0], v[1], v[2]);
        char text[160];
        snprintf(text, sizeof text, "%.6lf,%.6lf,%.6lf", v[0], v[1], v[2]);
        set(key, text);
    }
    void text(const char* format, const char* key, const char* value) {
        fprintf(f_, format, value);
        set(key, value);
    }
    void blank() { fputs("\n", f_); }

  private:
    void set(const char* key, const char* value) { record_->vars = kvListSet(record_->vars, key, value, 0); }
    FILE* f_;
    CycleRecord* record_;
};

}  // namespace

int pocketWritePcf(CycleRecord* record) {
    if (!record) return 0;
    char path[2 * kRifTextMax + 16];
    if (!rifTmpPath(path, sizeof path, "tmp.pcf")) return 0;
    FILE* f = fopen(path, "w");
    if (!f) return 0;
    RifBlock& b = *rifBlock();
    PcfWriter w(f, record);
    const time_t now = time(nullptr);
    fputs(kDashes, f);
    const char* stamp = ctime(&now);
    fprintf(f, "; PCF qvpockzw - %s", stamp ? stamp : "\n");
    fputs(kDashes, f);
    w.blank();

    w.text("  geoSource         :=  \"%s\"\n", "geoSource", b.kvx);
    if (b.openPocket) {
        w.word("  strategy          :=  openPocket\n", "strategy", "openPocket");
        if (std::fabs(b.overlap) > 1e-5) w.number("  overlap           :=  %6lf\n", "overlap", b.overlap);
        if (b.openInout) w.word("  openInsideOut     :=  true\n", "openInsideOut", "true");
    }
    w.number("  clearancePlane    :=  %.4lf\n", "clearancePlane", b.sichebene);
    w.number("  clearanceDistance :=  %.4lf\n", "clearanceDistance", b.sichdist);
    if (b.toolTip == 1)
        w.word("  toolReference       :=  tip\n", "toolReference", "tip");
    else
        w.word("  toolReference       :=  center\n", "toolReference", "center");
    if (b.frtyp == 1)
        w.word("  toolType          :=  ballMill\n", "toolType", "ballMill");
    else if (b.frtyp == 3)
        w.word("  toolType          :=  radiusMill\n", "toolType", "radiusMill");
    else
        w.word("  toolType          :=  endMill\n", "toolType", "endMill");
    w.number("  toolDiameter      :=  %.4lf\n", "toolDiameter", 2 * b.frradius);
    if (b.frtyp == 3) w.number("  cornerRadius      :=  %.4lf\n", "cornerRadius", b.frbogen);
    w.number("  spindleSpeed      :=  %.3lf\n", "spindleSpeed", b.drehzahl);
    w.number("  planeFeedrate     :=  %.3lf\n", "planeFeedrate", b.xvorschub);
    w.number("  zFeedrate         :=  %.3lf\n", "zFeedrate", b.zvorschub);
    if (std::fabs(b.rvorschub) >= 1e-5)
        w.number("  reducedFeedrate   :=  %.3lf\n", "reducedFeedrate", b.rvorschub);
    w.number("  planeAllowance    :=  %.3lf\n", "planeAllowance", b.aufmass);
    if (std::fabs(b.macroTabst) >= 1e-5)
        w.number("  rampAddClearance  :=  %.3lf\n", "rampAddClearance", b.macroTabst);
    if (std::fabs(b.surfaceOffset) >= 1e-5)
        w.number("  surfaceOffset     :=  %.4lf\n", "surfaceOffset", b.surfaceOffset);
    w.number("  infeedDepth       :=  %.4lf\n", "infeedDepth", b.vertzustel);
    w.number("  epsilon           :=  %.7lf\n", "epsilon", b.epsilon);
    w.number("  infeedFactor      :=  %.7lf\n", "infeedFactor", b.horizustel);
    if (b.zustellOk) {
        w.word("  startExplicit     :=  true\n", "startExplicit", "true");
        Vec3 start{b.startpt[0], b.startpt[1], b.startpt[2]};
        pointWorldToFrameA(&start);
        w.number("  startX            :=  %.4lf\n", "startX", start.x);
        w.number("  startY            :=  %.4lf\n", "startY", start.y);
    }
    w.blank();

    w.word("  oriAutomatic       :=  full\n", "oriAutomatic", "full");
    if (b.umlauf == 1)
        w.word("  orientation        :=  counterClockwise\n", "orientation", "counterClockwise");
    else
        w.word("  orientation        :=  clockwise\n", "orientation", "clockwise");
    if (b.spiral) {
        w.word("  spiral             :=  true\n", "spiral", "true");
        w.number("  spiralTolerance    :=  %.6lf\n", "spiralTolerance", b.spiralTol);
    }
    w.blank();

    if (b.macroTmode == 2) {
        w.word("  plungeType         :=  helical\n", "plungeType", "helical");
        w.number("  helixRadius        :=  %.4lf\n", "helixRadius", b.macroTrad);
        w.number("  helixPlungeAngle   :=  %.4lf\n", "helixPlungeAngle", b.macroTswin);
        w.number("  helixAngleResolution :=  %.4lf\n", "helixAngleResolution", b.macroHwin);
    } else if (b.macroTmode == 3) {
        w.word("  plungeType         :=  ramp\n", "plungeType", "ramp");
        w.number("  rampAngle          :=  %.4lf\n", "rampAngle", b.macroTswin);
        w.number("  helixAngleResolution :=  %.4lf\n", "helixAngleResolution", b.macroIwin);
    }
    if (b.drehricht == 1)
        w.word("  spindleRotation     :=  clockwise\n", "spindleRotation", "clockwise");
    else if (b.drehricht == 2)
        w.word("  spindleRotation     :=  counterClockwise\n", "spindleRotation", "counterClockwise");
    else
        w.word("  spindleRotation     :=  none\n", "spindleRotation", "none");
    if (b.planeRetract != 1) w.word("  retractEachPlane    :=  false\n", "retractEachPlane", "false");
    if (b.plungeLast == 0) w.word("  plungeAtLastPosition :=  false\n", "plungeAtLastPosition", "false");
    if (b.macroEnd == 1 || b.macroEnd == 3) {
        if (b.macroEnd == 1)
            w.word("  leavingType         :=  perpendicular\n", "leavingType", "perpendicular");
        else
            w.word("  leavingType         :=  quarterCircle\n", "leavingType", "quarterCircle");
        w.number("  leavingLength       :=  %.4lf\n", "leavingLength", b.macroErad);
    }
    if (b.stock && (b.macroStart == 1 || b.macroStart == 3)) {
        if (b.macroStart == 1)
            w.word("  approachType         :=  perpendicular\n", "approachType", "perpendicular");
        else
            w.word("  approachType         :=  quarterCircle\n", "approachType", "quarterCircle");
        w.number("  approachLength       :=  %.4lf\n", "approachLength", b.macroSrad);
    }
    if (b.wallAngle > 1e-5) w.number("  wallAngle          :=  %.4lf\n", "wallAngle", b.wallAngle);
    if (b.stock) {
        if (b.stockonly)
            w.word("  stock              :=  stockOnly\n", "stock", "stockOnly");
        else
            w.word("  stock              :=  force\n", "stock", "force");
    }
    w.blank();

    w.word("  NCOutp             :=  true\n", "NCOutp", "true");
    if (b.inch) w.word("  lengthOfUnit      :=  inch\n", "lengthOfUnit", "inch");
    b.genRif = 0;  // a configuration run never dumps its rings
    w.number("  infeedRadius       :=  %.4lf\n", "infeedRadius", b.infeedRadius);
    if (b.trochCount > 0) {
        fprintf(f, "  trochoidSteps      :=  %d\n", b.trochCount);
        record->vars = kvListSet(record->vars, "trochoidSteps", std::to_string(b.trochCount).c_str(), 0);
    }
    w.number("  filletRadius       :=  %.4lf\n", "filletRadius", b.filletRadius);
    if (b.stock) {
        // An open or stock pocket is never machined as a complete pocket.
        b.completePocket = 0;
        pocketKernel().stockPocket = 1;
    }
    if (b.completePocket)
        w.word("  completePocket     := true\n", "completePocket", "true");
    else
        w.word("  completePocket     := false\n", "completePocket", "false");
    if (b.edgeMovement)
        w.word("  edgeMovement      := true\n", "edgeMovement", "true");
    else
        w.word("  edgeMovement      := false\n", "edgeMovement", "false");
    if (b.filletCorners) w.word("  filletCorners     := true\n", "filletCorners", "true");
    if (b.considerTooltype) w.word("  considerToolType  := true\n", "considerToolType", "true");
    w.blank();

    w.triple("  frameCs_o       := %.6lf,%.6lf,%.6lf\n", "frameCs_o", b.nckoO);
    w.triple("  frameCs_x       := %.6lf,%.6lf,%.6lf\n", "frameCs_x", b.nckoX);
    w.triple("  frameCs_y       := %.6lf,%.6lf,%.6lf\n", "frameCs_y", b.nckoY);
    w.triple("  frameCs_z       := %.6lf,%.6lf,%.6lf\n", "frameCs_z", b.nckoZ);
    w.blank();
    fputs(kDashes, f);
    fclose(f);
    return 1;
}
