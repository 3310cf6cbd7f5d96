// Iso lines: trim loops, cuts of parameter lines, sampling, and the lines of runs of patches.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>
#include <vector>

#include "KVWOG5/geocalc.h"
#include "KVWOG5/pred2d.h"
#include "KVWOG5/wogerr.h"
#include "kernel/base/abort.h"
#include "kernel/base/msg.h"
#include "surfaces/KVWISO/surfiso.h"
#include "surfaces/deboor.h"
#include "surfaces/kvxsurf.h"

namespace {

constexpr double kSameLoopPoint = 1e-7;
constexpr double kCutShift = 0.0001;
constexpr double kSameCut = 0.0001;
constexpr int kCutAttempts = 6;

int32_t g_loopCounts[kIsoMaxLoops];

double constOf(int32_t dir, const Seg2D& s) {
    return dir == kIsoAlongU ? s.y1 : s.x1;
}

double alongOf(int32_t dir, const Vec2& p) {
    return dir == kIsoAlongU ? p.x : p.y;
}

Vec2 uvAt(int32_t dir, double along, double fixed) {
    return dir == kIsoAlongU ? Vec2{along, fixed} : Vec2{fixed, along};
}

struct Sample {
    double t;
    Vec3 p;
};

// Depth-first chord refinement of [t0, t1]: samples in parameter order, the start first.
int isoSamplePiece(const TrimSurface* patch, int32_t dir, double fixed, double t0, double t1, double chordTol,
                   std::vector<Sample>* out) {
    if (callAbortHook() != 0) return kIsoAbort;
    const double maxChord = dir == kIsoAlongU ? 1e30 : 100000.0;
    auto eval = [&](double t, Vec3* p) {
        const Vec2 uv = uvAt(dir, t, fixed);
        return surfEvalPoint(patch, uv.x, uv.y, p);
    };
    Sample a{t0, {}}, b{t1, {}};
    if (eval(t0, &a.p) != 0 || eval(t1, &b.p) != 0) return -1;
    out->push_back(a);
    std::vector<Sample> stack;
    stack.push_back(b);
    while (!stack.empty()) {
        const Sample end = stack.back();
        const double seg[6] = {a.p.x, a.p.y, a.p.z, end.p.x, end.p.y, end.p.z};
        int split = -1;
        Sample q[3];
        for (int k = 0; k < 3; ++k) {
            q[k].t = a.t + (end.t - a.t) * (k + 1) / 4.0;
            if (eval(q[k].t, &q[k].p) != 0) return -1;
            if (split < 0 && distPointLine3D(&q[k].p, seg) > chordTol) split = k;
        }
        const bool tooLong = dist3D(&a.p, &end.p) > maxChord;
        // An interval too short to split further is taken as it is.
        const bool tiny = std::fabs(end.t - a.t) < 1e-12 * (1.0 + std::fabs(a.t));
        if ((split < 0 && !tooLong) || tiny) {
            out->push_back(end);
            a = end;
            stack.pop_back();
            continue;
        }
        if (stack.size() > 100000) return kIsoStackFailed;
        stack.push_back(split >= 0 ? q[split] : q[1]);
    }
    return 1;
}

// A unit normal at (u, v); a degenerate derivative moves the parameter along the livelier
// direction by -0.001, +0.001, -0.002, ... until the normal is whole.
Vec3 isoNormal(const TrimSurface* patch, double u, double v) {
    Vec3 su, sv, n{0, 0, 0};
    for (int k = 0; k < 10; ++k) {
        double du = 0, dv = 0;
        if (k > 0) {
            const double step = 0.001 * ((k + 1) / 2) * (k % 2 == 1 ? -1.0 : 1.0);
            const bool alongU = std::fabs(su.x) + std::fabs(su.y) + std::fabs(su.z) >
                                std::fabs(sv.x) + std::fabs(sv.y) + std::fabs(sv.z);
            (alongU ? du : dv) = step;
        }
        Vec3 su2, sv2;
        if (evalNurbsSurfDeriv(&patch->surface, u + du, v + dv, &su2, &sv2, nullptr) != 1) break;
        if (k == 0) {
            su = su2;
            sv = sv2;
        }
        Vec3 c;
        cross3D(&su2, &sv2, &c);
        const double len = vecLen3D(&c);
        if (len > 0.0) n = Vec3{c.x / len, c.y / len, c.z / len};
        if (vecLen3D(&n) > 0.999) break;
    }
    return n;
}

int appendLine(Rec144List* out, const Rec64List* line) {
    if (rec144ListAdd(out, line) < 0) {
        msgDouble(9, 1103, "* Speichermangel\n", 0.0);
        wogError(-1, "SURF_ISO", __LINE__);
        return -1;
    }
    return 1;
}

void negateNormals(Rec64List* line) {
    for (int32_t i = 0; i < line->count; ++i)
        for (int k = 5; k < 8; ++k) line->data[i].v[k] = -line->data[i].v[k];
}

IsoPoint pointAt(const Rec64List* line, int32_t i) {
    IsoPoint p;
    std::memcpy(&p, &line->data[i], sizeof p);
    return p;
}

struct LineSet {
    Rec144List* lines = rec144ListCreate(8);
    ~LineSet() { rec144ListFree(lines); }
    int32_t count() const { return lines != nullptr ? lines->count : 0; }
    Rec64List* at(int32_t i) { return &lines->data[i]; }
};

int writeLine(const Rec64List* line, const char* outPath) {
    return isoWriteBnd(line, outPath) < 0 ? -1 : 1;
}

// The lines of one patch of a run: parameters, then lines.
int patchLines(const TrimSurface* patch, int32_t dir, int reversed, double spacing, double chordTol,
               LineSet* set) {
    if (set->lines == nullptr) return -1;
    Seg2D* params = nullptr;
    const int n = isoParamsTwoSided(patch, dir, spacing, &params);
    if (n < 0) return n;
    const std::unique_ptr<Seg2D, void (*)(void*)> owned(params, std::free);  // freed when memory runs out too
    const int rc = isoPatchLines(patch, params, n, dir, reversed, chordTol, set->lines);
    return rc < 0 ? rc : 1;
}

bool normalsAgree(const IsoPoint& a, const IsoPoint& b) {
    const double same = (a.a - b.a) * (a.a - b.a) + (a.b - b.b) * (a.b - b.b) + (a.c - b.c) * (a.c - b.c);
    const double flip = (a.a + b.a) * (a.a + b.a) + (a.b + b.b) * (a.b + b.b) + (a.c + b.c) * (a.c + b.c);
    return same <= flip;
}

double dist2(const IsoPoint& a, const IsoPoint& b) {
    return (a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y) + (a.z - b.z) * (a.z - b.z);
}

// Lines parallel to the joints: patch by patch, the joint line written once.
int isoLinesPerPatch(const SurfList* list, const int32_t* codes, int32_t first, int32_t last, int32_t dir,
                     double spacing, double chordTol, const char* outPath) {
    isoNewGroup();
    bool havePrev = false;
    IsoPoint prevFirst{};
    for (int32_t p = first; p <= last; ++p) {
        const int side = p == first ? codes[first] / 10 : codes[p - 1] % 10;
        const int32_t d = p == first ? dir : (side == 1 || side == 3 ? kIsoAlongU : kIsoAlongV);
        LineSet set;
        const int rc = patchLines(&list->entries[p], d, 0, spacing, chordTol, &set);
        if (rc < 0) return rc;
        const int32_t n = set.count();
        std::vector<int32_t> order;
        if (p == first) {
            for (int32_t i = 0; i < n; ++i) order.push_back(side == 2 || side == 3 ? i : n - 1 - i);
        } else if (side == 1 || side == 4) {
            for (int32_t i = 1; i < n; ++i) order.push_back(i);
        } else {
            for (int32_t i = n - 2; i >= 0; --i) order.push_back(i);
        }
        if (p != first && n > 0 && havePrev) {
            const Rec64List* joint = set.at(side == 1 || side == 4 ? 0 : n - 1);
            if (joint->count > 0) {
                const IsoPoint e0 = pointAt(joint, 0), e1 = pointAt(joint, joint->count - 1);
                const double d0 = dist2(prevFirst, e0), d1 = dist2(prevFirst, e1);
                const IsoPoint& end = d0 < d1 ? e0 : e1;
                if (!normalsAgree(end, prevFirst))
                    for (int32_t i : order) negateNormals(set.at(i));
                if (std::fmin(d0, d1) > 0.1) isoNewGroup();
            }
        }
        for (int32_t i : order) {
            if (writeLine(set.at(i), outPath) < 0) return -1;
            if (set.at(i)->count > 0) {
                prevFirst = pointAt(set.at(i), 0);
                havePrev = true;
            }
        }
    }
    return 1;
}

// Lines across the joints: each line continues on the next patch from its projected end.
int isoLinesAcrossRun(const SurfList* list, const int32_t* codes, int32_t first, int32_t last, int32_t dir,
                      double spacing, double gapTol, double chordTol, const char* outPath) {
    isoNewGroup();
    LineSet running;
    std::vector<bool> active;
    const int side1 = codes[first] / 10;
    const int reversed = (side1 == 1 || side1 == 4) && last > first ? 1 : 0;
    int rc = patchLines(&list->entries[first], dir, reversed, spacing, chordTol, &running);
    if (rc < 0) return rc;
    active.assign(static_cast<size_t>(running.count()), true);
    for (int32_t p = first + 1; p <= last && rc >= 0; ++p) {
        const TrimSurface* patch = &list->entries[p];
        const int s = codes[p - 1] % 10;
        const int32_t d = s == 2 || s == 4 ? kIsoAlongU : kIsoAlongV;
        const int rev = s == 1 || s == 4 ? 0 : 1;
        // isoConnectAcross: the running lines' ends projected onto the new patch.
        double lo = 0, hi = 0;
        {
            double umin = HUGE_VAL, umax = -HUGE_VAL, vmin = HUGE_VAL, vmax = -HUGE_VAL;
            for (int32_t l = 0; l < patch->loopCount; ++l)
                for (int32_t i = 0; i < patch->loops[l].count; ++i) {
                    umin = std::fmin(umin, patch->loops[l].points[i].x);
                    umax = std::fmax(umax, patch->loops[l].points[i].x);
                    vmin = std::fmin(vmin, patch->loops[l].points[i].y);
                    vmax = std::fmax(vmax, patch->loops[l].points[i].y);
                }
            lo = d == kIsoAlongU ? umin : vmin;
            hi = d == kIsoAlongU ? umax : vmax;
        }
        std::vector<Seg2D> params;
        for (int32_t i = 0; i < running.count(); ++i) {
            Rec64List* line = running.at(i);
            if (!active[static_cast<size_t>(i)] || line->count == 0) continue;
            const IsoPoint end = pointAt(line, line->count - 1);
            const Vec3 target{end.x, end.y, end.z};
            SurfFoot foot;
            double distance = 0.0;
            const int found = projectPointNurbsSurf(patch, nullptr, &target, &foot, &distance);
            if (found < 0) {
                wogError(found, "SURF_ISO", __LINE__);
                return found;
            }
            if (found != 1 || distance > 0.1) {
                wogWarning("Kein Anschluss gefunden");
                continue;
            }
            params.push_back(d == kIsoAlongU ? Seg2D{lo, foot.v, hi, foot.v} : Seg2D{foot.u, lo, foot.u, hi});
        }
        LineSet fresh;
        if (fresh.lines == nullptr) return -1;
        if (!params.empty()) {
            rc = isoPatchLines(patch, params.data(), static_cast<int32_t>(params.size()), d, rev, chordTol,
                               fresh.lines);
            if (rc < 0) return rc;
        }
        std::vector<bool> used(static_cast<size_t>(fresh.count()), false);
        for (int32_t i = 0; i < running.count(); ++i) {
            if (!active[static_cast<size_t>(i)]) continue;
            Rec64List* line = running.at(i);
            int32_t match = -1;
            if (line->count > 0) {
                const IsoPoint end = pointAt(line, line->count - 1);
                for (int32_t j = 0; j < fresh.count() && match < 0; ++j) {
                    if (used[static_cast<size_t>(j)] || fresh.at(j)->count == 0) continue;
                    if (std::sqrt(dist2(end, pointAt(fresh.at(j), 0))) <= gapTol) match = j;
                }
            }
            if (match < 0) {
                if (writeLine(line, outPath) < 0) return -1;
                active[static_cast<size_t>(i)] = false;
                continue;
            }
            Rec64List* next = fresh.at(match);
            const IsoPoint a = pointAt(line, line->count - 1), b = pointAt(next, 0);
            const double dn =
                std::sqrt((a.a - b.a) * (a.a - b.a) + (a.b - b.b) * (a.b - b.b) + (a.c - b.c) * (a.c - b.c));
            if (dn > 1.0) negateNormals(next);
            for (int32_t k = 1; k < next->count; ++k)
                if (rec64ListAdd(line, &next->data[k]) < 0) return -1;
            used[static_cast<size_t>(match)] = true;
        }
        for (int32_t j = 0; j < fresh.count(); ++j) {
            if (used[static_cast<size_t>(j)]) continue;
            if (appendLine(running.lines, fresh.at(j)) < 0) return -1;
            active.push_back(true);
        }
    }
    for (int32_t i = 0; i < running.count(); ++i)
        if (active[static_cast<size_t>(i)] && writeLine(running.at(i), outPath) < 0) return -1;
    return 1;
}

}  // namespace

