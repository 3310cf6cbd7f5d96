// Triangle-tree collision library.
#include "collision/KVPLIB/wcolldetect.h"

#include <cmath>
#include <cstdlib>
#include <vector>

#include "KVWOG5/wogerr.h"

namespace {

const char kSource[] = "KVPLIB\\wcolldetect";

void refit(const CollModel* m, CollNode* node) {
    if (node->child0 && node->child1) {
        refit(m, node->child1);
        refit(m, node->child0);
        for (int k = 0; k < 3; ++k) {
            const float* b0 = node->child0->box;
            const float* b1 = node->child1->box;
            node->box[k] = b0[k] < b1[k] ? b0[k] : b1[k];
            node->box[k + 3] = b0[k + 3] > b1[k + 3] ? b0[k + 3] : b1[k + 3];
        }
        return;
    }
    CollNode* only = node->child1 ? node->child1 : node->child0;
    if (only) {
        refit(m, only);
        for (int k = 0; k < 6; ++k) node->box[k] = only->box[k];
        return;
    }
    const float* v = m->mesh->data[node->tri].v;
    const double(*r)[4] = m->rot.m;
    double lo[3] = {1e300, 1e300, 1e300}, hi[3] = {-1e300, -1e300, -1e300};
    for (int i = 0; i < 3; ++i) {
        const double x = v[3 * i], y = v[3 * i + 1], z = v[3 * i + 2];
        for (int k = 0; k < 3; ++k) {
            const double c = x * r[0][k] + y * r[1][k] + z * r[2][k] + r[3][k];
            lo[k] = c < lo[k] ? c : lo[k];
            hi[k] = c > hi[k] ? c : hi[k];
        }
    }
    // Widened before rounding so that a float box never cuts off the double triangle it bounds.
    for (int k = 0; k < 3; ++k) {
        node->box[k] = static_cast<float>(lo[k] - (std::fabs(lo[k]) * 2.4e-7 + 1e-30));
        node->box[k + 3] = static_cast<float>(hi[k] + (std::fabs(hi[k]) * 2.4e-7 + 1e-30));
    }
}

int buildTree(CollModel* m) {
    const int32_t n = m->mesh->count;
    for (int32_t i = 0; i < n; ++i) m->nodes[i].tri = i;
    if (n < 2) {
        m->root = &m->nodes[0];
    } else {
        int32_t s = 0, e = n, next = n;
        while (e - s > 1) {
            for (int32_t i = s; i < e; i += 2) {
                CollNode* parent = &m->nodes[next++];
                parent->child1 = &m->nodes[i];
                if (i + 1 < e) parent->child0 = &m->nodes[i + 1];
            }
            s = e;
            e = next;
        }
        m->root = &m->nodes[s];
    }
    refit(m, m->root);
    return 1;
}

bool isIdentityDiagonal(const Mat4& r) {
    return r.m[0][0] == 1.0 && r.m[1][1] == 1.0 && r.m[2][2] == 1.0;
}

void placedBox(const CollModel* m, const CollNode* n, double out[6]) {
    if (!m->boxesCurrent && !isIdentityDiagonal(m->rot)) {
        for (int k = 0; k < 3; ++k) out[k] = 1e300, out[k + 3] = -1e300;
        for (int c = 0; c < 8; ++c) {
            const Vec3 p{n->box[(c & 1) ? 3 : 0], n->box[(c & 2) ? 4 : 1], n->box[(c & 4) ? 5 : 2]};
            Vec3 q;
            mat4XformPoint(&p, &m->rot, &q);
            const double v[3] = {q.x, q.y, q.z};
            for (int k = 0; k < 3; ++k) {
                out[k] = v[k] < out[k] ? v[k] : out[k];
                out[k + 3] = v[k] > out[k + 3] ? v[k] : out[k + 3];
            }
        }
    } else {
        for (int k = 0; k < 6; ++k) out[k] = n->box[k];
    }
    for (int k = 0; k < 3; ++k) out[k] += m->pos[k], out[k + 3] += m->pos[k];
}

struct Search {
    const CollModel* a;
    const CollModel* b;
    int32_t all;
    List8* hits;
    bool stop;
    bool identityA, identityB;
    bool plainBoxes;  // both sides' stored boxes hold as they are: only the offset of the positions counts
    double shift[3];  // position of b less position of a
    // Placed triangles of b, formed once each: a part model meets many obstacle triangles.
    std::vector<double> placedB;
    std::vector<uint8_t> readyB;
};

bool isIdentity(const Mat4& r) {
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            if (r.m[i][j] != (i == j ? 1.0 : 0.0)) return false;
    return true;
}

void placedTri(const CollModel* m, bool identity, int32_t tri, double out[9]) {
    const float* v = m->mesh->data[tri].v;
    if (identity) {
        for (int k = 0; k < 9; ++k) out[k] = double(v[k]) + m->pos[k % 3];
        return;
    }
    const double(*r)[4] = m->rot.m;
    for (int i = 0; i < 3; ++i) {
        const double x = v[3 * i], y = v[3 * i + 1], z = v[3 * i + 2];
        for (int c = 0; c < 3; ++c)
            out[3 * i + c] = x * r[0][c] + y * r[1][c] + z * r[2][c] + r[3][c] + m->pos[c];
    }
}

void search(Search& s, const CollNode* na, const CollNode* nb) {
    if (s.stop || !na || !nb) return;
    if (s.plainBoxes) {
        for (int k = 0; k < 3; ++k)
            if (na->box[k] > nb->box[k + 3] + s.shift[k] || nb->box[k] + s.shift[k] > na->box[k + 3]) return;
    } else {
        double ba[6], bb[6];
        placedBox(s.a, na, ba);
        placedBox(s.b, nb, bb);
        for (int k = 0; k < 3; ++k)
            if (ba[k] > bb[k + 3] || bb[k] > ba[k + 3]) return;
    }
    const bool leafA = !na->child0 && !na->child1, leafB = !nb->child0 && !nb->child1;
    if (!leafA && !leafB) {
        search(s, na->child1, nb->child1);
        search(s, na->child1, nb->child0);
        search(s, na->child0, nb->child1);
        search(s, na->child0, nb->child0);
    } else if (!leafA) {
        search(s, na->child1, nb);
        search(s, na->child0, nb);
    } else if (!leafB) {
        search(s, na, nb->child1);
        search(s, na, nb->child0);
    } else {
        double p[9], q[9];
        placedTri(s.a, s.identityA, na->tri, p);
        if (!s.readyB.empty()) {
            double* c = &s.placedB[size_t(nb->tri) * 9];
            if (!s.readyB[nb->tri]) placedTri(s.b, s.identityB, nb->tri, c), s.readyB[nb->tri] = 1;
            for (int k = 0; k < 9; ++k) q[k] = c[k];
        } else {
            placedTri(s.b, s.identityB, nb->tri, q);
        }
        if (!tri_tri_intersect(p, q)) return;
        const IntPair pair{na->tri, nb->tri};
        const bool added = list8Add(s.hits, &pair) >= 0;
        if (!s.all || !added) s.stop = true;
    }
}

bool samePoint(const double* u, const double* v) {
    return std::fabs(u[0] - v[0]) < 1e-5 && std::fabs(u[1] - v[1]) < 1e-5 && std::fabs(u[2] - v[2]) < 1e-5;
}

int equalPairs(const double t[9]) {
    return samePoint(t, t + 3) + samePoint(t + 3, t + 6) + samePoint(t + 6, t);
}

void sub(const double* u, const double* v, double* out) {
    out[0] = u[0] - v[0], out[1] = u[1] - v[1], out[2] = u[2] - v[2];
}

void cross(const double* u, const double* v, double* out) {
    out[0] = u[1] * v[2] - u[2] * v[1];
    out[1] = u[2] * v[0] - u[0] * v[2];
    out[2] = u[0] * v[1] - u[1] * v[0];
}

}  // namespace

