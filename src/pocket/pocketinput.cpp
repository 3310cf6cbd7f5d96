#include "pocket/pocketinput.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "geometry/frames.h"
#include "pocket/ccp.h"
#include "kernel/base/cfgfile.h"
#include "kernel/base/kvx/kvlist.h"
#include "kernel/base/kvx/kvxfile.h"
#include "kernel/base/kvx/kvxobj.h"
#include "kernel/ncout/ncemit.h"
#include "kernel/base/numtext.h"
#include "kernel/base/keyword.h"
#include "pocket/clist.h"
#include "pocket/contourclean.h"
#include "pocket/contourorient.h"
#include "pocket/pocketerr.h"
#include "pocket/pocketscale.h"
#include "pocket/pocketstate.h"
#include "pocket/rifblock.h"
#include "surfaces/xyztext.h"

namespace {

double number(const char* text) {
    CycleKeywordValue v;
    convertKeywordValue(kParseNumber, text ? text : "", &v);
    return v.number[0];
}

// The number right after the first occurrence of the word's letters.
bool toolWord(const char* line, const char* word, double* out) {
    const char* at = strstr(line, word);
    if (!at) return false;
    *out = number(at + strlen(word));
    return true;
}

void sendError(CycleRecord* record, const std::string& text) {
    ncEmitText(record, 0, 101, "error", text.c_str());
}

std::string variable(const CycleRecord* record, const char* key) {
    char* v = kvListGet(record->vars, key, nullptr);
    std::string s = v ? v : "";
    free(v);
    return s;
}

// What a contour carries while it is read.
struct ContourState {
    double allowance, depth, surface;
    int side, stock, pocket, reverse;
};

class InputReader {
  public:
    InputReader(CycleRecord* record, int which) : record_(record), which_(which) {}
    ~InputReader() {
        kvxRecordReset(&rec_);
        kvxObjFree(obj_);
        if (file_) cfgFileClose(file_);
    }
    InputReader(const InputReader&) = delete;
    InputReader& operator=(const InputReader&) = delete;

    int run();

  private:
    const char* list() const { return which_ == kPocketReadInput ? "INPUT" : "CLAMPS"; }
    double depthOf(double d) const { return std::fmax(d - kvCCPParams.depthOffset, 0.0); }
    void openScope();
    void onVariable();
    bool onElement();
    bool finishContour();