const int32_t* isoLoopCounts() {
    return g_loopCounts;
}

int LESE_KONTUREN(const TrimSurface* patch, Vec2* buffer) {
    if (patch == nullptr) return -1;
    if (patch->loopCount > kIsoMaxLoops) {
        msgDouble(9, 653, " *** FEHLER : LESE_KONTUREN() :", 0.0);
        msgLong(9, 654, "* zuviele Konturen : %d erlaubt", kIsoMaxLoops);
        msgLong(9, 655, "* %d Konturen gelesen", patch->loopCount);
        return kIsoTooManyLoops;
    }
    int64_t at = 0;
    for (int32_t l = 0; l < patch->loopCount; ++l) {
        const TrimLoop& loop = patch->loops[l];
        if (loop.count < 0) {
            msgDouble(9, 656, "*** FEHLER : LESE_KONTUREN() : zuviele Punkte", 0.0);
            return kIsoAbort;
        }
        if (loop.count == 0) msgDouble(9, 657, "*** WARNUNG: LESE_KONTUREN() : Edge ohne Strecken", 0.0);
        int32_t kept = 0;
        for (int32_t i = 0; i < loop.count; ++i) {
            const Vec2& p = loop.points[i];
            if (kept > 0) {
                const Vec2& q = buffer[at + kept - 1];
                if (std::fabs(p.x - q.x) + std::fabs(p.y - q.y) <= kSameLoopPoint) continue;
            }
            buffer[at + kept++] = p;
        }
        g_loopCounts[l] = kept;
        at += kept;
    }
    return patch->loopCount;
}