int tri_tri_intersect(const double p[9], const double q[9]) {
    const int ep = equalPairs(p), eq = equalPairs(q);
    if (ep >= 2 || eq >= 2) return 0;  // a point
    if (ep >= 1 && eq >= 1) return 0;
    double P[3][3], Q[3][3];
    for (int i = 0; i < 3; ++i) {
        sub(p + 3 * i, p, P[i]);
        sub(q + 3 * i, p, Q[i]);
    }
    double e[3][3], f[3][3], n[3], m[3];
    for (int i = 0; i < 3; ++i) {
        sub(P[(i + 1) % 3], P[i], e[i]);
        sub(Q[(i + 1) % 3], Q[i], f[i]);
    }
    cross(e[0], e[1], n);
    cross(f[0], f[1], m);
    // Axes in order, each tested as soon as it is formed: most pairs part on the first two.
    auto separates = [&](const double* a) {
        double minP = 1e300, maxP = -1e300, minQ = 1e300, maxQ = -1e300;
        for (int i = 0; i < 3; ++i) {
            const double dp = P[i][0] * a[0] + P[i][1] * a[1] + P[i][2] * a[2];
            const double dq = Q[i][0] * a[0] + Q[i][1] * a[1] + Q[i][2] * a[2];
            minP = dp < minP ? dp : minP, maxP = dp > maxP ? dp : maxP;
            minQ = dq < minQ ? dq : minQ, maxQ = dq > maxQ ? dq : maxQ;
        }
        return minP > maxQ || minQ > maxP;
    };
    if (separates(n) || separates(m)) return 0;
    double axis[3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            cross(e[i], f[j], axis);
            if (separates(axis)) return 0;
        }
    for (int i = 0; i < 3; ++i) {
        cross(e[i], n, axis);
        if (separates(axis)) return 0;
    }
    for (int i = 0; i < 3; ++i) {
        cross(f[i], m, axis);
        if (separates(axis)) return 0;
    }
    return 1;
}

