#include "collision/plunge.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "collision/proj.h"
#include "kernel/base/constants.h"
#include "kernel/base/msg.h"
#include "kernel/base/rng.h"

namespace {

bool inIntervals(const PlungeIntervals* iv, double s) {
    if (!iv) return true;
    for (int32_t k = 0; k < iv->count; ++k) {
        const double a = iv->pairs[2 * k], b = iv->pairs[2 * k + 1];
        if (a - 1e-5 > s) return false;
        if (a - 1e-5 <= s && s < b + 1e-5) return true;
    }
    return false;
}

bool inside(const PlungeIntervals* iv, double x, double y) {
    const Vec2 p{x, y};
    return pointInPolyWinding2D(iv->boundary, iv->boundaryCount, &p) != 0;
}

// Elements of a grid cell at (x, y), or all of them (a null list).
void cellOf(const Grid2D* grid, double x, double y, const int32_t** cells, int32_t* count) {
    *cells = nullptr;
    *count = 0;
    if (!grid) return;
    if (const GridCell* c = grid2DCellAt(grid, x, y)) {
        *cells = c->items;
        *count = c->count;
    }
}

// Each part raises the placed height with its own tool; 1 when a part touched.
bool placeParts(const CheckModel* model, Vec3* placed, Vec3* contact, bool* refused) {
    bool touched = false;
    for (const CheckModelPart* part = model->parts; part; part = part->next) {
        const int32_t* cells;
        int32_t count;
        cellOf(part->grid, placed->x, placed->y, &cells, &count);
        projB_save_state(part);
        Vec3 p = *placed, c{};
        int32_t cls = 0;
        const int res =
            projB_place(&p, part->bounds[5] + part->tool.radius, &part->tool, cells, count, &c, &cls);
        if (res > 0 && cls > 0) {
            *contact = c;
            touched = true;
        }
        if (refused && part->refuseRaise == 1 && p.z > placed->z + model->tolerance) *refused = true;
        placed->z = p.z;
        projB_restore_state();
    }
    return touched;
}

double tipOffset(const ToolGeom* t) {
    if (t->toolType == kBallMill) return t->radius;
    if (t->toolType == kRadiusMill) return t->cornerRadius;
    return 0.0;
}

bool hasPointNear(const Plist* path, double s, double tol) {
    for (int32_t i = 0; i < path->count; ++i)
        if (std::fabs(path->parameters[i] - s) < tol) return true;
    return false;
}

struct Walk {
    CheckModel* model;
    Plist* path;
    const ProfileCurve* prof;
    const int32_t* cells = nullptr;  // the optimisation list, or null for all elements
    int32_t cellCount = 0;
    double minSlope = 1e300;
    bool slopeSeen = false;
};

// Evaluates the profile at s, places and inserts the point: 1, 0 profile failure, -2 insertion failure.
int placeAt(Walk& w, double s, PlungePoint* out, int32_t message) {
    PlungePoint pp{};
    pp.s = s;
    pp.cells = w.cells;
    pp.cellCount = w.cellCount;
    double zp = 0.0;
    if (profileEval(w.prof, s, &pp.profilePoint, &zp) < 0) {
        msgDouble(9, message, "* Profile evaluation failed", s);
        return 0;
    }
    pp.profileHeight = zp;
    plungePlacePoint(&pp, w.model);
    if (w.path) {
        const uint8_t kind = (pp.isPlaced && pp.placeState != kPlaceRefused && pp.placeState != kPlaceOutside)
                                 ? kPointOrdinary
                                 : kPointLink;
        if (plistInsert(w.path, s, &pp.placed, static_cast<uint16_t>((kind << 8) | pp.placeState), nullptr,
                        0) < 0)
            return -2;
    }
    if (out) *out = pp;
    return 1;
}

}  // namespace

