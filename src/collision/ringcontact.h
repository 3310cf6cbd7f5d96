// Ring contact: where a ball whose centre is carried on a circle about the z axis (the part axis)
// first touches a triangle or a whole triangle model.
#pragma once

#include <cstdint>

#include "collision/chkmodel.h"

struct RingSweep {
    Vec2 start;         // its polar angle is the start angle
    Vec2 end;           // moved by the mesh query to each contact found
    Vec2 centre;        // centre of the arc measuring the sweep span
    double R;           // radius of the centre circle
    int32_t direction;  // 1 counter-clockwise, -1 clockwise
};

struct ContactState {
    int32_t faceContacts;
    int32_t edgeContacts;
    double step;  // edge sampling step
    Vec3 lastTouch;
};

int contactStateCreate();  // 1 created, 0 one exists already, -1 no memory
void contactFree();
void contactLastPoint(Vec3* out);
const ContactState* contactCurrent();  // the created state, or the default one

// 1 with the first centre on the arc at which the ball of radius r touches the triangle (and the
// touched point), 0 when none.
int ringTriContact(const Triangle3D* tri, const RingSweep* sweep, double r, double z, Vec3* centre,
                   Vec3* touch);
// The first contact over the model's triangles (or the listed ones): 1 found, 0 none.
int ringMeshContact(const CheckModel* model, RingSweep* sweep, double z, const int32_t* list, int32_t count,
                    Vec3* centre);
void ringContactResetState();