    CycleRecord* record_;
    int which_;
    FILE* file_ = nullptr;
    KvxObjData* obj_ = nullptr;
    KvxRecord rec_{};
    KvxNames names_{};
    std::string curX_, curY_;
    ContourState state_{};
    double heightOffset_ = 0;
    int elementMark_ = 0;
    int level_ = 0;
    int contourLevel_ = -1;  // scope level of the contour being read, -1 outside
    std::vector<ContourElement> elements_;
    bool frameGiven_ = false;
    double frame_[4][3]{};
};

void InputReader::openScope() {
    const CcpParams& p = kvCCPParams;
    state_ = ContourState{p.planeAllowance, depthOf(p.depth), p.surface, 0, 0, 0, 0};
    // Heights and allowance set outside the scope reach it through the container.
    if (char* v = kvxObjGetAttr(obj_, "planeAllowance")) state_.allowance = number(v), free(v);
    if (char* v = kvxObjGetAttr(obj_, "depth")) state_.depth = depthOf(number(v)), free(v);
    if (char* v = kvxObjGetAttr(obj_, "surface")) state_.surface = number(v), free(v);
}

void InputReader::onVariable() {
    const char* name = rec_.name;
    const char* value = rec_.id ? rec_.id : "";
    kvxObjSetAttr(obj_, name, value);
    CcpParams& p = kvCCPParams;
    if (strcmp(name, "precision") == 0) {
        char* own = kvListGet(record_->vars, "precision", nullptr);
        if (!own) {
            setNumberDecimals(static_cast<int>(number(value)));
            record_->vars = kvListSet(record_->vars, "precision", value, kKvDerived);
            ncEmitText(record_, 0, 108, "precision", value);
        }
        free(own);
    } else if (strcmp(name, "sideOfCompensation") == 0) {
        state_.side = strcmp(value, "leftOfContour") == 0 ? 1 : 0;
    } else if (strcmp(name, "planeAllowance") == 0) {
        state_.allowance = number(value);
    } else if (strcmp(name, "depth") == 0) {
        state_.depth = depthOf(number(value));
    } else if (strcmp(name, "surface") == 0) {
        state_.surface = number(value);
    } else if (strcmp(name, "stock") == 0) {
        state_.stock = strcmp(value, "true") == 0 ? 1 : 0;
    } else if (strcmp(name, "pocket") == 0) {
        state_.pocket = strcmp(value, "true") == 0 ? 1 : 0;
    } else if (strcmp(name, "clip") == 0) {
        // Rings read back from a contour file carry their open sides whatever the pocket type.
        if (p.stock > 0 || (p.strategy >= 2 && p.strategy <= 5) || p.evaluateRif) {
            elementMark_ = strcmp(value, "true") == 0 ? -1 : 0;
            if (elementMark_ < 0 && !state_.stock) p.stockMovement = 1;
        }
    } else if (strcmp(name, "reverse") == 0) {
        state_.reverse = strcmp(value, "false") != 0 ? 1 : 0;
    } else if (strcmp(name, "bnd") == 0) {
        if (elementMark_ < 0) elementMark_ = strcmp(value, "false") == 0 ? -1 : -2;
    } else if (strncmp(name, "Cs_", 3) == 0 && name[3] && !name[4]) {
        const char* axes = "oxyz";
        const char* at = strchr(axes, name[3]);
        if (at) {
            parseXyzTriple(value, frame_[at - axes]);
            frameGiven_ = true;
        }
    }
}

bool InputReader::onElement() {
    const char* name = rec_.name;
    kvxNamesSet(&names_, curX_.c_str(), curY_.c_str(), "");
    kvxRecordToNames(&names_, &rec_);
    double x[3], y[3];
    for (int k = 0; k < 3; ++k) {
        x[k] = number(names_.names[1 + 3 * k]);
        y[k] = number(names_.names[2 + 3 * k]);
    }
    CcpParams& p = kvCCPParams;
    if (strcmp(name, "P") == 0) {
        if (!p.startExplicit) {
            p.startExplicit = 1;
            p.startX = x[0];
            p.startY = y[0];
        }
        // The contour that carries the start point is not a contour to machine. Its scope still counts:
        // a file broken off inside it is damaged.
        contourLevel_ = -1;
        return true;
    }
    ContourElement e{};
    e.sourceTag = elementMark_;
    if (strcmp(name, "L") == 0) {
        e.type = kElemLine;
        e.g[kLx1] = x[0];
        e.g[kLy1] = y[0];
        e.g[kLx2] = x[1];
        e.g[kLy2] = y[1];
    } else {
        const char* sign = nullptr;
        for (const KvxParam* q = rec_.params; q; q = q->next) {
            if (q->key && strcmp(q->key, "o") == 0) sign = q->value;
        }
        e.type = kElemArc;
        e.g[kAcx] = x[2];
        e.g[kAcy] = y[2];
        e.g[kAsx] = x[0];
        e.g[kAsy] = y[0];
        e.g[kAex] = x[1];
        e.g[kAey] = y[1];
        e.g[kAr] = std::hypot(x[0] - x[2], y[0] - y[2]);
        e.direction = sign && sign[0] == '-' ? -1 : 1;
    }
    if (elements_.size() >= static_cast<size_t>(kClistMaxElements)) {
        pocketError(kPocketErrElementCap);
        return false;
    }
    elements_.push_back(e);
    curX_ = names_.names[4];
    curY_ = names_.names[5];
    if (elementMark_ < 0) elementMark_ = -1;
    return true;
}

bool InputReader::finishContour() {
    PocketKernel& k = pocketKernel();
    const CcpParams& p = kvCCPParams;
    if (!pocketAllowanceSet(k.allowanceCount, state_.allowance)) return false;
    ++k.allowanceCount;
    if (which_ == kPocketReadInput) k.inputAllowances = k.allowanceCount;
    ContourHeader h{};
    h.ccw = 1;
    h.leftSide = static_cast<uint8_t>(state_.side);
    h.tag = which_ == kPocketReadInput ? 1 : 0;
    h.top = state_.surface + heightOffset_ + p.surfaceOffset;
    h.bottom = h.top - state_.depth;
    h.parent = 1;
    h.stock = static_cast<uint16_t>(state_.stock);
    h.allowance = state_.allowance;
    h.group = static_cast<int16_t>(state_.pocket);
    auto n = static_cast<int32_t>(elements_.size());
    if (p.inch) {
        // Inch contours are cleaned at the scale the kernel will machine them in.
        scaleFromTool();
        scaleElements(elements_.data(), n);
        n = contourClean(elements_.data(), n);
        unscaleElements(elements_.data(), n);
        scaleReset();
    } else {
        n = contourClean(elements_.data(), n);
    }
    if (state_.reverse) contourReverse(elements_.data(), n);
    const bool twoLines = n == 2 && elements_[0].type == kElemLine && elements_[1].type == kElemLine;
    if (twoLines && record_->cycleId != 1101) return true;
    n = contourMergeCollinear(elements_.data(), n);
    h.elementCount = static_cast<uint32_t>(n);
    if (!clistInsert(list(), elements_.data(), &h, -1)) {
        pocketError(kPocketErrStep);
        return false;
    }
    return true;
}

int InputReader::run() {
    CcpParams& p = kvCCPParams;
    PocketKernel& k = pocketKernel();
    if (which_ == kPocketReadInput) {
        if (!clistCreate("INPUT")) {
            ncError(record_, std::to_string(kPocketMsgNoList).c_str());
            return 0;
        }
        k.allowanceCount = k.inputAllowances = 0;
    } else if (!clistCreate("CLAMPS")) {
        ncError(record_, std::to_string(kPocketMsgNoList).c_str());
        return 0;
    }
    heightOffset_ = toolReferenceOffset(record_);
    const char* fileName = which_ == kPocketReadInput ? p.geoSource : p.clamps;
    if (!*fileName) {
        sendError(record_, std::to_string(kPocketMsgNoFile));
        return 0;
    }
    KvxHeader header{};
    file_ = kvxOpen(fileName, &header);
    kvxHeaderFree(&header);
    if (!file_) {
        sendError(record_, std::to_string(kPocketMsgOpenFailed) + ",(" + fileName + ")");
        return 0;
    }
    obj_ = kvxObjCreate();
    if (!obj_) {
        sendError(record_, std::to_string(kPocketMsgNoContainer));
        return 0;
    }
    for (const char* key : {"surface", "depth"}) {
        const std::string v = variable(record_, key);
        if (!v.empty()) kvxObjSetAttr(obj_, key, v.c_str());
    }
    curX_ = variable(record_, "currentX");
    curY_ = variable(record_, "currentY");
    openScope();
    while (kvxReadRecord(file_, &rec_) == 1) {
        if (rec_.type == 'o' && rec_.name && strcmp(rec_.name, "Contour") == 0) {
            contourLevel_ = level_;
            elements_.clear();
        } else if (rec_.type == 'o' && rec_.name && contourLevel_ >= 0 && level_ == contourLevel_ + 1 &&
                   (!strcmp(rec_.name, "L") || !strcmp(rec_.name, "A") || !strcmp(rec_.name, "P"))) {
            if (!onElement()) return 0;
        } else if (rec_.type == 'v' && rec_.name) {
            onVariable();
        } else if (rec_.type == '{') {
            kvxObjPushLevel(obj_);
            ++level_;
            openScope();
        } else if (rec_.type == '}') {
            kvxObjPopLevel(obj_);
            if (level_ > 0) {
                --level_;
                if (contourLevel_ >= 0 && level_ == contourLevel_) {
                    contourLevel_ = -1;
                    if (!finishContour()) return 0;
                }
            }
        }
    }
    // The reader stops at the end of the file and at a record it cannot take. A contour or scope left
    // open, or a stop before the end, means the file broke off or is damaged: what it held from there on
    // is lost, and a part of a job is not machined as the whole.
    if (contourLevel_ >= 0) {
        pocketError(kPocketErrOpenContour);
        return 0;
    }
    if (level_ > 0 || !feof(file_)) {
        sendError(record_, std::to_string(kPocketMsgOpenFailed) + ",(" + fileName + ")");
        return 0;
    }
    if (frameGiven_ && framePairGetFlag(5)) {
        const Vec3 o{frame_[0][0], frame_[0][1], frame_[0][2]}, x{frame_[1][0], frame_[1][1], frame_[1][2]};
        const Vec3 y{frame_[2][0], frame_[2][1], frame_[2][2]}, z{frame_[3][0], frame_[3][1], frame_[3][2]};
        framePairSetLocal(&o, &x, &y, &z);
        if (clistToWorld(list()) < 0) return 0;
    }
    return 1;
}

}  // namespace