int plungeBoundaryTest(const PlungeIntervals* iv, const ToolGeom* tool, const Vec3* contact,
                       const Vec3* placed, double s, const ProfileCurve* profile) {
    if (!iv) return 1;
    if (!tool || !contact || !placed) return 0;
    if (std::fabs(contact->x - placed->x) < 1e-5 && std::fabs(contact->y - placed->y) < 1e-5 &&
        std::fabs(contact->z - placed->z) < 1e-5) {
        double f = 0.0;
        if (tool->toolType == kEndMill)
            f = tool->radius;
        else if (tool->toolType == kRadiusMill)
            f = tool->radius - tool->cornerRadius;
        if (!(f > 1e-5)) return 0;
        for (double off : {f, -f}) {
            Vec2 p;
            if (profileEval(profile, s + off, &p, nullptr) < 0 || !inside(iv, p.x, p.y)) return 0;
        }
        Vec2 t;
        if (profileTangent(profile, s, &t) < 0) return 0;
        for (double off : {f, -f})
            if (!inside(iv, contact->x - t.y * off, contact->y + t.x * off)) return 0;
        return 1;
    }
    return inside(iv, contact->x, contact->y) ? 1 : 0;
}

int plungeOffsetPlace(Vec3* placed, const CheckModel* model, double zp, double startHeight, double dropHeight,
                      const int32_t* cells, int32_t cellCount) {
    const double offset = projB_get_offset();
    if (offset == 0.0 || !placed || !model) return 0;
    CheckModel* clone = chkModelClone(model);
    if (!clone || !clone->tool) {
        chkModelFree(clone);
        return 0;
    }
    chkModelOffsetTool(clone, -offset);
    Vec3 p{placed->x, placed->y, startHeight}, c{};
    int32_t cls = 0;
    bool touched = projB_place(&p, dropHeight, clone->tool, cells, cellCount, &c, &cls) > 0;
    touched = placeParts(clone, &p, &c, nullptr) || touched;
    int answer = 1;
    if (touched) {
        if (p.z <= zp - 1e-5 && p.z <= placed->z - 2 * offset)
            placed->z = p.z;
        else
            answer = 0;
    } else {
        placed->z = p.z;
    }
    chkModelFree(clone);
    return answer;
}

int plungePlacePoint(PlungePoint* pp, CheckModel* model) {
    if (!pp || !model || !model->tool) return 0;
    int result = 1;
    pp->placed = {pp->profilePoint.x, pp->profilePoint.y, model->zLow};
    if (model->grid) cellOf(model->grid, pp->placed.x, pp->placed.y, &pp->cells, &pp->cellCount);
    pp->isPlaced = 1;
    pp->touched = 0;
    pp->placeState = kPlaceNormal;
    const PlungeIntervals* iv = model->plungeIntervals;
    if (model->intervalTest && !inIntervals(iv, pp->s)) {
        pp->placeState = kPlaceRefused;
        pp->isPlaced = 0;
        return 0;
    }
    const double drop = model->bounds[5] + model->tool->radius;
    int32_t cls = 0;
    const int res = projB_place(&pp->placed, drop, model->tool, pp->cells, pp->cellCount, &pp->contact, &cls);
    if (res > 0) pp->touched = 1;
    if (res == kProjCharged) pp->placeState = kPlaceCharged;
    if (res == 0) pp->isPlaced = 0;
    bool refused = false;
    if (placeParts(model, &pp->placed, &pp->contact, &refused)) pp->touched = pp->isPlaced = 1;
    if (refused) pp->placeState = kPlaceRefused;
    if (pp->placed.z > model->zHigh + 1e-5) {
        pp->placeState = kPlaceRefused;
        pp->isPlaced = 0;
    }
    const ProfileCurve* prof = model->plungeProfile;
    if (prof && prof->z) {
        const double zp = pp->profileHeight;
        if (pp->placed.z > zp + 1e-5 && projB_get_offset() != 0.0)
            plungeOffsetPlace(&pp->placed, model, zp, std::min(zp - 1.0, model->bounds[2]), drop, pp->cells,
                              pp->cellCount);
        if (pp->placed.z < zp - 1e-5) {
            pp->placed.z = zp;
            pp->placeState = kPlaceRefused;
            pp->isPlaced = 0;
            result = 0;
        }
    }
    if (model->boundaryTest == 1 && pp->isPlaced && pp->placeState != kPlaceRefused &&
        !plungeBoundaryTest(iv, model->tool, &pp->contact, &pp->placed, pp->s, prof)) {
        pp->placeState = kPlaceOutside;
        result = 3;
    }
    return result;
}

