// Value types of the geometry kernel and their small stateless functions.
#pragma once

struct Vec2 {
    double x, y;
};

struct Vec3 {
    double x, y, z;
};

// A 2D segment: start point (x1, y1), end point (x2, y2).
struct Seg2D {
    double x1, y1, x2, y2;
};
