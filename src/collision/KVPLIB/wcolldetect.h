// Contact of two rigid float triangle meshes, each under a flat tree of axis-aligned boxes that is
// built once by pairing neighbours in mesh order and refit when the mesh is turned.
#pragma once

#include <cstdint>

#include "KVWOG5/lists.h"
#include "geometry/mat4.h"

struct CollNode {
    CollNode* child0;  // both children null: a leaf
    CollNode* child1;
    float box[6];  // min x, y, z, max x, y, z in the turned frame, position not added
    int32_t tri;   // triangle of a leaf
};

struct CollModel {
    FTriList* mesh;  // not copied
    CollNode* nodes;
    CollNode* root;
    int32_t nodeCount;
    Mat4 rot;  // orientation, applied before the position
    float pos[3];
    int32_t ownsMesh;      // freeing the model frees the mesh
    int32_t boxesCurrent;  // 0 after the orientation changed without a refit
};

// Null for an empty mesh or when memory is short (then recorded in the library error state).
CollModel* collmodel_create(FTriList* mesh);
void collmodel_free(CollModel* model);
void collmodel_set_pos(CollModel* model, float x, float y, float z);
void collmodel_set_rot(CollModel* model, const Mat4* m);
void collmodel_update(CollModel* model);
// 1 on contact, else 0. hits (optional) receives (triangle of a, triangle of b) pairs; all = 0 stops
// at the first contact, otherwise every contacting pair is collected.
int collmodel_collide(const CollModel* a, const CollModel* b, int32_t all, List8* hits);
// Separating-axis test of two triangles (nine doubles each): 1 when they touch or cross.
int tri_tri_intersect(const double p[9], const double q[9]);
