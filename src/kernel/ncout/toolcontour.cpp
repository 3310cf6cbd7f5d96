#include "kernel/ncout/toolcontour.h"

#include <strings.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "kernel/base/cfgfile.h"
#include "kernel/base/kvx/kvxobj.h"
#include "kernel/base/mem.h"
#include "kernel/base/runreset.h"
#include "kernel/ncout/ncemit.h"
#include "kernel/ncout/ncout.h"

namespace {

constexpr int32_t kGrowBy = 32;

std::string gRefName;
double gRefOffset = 0.0;

void append(ToolContour* list, int32_t kind, double x, double y, double x2, double y2) {
    if (!list || list->count < 1 || !list->elements) return;
    if (list->count >= list->capacity) {
        auto* grown = static_cast<ToolElement*>(
            memCalloc(static_cast<size_t>(list->capacity) + kGrowBy, sizeof(ToolElement)));
        if (!grown) return;
        memcpy(grown, list->elements, static_cast<size_t>(list->count) * sizeof(ToolElement));
        free(list->elements);
        list->elements = grown;
        list->capacity += kGrowBy;
    }
    list->elements[list->count++] = ToolElement{kind, x, y, x2, y2};
}

void freeList(ToolContour* list) {
    if (list->capacity > 0) free(list->elements);
    *list = ToolContour{};
}

ToolContour* listByName(ToolRecord* record, const char* name) {
    if (!name) return nullptr;
    static const struct {
        const char* name;
        ToolContour ToolRecord::*list;
    } kLists[] = {
        {"Tool", &ToolRecord::tool},           {"Extrusion", &ToolRecord::extrusion},
        {"Extension", &ToolRecord::extension}, {"Holder", &ToolRecord::holder},
        {"Head", &ToolRecord::head},
    };
    for (const auto& l : kLists) {
        if (strcasecmp(name, l.name) == 0) return &(record->*l.list);
    }
    return nullptr;
}

double number(const char* text) {
    return text && *text ? strtod(text, nullptr) : 0.0;
}

// One element record of a contour: "M" moves to the second point, "L" draws a
// line to it, "A" an arc through it to the third; "L" and "A" start an empty
// list at their first point.
void addElement(ToolContour* list, const KvxRecord& r, KvxNames* names) {
    kvxRecordToNames(names, &r);
    double x[3], y[3];
    for (int row = 0; row < 3; ++row) {
        x[row] = number(names->names[1 + 3 * row]);
        y[row] = number(names->names[2 + 3 * row]);
    }
    if (strcmp(r.name, "M") == 0) {
        toolContourStart(list, x[1], y[1]);
        return;
    }
    bool line = strcmp(r.name, "L") == 0;
    if (!line && strcmp(r.name, "A") != 0) return;
    if (list->count == 0) toolContourStart(list, x[0], y[0]);
    if (line) {
        toolContourLineTo(list, x[1], y[1]);
        return;
    }
    const char* sign = nullptr;
    for (const KvxParam* p = r.params; p; p = p->next) {
        if (p->key && strcmp(p->key, "o") == 0) sign = p->value;
    }
    if (sign && sign[0] == '-')
        toolContourArcNeg(list, x[1], y[1], x[2], y[2]);
    else
        toolContourArcPos(list, x[1], y[1], x[2], y[2]);
}

}  // namespace

int readToolReference(CycleRecord* cycle) {
    if (!cycle) return 0;
    // A configuration run's words are in cfgVars, where the caller runs.
    char* name = kvListGetLast(cycle->cfgVars, "*TOOL_REFERENCE", nullptr);
    if (!name || !*name) {
        free(name);
        return 0;
    }
    gRefName = name;
    free(name);
    std::string key = "*TREF_" + gRefName;
    char* value = kvListGet(cycle->cfgVars, key.c_str(), nullptr);
    if (!value) {
        ncError(cycle, (std::to_string(kToolRefMissing) + "," + gRefName).c_str());
        return 0;
    }
    gRefOffset = strtod(value, nullptr);
    free(value);
    ncError(cycle, (std::to_string(kToolRefFound) + "," + gRefName).c_str());
    ncSetToolReferenceOffset(gRefOffset);
    return 1;
}

const char* toolReferenceName() {
    return gRefName.c_str();
}

double toolReferenceOffset() {
    return gRefOffset;
}

void loadToolContour(CycleRecord* cycle) {
    if (!cycle) return;
    if (cycle->tool) {
        freeToolRecord(cycle->tool);
        free(cycle->tool);
    }
    cycle->tool = static_cast<ToolRecord*>(memCalloc(sizeof(ToolRecord)));
    if (!cycle->tool || cycle->toolContourFlag != 1) return;
    char* file = cycle->cfgMode == 1 ? kvListGetLast(cycle->cfgVars, "*TOOL_CONTOUR", nullptr)
                                     : kvListGetLast(cycle->vars, "toolContour", nullptr);
    readToolContour(file, cycle->tool);
    free(file);
}

void readToolContour(const char* fileName, ToolRecord* record) {
    if (!record) return;
    *record = ToolRecord{};
    if (!fileName) return;
    KvxHeader header{};
    FILE* file = kvxOpen(fileName, &header);
    kvxHeaderFree(&header);
    if (!file) return;
    KvxNames names;
    kvxNamesSet(&names, nullptr, nullptr, nullptr);
    KvxRecord r{};
    int depth = 0;
    std::string contour;
    ToolContour* target = nullptr;
    while (kvxReadRecord(file, &r)) {
        if (r.type == 'o' && depth == 0 && r.name && strcmp(r.name, "Contour") == 0) {
            contour = r.id ? r.id : "";
        } else if (r.type == '{') {
            if (++depth == 1) target = listByName(record, contour.empty() ? nullptr : contour.c_str());
        } else if (r.type == '}') {
            if (depth > 0 && depth-- == 1) {
                target = nullptr;
                contour.clear();
            }
        } else if (r.type == 'o' && depth == 1 && target && r.name) {
            addElement(target, r, &names);
        }
    }
    kvxRecordReset(&r);
    cfgFileClose(file);
}

void freeToolRecord(ToolRecord* record) {
    if (!record) return;
    for (ToolContour* list :
         {&record->tool, &record->extrusion, &record->holder, &record->head, &record->extension})
        freeList(list);
}

void toolContourStart(ToolContour* list, double x, double y) {
    if (!list || list->count != 0) return;
    auto* elements = static_cast<ToolElement*>(memCalloc(kGrowBy, sizeof(ToolElement)));
    if (!elements) return;
    if (list->capacity > 0) free(list->elements);
    list->elements = elements;
    list->capacity = kGrowBy;
    list->elements[0] = ToolElement{kToolElemStart, x, y, 0.0, 0.0};
    list->count = 1;
}

void toolContourLineTo(ToolContour* list, double x, double y) {
    append(list, kToolElemLine, x, y, 0.0, 0.0);
}

void toolContourArcNeg(ToolContour* list, double x, double y, double x2, double y2) {
    append(list, kToolElemArcNeg, x, y, x2, y2);
}

void toolContourArcPos(ToolContour* list, double x, double y, double x2, double y2) {
    append(list, kToolElemArcPos, x, y, x2, y2);
}

void toolContourResetState() {
    gRefName.clear();
    gRefOffset = 0.0;
}
static const RunReset gRunReset(kRunResetNcOut, "toolContour", toolContourResetState);
