// The part's geometry for a run: hub and shroud curves from their selections, the blade contours
// from a profile file or the blade selection, and the names of the run's files in the temporary
// folder.
#pragma once

#include <cstdint>

#include "collision/collassembly.h"
#include "plunge/contourpair.h"
#include "plunge/cycparams.h"
#include "plunge/hubshroud.h"
#include "plunge/plist3d.h"
#include "plunge/profile2d.h"

enum : int32_t {
    kMsgNoHub = 6204,           // the hub selection gives no curve
    kMsgNoShroud = 6205,        // the shroud selection gives no curve
    kMsgNoBladeContour = 6503,  // no blade curves
    kMsgTmpNameTooLong = 5191,  // a temporary file name does not fit its field; the value is the name
    kMsgOutOfMemory = 1103,
};

// Hub and shroud of *HUB_KVX and *SHROUD_KVX at the tolerance: null with 6204 or 6205 when a name is
// empty or its selection gives no curve.
HubShroud* loadHubShroud(double tol);
// The blade's contour pair, folds trimmed: from the first two profiles of *BLADE_PRF (the second
// one first) when that is set, else from the blade selection *BLADE_KVX (6503 when it gives no
// curves). Null on failure; an unreadable *BLADE_PRF, or one of fewer than two profiles, sends no
// message (the caller reports it).
ContourPair* loadBladeContours(const Profile2D* hub, double tol);
// The two tip-edge contours of the blade (which 0, *BLADE_KVX) or splitter (which 1, *SPLIT_KVX)
// as a chain of two lists; null with 6503 when the selection gives none.
Plist3DNode* idx5BladeContourList(const Profile2D* hub, double tol, int32_t which);

// out (kCycleTextMax + 1 bytes) = *TMP_DIR, '/' unless it ends in '/' or '\\', then name; the name
// alone when *TMP_DIR is empty. 1, or -1 with 5191 when the path does not fit (out emptied).
int tmpFilePath(const char* name, char* out);
int checkModelPathInTmp(char* out);  // tmpFilePath("check.3df", out)
// The obstacle files and clearances of the tool-assembly check: every part against *POFCHECK_MODEL.
void collPartNames(CollSetup* out);
