// The tool assembly (shank above the cutter, extension, holder, head) as revolved meshes under box
// trees, checked against their obstacle meshes at any tool position; the cutter itself is tested
// analytically against the part's check model.
#pragma once

#include <cstdint>

#include "collision/KVPLIB/wcolldetect.h"
#include "collision/chkmodel.h"
#include "collision/collreport.h"
#include "collision/toolenv.h"

enum : int32_t {
    kAsmCutting = 0,
    kAsmExtension = 1,
    kAsmHolder = 2,
    kAsmHead = 3,
    kAsmExtra = 4,  // reserved, never built
    kAsmParts = 5,
};

enum : int32_t {
    // Errors of the clearance offsets of the part profiles.
    kMsgHolderOffset = 777,
    kMsgExtensionOffset = 778,
    kMsgHeadOffset = 779,
};

struct CollSetup {
    const char* contourFile;  // exchange file with the "Extension", "Holder" and "Head" contours
    int32_t checkHead;
    const char* headFile;  // obstacle mesh of each part
    const char* holderFile;
    const char* extensionFile;
    const char* cuttingFile;
    double headClearance;  // raised in place by the set-up
    double holderClearance;
    double extensionClearance;
    double cuttingClearance;
};

struct CollAssemblySlot {
    CollModel* parts[kAsmParts];
    int32_t collPart;  // part code of the last hit
    List8* hits;
    int32_t oriented;  // the part models carry a tool-axis orientation
};

struct CollAssembly {
    int32_t count;  // always 1
    CollAssemblySlot* slots;
};

// 1 when built, -1 when a named obstacle file failed to load or holds no triangle (nothing is then
// built) or an offset failed.
int coll_setup_assembly(const CheckModel* model, const ToolDescription* tool, double allowance,
                        CollSetup* setup);
void set_coll_tolerances(double a, double b);
void coll_free_models();
// CollResult of the tool at point (tip) with axis (tip into holder); hitOut gets the obstacle triangle
// of a part hit only.
int32_t coll_check(const Vec3* point, const Vec3* axis, int32_t* hitOut, int32_t full);
int32_t coll_check_full(const Vec3* point, const Vec3* axis, int32_t* hitOut);
int32_t coll_check_parts(const Vec3* point, const Vec3* axis, int32_t* hitOut);
// The full check. A holder or head hit writes the first vertex of the hit obstacle triangle into
// `where`; every part hit (holder, head, extension, cutting part) then hands `where` to the avoidance
// as its reference point, unchanged for the extension and the cutting part. The analytic cutter test
// names no triangle: `where` stays as it was and nothing is handed on.
int32_t coll_check_where(const Vec3* point, const Vec3* axis, Vec3* where);
// Axis along +z: 1 free or -2 with the part code in partOut.
int32_t coll_check_vertical(const Vec3* point, int32_t full, int32_t* partOut);
// Height above point (in: the start, out: the found height) where the vertical assembly is free.
int coll_free_height(const Vec3* point, double* height);

// State read by the avoidance code and by tests.
const CollAssembly* coll_assembly();
const FTriList* coll_obstacle_mesh(int32_t part);
double coll_max_side_angle();

// The avoidance layer's services, installed by it (it sits above this layer): told that the
// assembly's models exist (at every set-up), and handed the reference point of a part hit.
void collSetAvoidHooks(void (*modelFlag)(int32_t on), void (*reference)(const Vec3* point));
void collAssemblyResetState();  // frees the models, drops the hooks and the tolerances