int isoLineLoopCuts(const Seg2D* seg, int32_t dir, const Vec2* loops, int32_t loopCount, Vec2* cuts,
                    int32_t max, double* shifted) {
    if (seg == nullptr || loops == nullptr || cuts == nullptr || loopCount < 0 || loopCount > kIsoMaxLoops)
        return -1;
    const double c0 = constOf(dir, *seg);
    std::vector<Vec2> found;
    for (int attempt = 0; attempt < kCutAttempts; ++attempt) {
        const double c = c0 + (attempt == 0 ? 0.0 : attempt * kCutShift * (attempt % 2 == 1 ? 1.0 : -1.0));
        Seg2D line = *seg;
        if (dir == kIsoAlongU) {
            line.y1 = line.y2 = c;
            line.x1 -= 1.0, line.x2 += 1.0;
        } else {
            line.x1 = line.x2 = c;
            line.y1 -= 1.0, line.y2 += 1.0;
        }
        const double bx0 = std::fmin(line.x1, line.x2), bx1 = std::fmax(line.x1, line.x2);
        const double by0 = std::fmin(line.y1, line.y2), by1 = std::fmax(line.y1, line.y2);
        found.clear();
        int64_t at = 0;
        for (int32_t l = 0; l < loopCount; ++l) {
            const int32_t n = g_loopCounts[l];
            for (int32_t i = 0; i < n; ++i) {
                const Vec2& p = loops[at + i];
                const Vec2& q = loops[at + (i + 1) % n];
                if (std::fmax(p.x, q.x) < bx0 || std::fmin(p.x, q.x) > bx1 || std::fmax(p.y, q.y) < by0 ||
                    std::fmin(p.y, q.y) > by1)
                    continue;
                const double sp = (dir == kIsoAlongU ? p.y : p.x) - c,
                             sq = (dir == kIsoAlongU ? q.y : q.x) - c;
                if (sp * sq > 0.0) continue;
                const Seg2D edge{p.x, p.y, q.x, q.y};
                Vec2 x;
                if (segLinesIntersect2D(&line, &edge, &x) != 0) found.push_back(x);
            }
            at += n;
        }
        if (found.size() % 2 == 1) continue;
        std::stable_sort(found.begin(), found.end(),
                         [dir](const Vec2& a, const Vec2& b) { return alongOf(dir, a) < alongOf(dir, b); });
        int32_t kept = 0;
        for (const Vec2& x : found) {
            if (kept > 0 && std::fabs(x.x - cuts[kept - 1].x) < kSameCut &&
                std::fabs(x.y - cuts[kept - 1].y) < kSameCut)
                continue;
            if (kept >= max) return -1;
            cuts[kept++] = x;
        }
        if (shifted != nullptr) *shifted = c;
        return kept;
    }
    return -1;
}

