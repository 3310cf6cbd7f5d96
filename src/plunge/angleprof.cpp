// Angle profile: tables of lead angles with blended stations.
#include "plunge/angleprof.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "geometry/blend.h"
#include "geometry/plist.h"
#include "kernel/base/constants.h"
#include "plunge/cycparams.h"

namespace {

int kindOf(const Plist* list, int32_t i) {
    return list->flags[i] >> 8;
}

double firstCutParam(const Plist* list) {
    if (!list) return -1.0;
    for (int32_t i = 0; i < list->count; ++i)
        if (kindOf(list, i) != kPointLink) return list->parameters[i];
    return -1.0;
}

// Only a list that ends in a run of non-cut points has a trailing edge inside it.
double lastCutParam(const Plist* list) {
    if (!list || list->count == 0 || kindOf(list, list->count - 1) != kPointLink) return -1.0;
    for (int32_t i = list->count - 1; i >= 0; --i)
        if (kindOf(list, i) != kPointLink) return list->parameters[i];
    return -1.0;
}

double smallerValid(double a, double b) {
    if (a < 0) return b;
    if (b < 0) return a;
    return std::min(a, b);
}

void addStation(AngleTable* table, double position, int32_t edge, int on, double ownAngle) {
    AngleStation& s = table->stations[table->count++];
    s.position = position;
    s.edge = edge;
    s.general = on ? 0 : 1;
    s.angle = on ? ownAngle : table->angle;
}

// Stations come from three different lists and need not be ascending (a splitter may start behind
// the trailing edge of a short channel); the evaluation needs them in order.
void sortStations(AngleTable* table) {
    std::stable_sort(table->stations, table->stations + table->count,
                     [](const AngleStation& a, const AngleStation& b) { return a.position < b.position; });
}

}  // namespace

AngleProfile* angleProfCreate() {
    return static_cast<AngleProfile*>(calloc(1, sizeof(AngleProfile)));
}

void angleProfFree(AngleProfile* profile) {
    free(profile);
}

int angleProfInit(AngleProfile* profile, const PlistArray* sideLists) {
    if (!profile || !sideLists || sideLists->count != 4) return -1;
    const CycleParams* p = cycleParams();
    Plist* const* l = sideLists->lists;
    AngleTable* t1 = &profile->table1;
    AngleTable* t2 = &profile->table2;
    t1->count = t2->count = 0;
    t1->angle = p->leadAngle * kDegToRad;
    t2->angle = -p->leadupAngle * kDegToRad;
    double edge3 = -1.0;
    for (int k : {0, 3, 1, 2}) edge3 = std::max(edge3, lastCutParam(l[k]));
    const double position[3] = {smallerValid(firstCutParam(l[0]), firstCutParam(l[3])),
                                smallerValid(firstCutParam(l[1]), firstCutParam(l[2])), edge3};
    const int on1[3] = {p->leadAngleLeadmainOk, p->leadAngleLeadsplitterOk, p->leadAngleTrailOk};
    const double a1[3] = {p->leadAngleLeadmain, p->leadAngleLeadsplitter, p->leadAngleTrail};
    const int on2[3] = {p->leadupAngleLeadmainOk, p->leadupAngleLeadsplitterOk, p->leadupAngleTrailOk};
    const double a2[3] = {p->leadupAngleLeadmain, p->leadupAngleLeadsplitter, p->leadupAngleTrail};
    for (int e = 0; e < 3; ++e) {
        if (position[e] < 0) continue;
        addStation(t1, position[e], e + 1, on1[e], a1[e] * kDegToRad);
        addStation(t2, position[e], e + 1, on2[e], -a2[e] * kDegToRad);
    }
    sortStations(t1);
    sortStations(t2);
    return 1;
}

double angleProfEval(const AngleProfile* profile, int useTable2, double position) {
    if (!profile) return 0.0;
    const AngleTable* t = useTable2 ? &profile->table2 : &profile->table1;
    if (t->count <= 0) return t->angle;
    int32_t i = 0;
    while (i < t->count && t->stations[i].position < position) ++i;
    if (i == 0) return t->stations[0].angle;
    if (i == t->count) return t->stations[t->count - 1].angle;
    const AngleStation& a = t->stations[i - 1];
    const AngleStation& b = t->stations[i];
    return blendC3(position, a.position, b.position, a.angle, b.angle);
}
