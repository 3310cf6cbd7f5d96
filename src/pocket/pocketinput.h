// Kernel reset from the tool line and the pocket contours read from exchange
// files into the lists INPUT and CLAMPS.
#pragma once

#include <cstdint>

#include "kernel/cycle/cycle.h"
#include "pocket/clist.h"

enum : int {
    kPocketReadInput = 0,   // geoSource into INPUT
    kPocketReadClamps = 1,  // clamps into CLAMPS
};

// Error numbers the contour reader sends itself.
enum : int {
    kPocketMsgNoContainer = 4,
    kPocketMsgNoFile = 5,
    kPocketMsgOpenFailed = 6,
    kPocketMsgNoList = 103,
};

void pocketKernelInit();  // tolerances and the tool line's further words back to their defaults
// Resets the kernel from a tool line ("TI0.0 R2.5 ZM0.4 XA1 YA2"): 0, or -1 with 3040 when the
// tool radius is below 1e-4. A step factor outside [0, 1) sends 3201 and becomes 0.5.
int pocketStateReset(const char* toolLine);
// 1, or 0 after an error record; a file that breaks off within a contour sends 3011, one that breaks off
// elsewhere or holds a record the reader cannot take "6,(name)", as one that cannot be opened.
int pocketReadInput(CycleRecord* record, int which);
// "toolReference" "center": how far the tool's reference lies above its tip.
double toolReferenceOffset(const CycleRecord* record);
int32_t contourMergeCollinear(ContourElement* elements, int32_t count);
// Through the global frame pair at the contour's top; -1 when a list step fails.
int contourToWorld(ContourElement* elements, ContourHeader* header);
int clistToWorld(const char* name);

