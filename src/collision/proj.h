// Drop-cutter placement engines: the tool, with a vertical axis over a point, placed at the highest
// height at which it touches a mesh. Engine A works on facet arrays, engine B on triangle lists; each
// keeps its own module-level state, and neither is re-entrant.
#pragma once

#include <cstdint>

#include "collision/chkmodel.h"
#include "collision/dropcut.h"

// Placement answers.
enum : int {
    kProjNone = 0,
    kProjContact = 1,
    kProjCharged = 2,  // a face contact charged to an element inside the z range
};

using ProjAccept = int (*)(const Plist* list, int32_t i, int32_t j, int32_t k, double length, double ratio);

void projA_set_params(const Facet98* facets, int32_t count, const Vec3* boxMin, const Vec3* boxMax,
                      LiftBoxTable* boxTable, double zMin, double zMax, int32_t pointFlag);
void projB_set_params(const TriList* triangles, const Vec3* boxMin, const Vec3* boxMax,
                      LiftBoxTable* boxTable, double zMin, double zMax, int32_t pointFlag);
// One level deep: install a part's mesh (no box table, no rotated boxes), then put the saved one back.
void projA_save_state(const CheckModelPart* part);
void projA_restore_state();
void projB_save_state(const CheckModelPart* part);
void projB_restore_state();

// The taper cone of a tool into the kernels' values, and the engines' copies of them (flag 1 marks the
// taper as loaded, so every placement also tests the cone).
void toolgeo_set(const ToolGeom* tool);
void get_toolgeo_globals(double out[5],
                         int32_t* taperFlag);  // low and high radius, low and high height, growth
void projA_set_toolgeo(int32_t flag);
void projB_set_toolgeo(int32_t flag);
void projB_set_offset(double offset);  // active from a magnitude of 1e-5
double projB_get_offset();             // 0 when not active

// point: x, y and the start height in, the placed height out; z0 the height the tool drops from.
int projA_place(Vec3* point, double z0, const ToolGeom* tool, const int32_t* list, int32_t count,
                Vec3* contact, int32_t* classOut);
int projB_place(Vec3* point, double z0, const ToolGeom* tool, const int32_t* list, int32_t count,
                Vec3* contact, int32_t* classOut);

// Thinning of placed polylines: 1 when the middle point j of (i, j, k) stays.
int projA_seg_accept(const Plist* list, int32_t i, int32_t j, int32_t k, double length, double ratio);
int projB_seg_accept(const Plist* list, int32_t i, int32_t j, int32_t k, double length, double ratio);
ProjAccept projB_accept();  // engine B's acceptance callback
void projB_set_cosines(double first, double second);
int projB_kind_test(const Plist* path, int32_t i);

// Lift over boxes: engine B reads the boxes installed by setLiftBoxes, engine A its element boxes.
void setLiftBoxes(const Vec3* boxMin, const Vec3* boxMax);
int toolLiftOverBoxes1(LiftBoxTable* table, const int32_t* list, int32_t count, const ToolGeom* tool,
                       const Vec3* point);
int toolLiftOverBoxes2(LiftBoxTable* table, const int32_t* list, int32_t count, const ToolGeom* tool,
                       const Vec3* point);
// Per-element xy boxes in the frame turned by 45 degrees, shared by both engines (null removes them).
void projSetRotatedBoxes(const Vec2* lo, const Vec2* hi);

void set_prof_mode(int32_t flag);
int32_t get_prof_mode();
void set_plunge_flag(int32_t flag);
int32_t get_plunge_flag();

void projResetState();