void pocketKernelInit() {
    pocketError(0);
    PocketKernel& k = pocketKernel();
    k.tolerance = k.tolerance2 = 1e-4;
    k.fineTolerance = 1e-14;
    k.amWord = 0.0;
    k.siWord = 2.0;
    k.tiWord = -2.0;
    k.stepFactor = 0.0;
}

int pocketStateReset(const char* toolLine) {
    pocketKernelInit();
    PocketKernel& k = pocketKernel();
    k.startRadius = 0;
    k.startGiven = 0;
    k.startRegion = -1;
    k.wantedOrientation = 0;
    const char* line = toolLine ? toolLine : "";
    double v;
    k.siWord = toolWord(line, "SI", &v) ? v : 2.0;
    k.tiWord = toolWord(line, "TI", &v) ? v : -2.0;
    if (toolWord(line, "R", &v)) k.toolRadius = v;
    if (!(k.toolRadius >= 1e-4)) {
        pocketError(kPocketErrToolRadius);
        return -1;
    }
    k.amWord = toolWord(line, "AM", &v) ? v : 0.0;
    k.stepFactor = 0.5;
    if (toolWord(line, "ZM", &v)) {
        if (v >= 0 && v < 1)
            k.stepFactor = v;
        else
            pocketError(kPocketErrStepFactor);
    }
    double xa, ya;
    if (toolWord(line, "XA", &xa) && toolWord(line, "YA", &ya)) {
        k.startGiven = 1;
        k.startX = xa;
        k.startY = ya;
        k.startRadius = 2.01 * k.stepFactor * k.toolRadius;
    }
    k.stepFactor *= 0.99;
    return 0;
}