int plunge_along_profile(CheckModel* model, Plist* path) {
    if (!model || !model->tool || !model->plungeProfile) return -1;
    const double tol = model->tolerance, stepLength = model->stepLength;
    // Steps of 0 or less would never reach the profile's end.
    if (!(tol > 0) || !(stepLength > 0)) return -1;
    const ProfileCurve* prof = model->plungeProfile;
    const double len = prof->end - prof->start;
    const double deg = kDegToRad;
    const double a = tol < 0.00999 ? std::max(0.5, 500 * tol) * deg : 5 * deg;
    projB_set_cosines(std::cos(2 * a), std::cos(a));
    projB_set_params(model->triangles, model->boxMin, model->boxMax, model->engineWord, model->zLow,
                     model->zHigh, model->intervalTest);
    setLiftBoxes(model->boxMin, model->boxMax);

    // Without a grid, the elements whose boxes come near the profile stand in for all of them.
    std::vector<int32_t> opt;
    bool useOpt = false;
    const int32_t total = model->triangles ? model->triangles->count : 0;
    if (model->triangles && !model->grid && model->boxMin && model->boxMax) {
        double x0 = 1e300, y0 = 1e300, x1 = -1e300, y1 = -1e300;
        for (int32_t i = 0; i < prof->count; ++i) {
            x0 = std::min(x0, prof->points[i].x), x1 = std::max(x1, prof->points[i].x);
            y0 = std::min(y0, prof->points[i].y), y1 = std::max(y1, prof->points[i].y);
        }
        double m = std::max(model->tool->radius, 0.5 * model->tool->size2) + 1e-5;
        // The walk may stand 1e-5 of parameter past either end, on the end segment's extension: as far
        // in plan as that segment's length per unit of parameter makes it.
        double past = 0.0;
        for (const int32_t i : {1, prof->count - 1}) {
            if (i < 1 || i >= prof->count) continue;
            const Vec2 &a = prof->points[i - 1], &b = prof->points[i];
            const double dl = prof->lengths[i] - prof->lengths[i - 1];
            if (dl > 0) past = std::max(past, 1e-5 * std::hypot(b.x - a.x, b.y - a.y) / dl);
        }
        m += past;
        try {
            for (int32_t j = 0; j < total; ++j)
                if (model->boxMax[j].x >= x0 - m && model->boxMin[j].x <= x1 + m &&
                    model->boxMax[j].y >= y0 - m && model->boxMin[j].y <= y1 + m)
                    opt.push_back(j);
            opt.push_back(-1);  // never read: keeps the list's storage present when no element is near
            opt.pop_back();
            useOpt = true;
        } catch (...) {
            msgDouble(2, 331, "* Not enough memory for the optimisation list", 0.0);
        }
    }
    if (path) path->count = 0;
    double q = 5.0;
    if (model->tool->toolType == kEndMill)
        q = 1.5;
    else if (model->tool->toolType == kRadiusMill && model->tool->cornerRadius < stepLength)
        q = 3.0;

    Walk w{model, path, prof};
    if (useOpt) {
        w.cells = opt.data();
        w.cellCount = static_cast<int32_t>(opt.size());
    }
    double s = 0.0;
    while (s <= len + 1e-5) {
        PlungePoint pp{};
        const int r = placeAt(w, prof->start + s, &pp, 327);
        if (r == -2) return -2;
        if (r == 0) break;
        if (!path && pp.isPlaced && prof->z && pp.placed.z > pp.profileHeight - 1e-5) return 0;
        if (pp.touched && model->slopeMode) {
            const Vec3 tip{pp.placed.x, pp.placed.y, pp.placed.z - tipOffset(model->tool)};
            Vec2 t;
            if (profileTangent(prof, prof->start + s, &t) >= 0) {
                const double dn = (pp.contact.x - tip.x) * -t.y + (pp.contact.y - tip.y) * t.x;
                const double dz = pp.contact.z - tip.z;
                const double l = std::hypot(dn, dz);
                if (l > 0) {
                    w.minSlope = std::min(w.minSlope, std::fabs(dz) / l);
                    w.slopeSeen = true;
                }
                if (model->slopeMode == 2 && w.slopeSeen && w.minSlope < model->slopeLimit - 1e-5) return 0;
            }
        }
        double step = stepLength;
        if (s < tol - 1e-5) step = tol;
        if (model->randomStep && std::fabs(s - tol) < 1e-5)
            step = tol + (stepLength - tol) * double(rngNext() % 1000) / 1000.0;
        if (s + step > len) step = std::max(len - s - tol - 1e-5, tol);
        s += step;
    }
    if (!path) return 1;

    const PlungeIntervals* iv = model->plungeIntervals;
    for (int32_t k = 0; iv && k < iv->count; ++k) {
        const double ia = iv->pairs[2 * k], ib = iv->pairs[2 * k + 1];
        if (ib - ia > 2 * stepLength) continue;
        const double mid = 0.5 * (ia + ib);
        if (hasPointNear(path, mid, tol)) continue;
        const int r = placeAt(w, mid, nullptr, 327);
        if (r == -2) return -2;
        if (r == 0) break;
    }

    if (get_prof_mode()) {
        for (int32_t i = 0; i < prof->count; ++i) {
            bool corner = i == 0 || i == prof->count - 1;
            if (!corner) {
                const Vec2& p0 = prof->points[i - 1];
                const Vec2& p1 = prof->points[i];
                const Vec2& p2 = prof->points[i + 1];
                const double l1 = std::hypot(p1.x - p0.x, p1.y - p0.y),
                             l2 = std::hypot(p2.x - p1.x, p2.y - p1.y);
                corner = l1 >= 1e-5 && l2 >= 1e-5 &&
                         ((p1.x - p0.x) * (p2.x - p1.x) + (p1.y - p0.y) * (p2.y - p1.y)) / (l1 * l2) <= 0.985;
            }
            if (!corner || hasPointNear(path, prof->lengths[i], tol)) continue;
            const int r = placeAt(w, prof->lengths[i], nullptr, 327);
            if (r == -2) return -2;
            if (r == 0) break;
        }
    }

    const ProjAccept accept = projB_accept();
    bool inserted = true;
    while (inserted) {
        inserted = false;
        int32_t i = 1;
        while (i < path->count) {
            if (path->parameters[i] - path->parameters[i - 1] <= tol + 1e-5 ||
                !(plistKindChanges(path, i - 1, i) || accept(path, i - 1, i, i + 1, stepLength, q) ||
                  accept(path, i, i - 1, i - 2, stepLength, q))) {
                ++i;
                continue;
            }
            const double mid = 0.5 * (path->parameters[i - 1] + path->parameters[i]);
            const int r = placeAt(w, mid, nullptr, 328);
            if (r == -2) return -2;
            if (r == 0) break;
            inserted = true;
            i = std::max<int32_t>(i - 1, 1);
        }
    }
    if (model->slopeMode && w.slopeSeen) model->slopeLimit = 0.9 * w.minSlope;
    return 1;
}
