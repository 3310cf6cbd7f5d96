// The tool as a stack of coaxial stages (cutter, shank, two extension stages, two head stages): the
// provisional envelope written before a run, the full stacked build from the cycle's keyword values,
// and the allowance offsets.
#pragma once

#include <cstdint>

// The cutter as path generation sees it; the run set-up fills it from the keywords.
struct CutterShape {
    uint16_t kind;  // 1 ball, 2 flat, 3 torus (ToolType)
    double radius;
    double cornerRadius;
    double tipOffset;
    double tipLength;
    double shaftDiameter;
    double chamferLength;
    double taperAngle;  // degrees
    uint16_t spare;
};

// Heights run along the tool axis from the cutter's reference point. Before toolenv_fill the height
// fields hold the raw keyword values named beside them; afterwards they are the stacked tops.
struct ToolDescription {
    uint16_t toolType;      // *FRTYP (6 stored as 1)
    double radius;          // *FRRADIUS
    double cornerRadius;    // *FRBOGEN
    double tipOffset;       // corner radius when the tip is the reference point, else 0
    double cutterTop;       // *TOTAL_TOOL_LENGTH
    double tipTop;          // *TIP_LENGTH
    double shaftDiameter;   // *SHAFT_DIAMETER
    double chamferTop;      // *CHAMFER_LENGTH
    double taperAngle;      // *TAPER_ANGLE, degrees
    double stage2Top;       // *LENGTH2
    double stage1Top;       // *LENGTH1
    double stage2Diameter;  // *DIAMETER2
    double stage1Diameter;  // *DIAMETER1
    double stage3Top;       // *LENGTH3 (*HEAD_LENGTH2)
    double stage3Diameter;  // *DIAMETER3 (*HEAD_DIAMETER2)
    double stage4Top;       // *LENGTH4 (*HEAD_LENGTH1)
    double stage4Diameter;  // *DIAMETER4 (*HEAD_DIAMETER1)
    double maxSideAngle;    // radians: the widest stage seen from the tip
    double spare[4];
    int32_t thickShaft;  // *THICK_SHAFT: the shank counts as wider than the cutter
};

// Provisional description. The clearance of the envelope is kept for toolenv_add_holder.
void toolenv_create(ToolDescription* desc, const CutterShape* cutter, double offset, double length1,
                    double length2, double totalLength, double diameter1, double diameter2,
                    int32_t thickShaft);
void toolenv_add_shank(ToolDescription* desc, double tipLength, double shaftDiameter, double chamferLength,
                       double taperAngle);
void toolenv_add_holder(ToolDescription* desc, double offset, double diameter3, double length3,
                        double diameter4, double length4);
void set_toolenv_mode(int32_t flag);  // 1: the envelope carries no clearance

// Stacked form from the raw keyword values (tipMode 1: the corner centre is the reference point).
void toolenv_fill(ToolDescription* desc, int32_t tipMode);
// Heights - d; radii + d; diameters + 2 (d + e); every value floored at 0.
void toolenv_offset(ToolDescription* desc, double d, double e);
// Heights - s; diameters + 2 s; floored at 0.
void toolenv_offset_b(ToolDescription* desc, double s);

void toolenvResetState();  // envelope mode 0, clearance 0