int isoPatchLines(const TrimSurface* patch, const Seg2D* params, int32_t count, int32_t dir, int reversed,
                  double chordTol, Rec144List* out) {
    if (patch == nullptr || out == nullptr || (count > 0 && params == nullptr)) return -1;
    int64_t total = 0;
    for (int32_t l = 0; l < patch->loopCount; ++l)
        total += patch->loops[l].count > 0 ? patch->loops[l].count : 0;
    if (total == 0) return 0;
    std::vector<Vec2> buffer;
    buffer.resize(static_cast<size_t>(total));
    const int loops = LESE_KONTUREN(patch, buffer.data());
    if (loops < 0) return loops;
    std::vector<Vec2> cuts(static_cast<size_t>(total) + 2);
    Rec64List* line = rec64ListCreate(64);
    if (line == nullptr) {
        wogError(-1, "SURF_ISO", __LINE__);
        return -1;
    }
    const std::unique_ptr<Rec64List, int (*)(Rec64List*)> owned(line,
                                                                rec64ListFree);  // also when a sample throws
    int result = 0;
    bool aborted = false, haveOrientation = false, flip = false;
    std::vector<Sample> samples;
    for (int32_t i = 0; i < count && result >= 0; ++i) {
        double fixed = 0.0;
        const int n = isoLineLoopCuts(&params[i], dir, buffer.data(), loops, cuts.data(),
                                      static_cast<int32_t>(cuts.size()), &fixed);
        for (int k = 0; n > 0 && k + 1 < n && result >= 0; k += 2) {
            rec64ListReset(line);
            samples.clear();
            if (!aborted) {
                const int rc = isoSamplePiece(patch, dir, fixed, alongOf(dir, cuts[k]),
                                              alongOf(dir, cuts[k + 1]), chordTol, &samples);
                if (rc == kIsoAbort) {
                    aborted = true;
                    samples.clear();
                } else if (rc < 0) {
                    result = rc;
                    break;
                }
            }
            const int32_t m = static_cast<int32_t>(samples.size());
            for (int32_t j = 0; j < m; ++j) {
                const Sample& s = samples[static_cast<size_t>(reversed ? m - 1 - j : j)];
                const Vec2 uv = uvAt(dir, s.t, fixed);
                Vec3 nrm = isoNormal(patch, uv.x, uv.y);
                if (!haveOrientation) {
                    haveOrientation = true;
                    flip = nrm.z < 0;
                }
                if (flip) nrm = Vec3{-nrm.x, -nrm.y, -nrm.z};
                const IsoPoint ip{uv.x, uv.y, s.p.x, s.p.y, s.p.z, nrm.x, nrm.y, nrm.z};
                Rec64 rec;
                std::memcpy(&rec, &ip, sizeof rec);
                if (rec64ListAdd(line, &rec) < 0) {
                    result = -1;
                    break;
                }
            }
            if (result >= 0) result = appendLine(out, line) < 0 ? -1 : result + 1;
        }
    }
    if (result >= 0 && aborted) return kIsoAbort;
    return result;
}