int pocketReadInput(CycleRecord* record, int which) {
    if (!record || (which != kPocketReadInput && which != kPocketReadClamps)) return 0;
    InputReader reader(record, which);
    return reader.run();
}

double toolReferenceOffset(const CycleRecord* record) {
    if (!record || variable(record, "toolReference") != "center") return 0;
    const CcpParams& p = kvCCPParams;
    if (p.toolType == 1) return p.toolDiameter / 2;
    return p.toolType == 3 ? p.cornerRadius : 0;
}

int32_t contourMergeCollinear(ContourElement* elements, int32_t count) {
    if (!elements) return 0;
    int32_t i = 0;
    while (i + 1 < count) {
        ContourElement& a = elements[i];
        const ContourElement& b = elements[i + 1];
        if (a.type == kElemLine && b.type == kElemLine && a.sourceTag == b.sourceTag) {
            const double la = std::hypot(a.g[kLx2] - a.g[kLx1], a.g[kLy2] - a.g[kLy1]);
            const double lb = std::hypot(b.g[kLx2] - b.g[kLx1], b.g[kLy2] - b.g[kLy1]);
            if (la > 0 && lb > 0 &&
                std::fabs((a.g[kLx2] - a.g[kLx1]) / la - (b.g[kLx2] - b.g[kLx1]) / lb) < 1e-7 &&
                std::fabs((a.g[kLy2] - a.g[kLy1]) / la - (b.g[kLy2] - b.g[kLy1]) / lb) < 1e-7) {
                a.g[kLx2] = b.g[kLx2];
                a.g[kLy2] = b.g[kLy2];
                memmove(&elements[i + 1], &elements[i + 2], (count - i - 2) * sizeof(ContourElement));
                --count;
                continue;
            }
        }
        ++i;
    }
    return count;
}

int contourToWorld(ContourElement* elements, ContourHeader* header) {
    if (!elements || !header) return -1;
    const int32_t n = static_cast<int32_t>(header->elementCount);
    const int mode = framePairGetMode();
    double top = header->top;
    for (int32_t i = 0; i < n; ++i) {
        ContourElement& e = elements[i];
        const int points = e.type == kElemArc ? 3 : 2;
        for (int k = 0; k < points; ++k) {
            Vec3 q{e.g[2 * k], e.g[2 * k + 1], header->top};
            framePairToWorld(&q);
            e.g[2 * k] = q.x;
            e.g[2 * k + 1] = q.y;
            if (i == 0 && k == 0) top = q.z;
        }
        if (e.type == kElemArc) {
            e.direction *= mode;
            e.g[kAr] = std::hypot(e.g[kAsx] - e.g[kAcx], e.g[kAsy] - e.g[kAcy]);
        }
    }
    if (mode < 0) contourReverse(elements, n);
    header->bottom = top - (header->top - header->bottom);
    header->top = top;
    return 1;
}

int clistToWorld(const char* name) {
    std::vector<ContourElement> buffer;
    for (int32_t i = 0; i < clistCount(name); ++i) {
        ContourHeader h;
        if (clistGetHeader(name, &h, i) < 0) return -1;
        buffer.resize(h.elementCount + 1);
        if (clistGet(name, buffer.data(), &h, i) < 0 || contourToWorld(buffer.data(), &h) < 0 ||
            !clistReplace(name, buffer.data(), &h, i))
            return -1;
    }
    return 1;
}