CollModel* collmodel_create(FTriList* mesh) {
    wogErrorReset();
    if (!mesh || mesh->count < 1 || !mesh->data) return nullptr;
    auto* m = static_cast<CollModel*>(std::calloc(1, sizeof(CollModel)));
    if (!m) {
        wogError(-1, kSource, 1686);
        return nullptr;
    }
    int32_t count = mesh->count, level = mesh->count;
    do {
        level = (level + 1) / 2;
        count += level;
    } while (level > 1);
    m->nodes = static_cast<CollNode*>(std::calloc(static_cast<size_t>(count), sizeof(CollNode)));
    if (!m->nodes) {
        wogError(-1, kSource, 1704);
        std::free(m);
        return nullptr;
    }
    m->nodeCount = count;
    m->mesh = mesh;
    mat4Identity(&m->rot);
    const int r = buildTree(m);
    if (r < 0) {
        wogError(r, kSource, 1721);
        collmodel_free(m);
        return nullptr;
    }
    m->boxesCurrent = 1;
    return m;
}

void collmodel_free(CollModel* model) {
    if (!model) return;
    std::free(model->nodes);
    if (model->ownsMesh) ftriListFree(model->mesh);
    std::free(model);
}

void collmodel_set_pos(CollModel* model, float x, float y, float z) {
    if (!model) return;
    model->pos[0] = x, model->pos[1] = y, model->pos[2] = z;
}

void collmodel_set_rot(CollModel* model, const Mat4* m) {
    if (!model || !m) return;
    mat4Copy(&model->rot, m);
    model->boxesCurrent = 0;
}

void collmodel_update(CollModel* model) {
    if (!model || !model->root) return;
    model->boxesCurrent = 1;
    refit(model, model->root);
}

int collmodel_collide(const CollModel* a, const CollModel* b, int32_t all, List8* hits) {
    if (!a || !b) return 0;
    const int32_t before = (all && hits) ? hits->count : 0;
    Search s{a, b, all, hits, false, isIdentity(a->rot), isIdentity(b->rot), false, {}, {}, {}};
    s.plainBoxes =
        (a->boxesCurrent || isIdentityDiagonal(a->rot)) && (b->boxesCurrent || isIdentityDiagonal(b->rot));
    for (int k = 0; k < 3; ++k) s.shift[k] = double(b->pos[k]) - double(a->pos[k]);
    if (!s.identityB && b->mesh->count <= 65536) {
        try {
            s.placedB.resize(size_t(b->mesh->count) * 9);
            s.readyB.assign(size_t(b->mesh->count), 0);
        } catch (...) {
            s.placedB.clear();
            s.readyB.clear();
        }
    }
    search(s, a->root, b->root);
    if (s.stop) return 1;
    return (all && hits && hits->count > before) ? 1 : 0;
}