// The lines of every run of joined surfaces of the file read into list: 1, or a negative code.
static int isoLinesOfList(const char* path, SurfList* list, int32_t dir, double spacing, double gapTol,
                          double chordTol, const char* outPath) {
    if (readSurfObjects(path, list) != 1) return -1;
    int result = 1;
    std::vector<int32_t> codes;
    normSurfListKnots(list);
    const int32_t n = list->count;
    codes.assign(static_cast<size_t>(n > 0 ? n : 1), 0);
    for (int32_t i = 0; i + 1 < n; ++i) {
        codes[static_cast<size_t>(i)] = surfJoinCode(&list->entries[i], &list->entries[i + 1], gapTol);
        if (codes[static_cast<size_t>(i)] < 0) {
            result = -1;
            break;
        }
    }
    for (int32_t i = 0; result >= 0 && i < n;) {
        int32_t last = i;
        while (last + 1 < n && codes[static_cast<size_t>(last)] != 0) ++last;
        const int side1 = codes[static_cast<size_t>(i)] / 10;
        const bool across = (dir == kIsoAlongU && (side1 == 2 || side1 == 4)) ||
                            (dir == kIsoAlongV && (side1 == 1 || side1 == 3));
        const int rc =
            across ? isoLinesAcrossRun(list, codes.data(), i, last, dir, spacing, gapTol, chordTol, outPath)
                   : isoLinesPerPatch(list, codes.data(), i, last, dir, spacing, chordTol, outPath);
        if (rc < 0) result = rc;
        i = last + 1;
    }
    return result;
}

int surfIsolines(const char* path, int32_t dir, double spacing, double gapTol, double chordTol,
                 const char* outPath) {
    const std::clock_t started = std::clock();
    int result = 1;
    SurfList* list = nullptr;
    if (path == nullptr || outPath == nullptr || (dir != kIsoAlongU && dir != kIsoAlongV) ||
        !(spacing > 0.0) || !std::isfinite(spacing)) {
        result = -1;
    } else if ((list = newSurfList(10)) == nullptr) {
        wogError(-1, "SURF_ISO", __LINE__);
        result = -1;
    } else {
        // Memory short in the reader or the lines' work lists fails the file like any other error.
        try {
            result = isoLinesOfList(path, list, dir, spacing, gapTol, chordTol, outPath);
        } catch (const std::bad_alloc&) {
            wogError(-1, "SURF_ISO", __LINE__);
            result = -1;
        }
    }
    freeSurfList(list);
    msgPrintfDouble(3, "Isolines in %lf\n", static_cast<double>(std::clock() - started) / CLOCKS_PER_SEC);
    return result;
}
