// Memory that cannot be had, at each allocation of a collision family's call in turn: the call answers
// with its documented failure and keeps its inputs usable, or gets by and gives the full answer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <new>
#include <vector>

#include "allocfail.h"
#include "collision/KVPLIB/wcolldetect.h"
#include "collision/chkmodel.h"
#include "collision/collreport.h"
#include "collision/meshindex.h"
#include "collision/meshquery.h"
#include "collision/meshset.h"
#include "collision/polymesh.h"
#include "collision/ringcontact.h"
#include "collision/surfcurves.h"
#include "collision/toolassembly.h"
#include "collision/tprof.h"
#include "meshutil.h"
#include "surfaces/meshfiles/facetfile.h"
#include "surfaces/meshfiles/meshtest.h"

namespace {

// Runs call with its n-th allocation failing, for n = 1, 1 + stride, ... until a run needs no more:
// call gets whether an allocation failed and checks its own answer. The last n tried.
template <class Call>
long eachAllocationFails(Call call, long stride = 1) {
    for (long n = 1;; n += stride) {
        allocfail::arm(n);
        call([] { return allocfail::fired(); });
        const bool fired = allocfail::fired();
        allocfail::disarm();
        if (!fired) return n;
    }
}

}  // namespace

// A path lifted onto two planes meeting at a 10 degree bend and refined around it: -1 at a failure
// that stops it (the working copy, an insertion), with the list still ordered, or the full answer.
TEST(NoMemory, ListCheckAnswersMinusOne) {
    const double k = std::tan(10 * M_PI / 180), h = 20 * k;
    testmesh::Model t({{{{-5, -20, 0}, {10, -20, 0}, {10, 20, 0}}},
                       {{{-5, -20, 0}, {10, 20, 0}, {-5, 20, 0}}},
                       {{{10, -20, 0}, {30, -20, h}, {30, 20, h}}},
                       {{{10, -20, 0}, {30, 20, h}, {10, 20, 0}}}},
                      kBallMill, 1.0);
    auto path = [] {
        Plist* l = plistCreate(11, 1);  // full: the first insertion grows it
        for (int i = 0; l && i < 11; ++i) {
            const Vec3 p{2.0 * i, 0, -0.5}, v{0, 0, 1};
            plistAppend(l, i, &p, 0, &v, 0);
        }
        return l;
    };
    Plist* full = path();
    ASSERT_NE(full, nullptr);
    ASSERT_EQ(chkModelList(&t.m, full, 20, nullptr, 0, nullptr), 1);
    EXPECT_GT(full->count, 11);  // the bend was refined
    const long n = eachAllocationFails([&](auto failed) {
        Plist* l = path();
        if (!l || l->count < 11 || !l->vectors) {
            EXPECT_TRUE(failed());
            plistFree(l);
            return;
        }
        const int r = chkModelList(&t.m, l, 20, nullptr, 0, nullptr);
        EXPECT_TRUE(r == -1 ? failed() : r == 1) << r;
        EXPECT_GE(l->count, 11);
        for (int32_t i = 1; i < l->count; ++i) EXPECT_GT(l->parameters[i], l->parameters[i - 1]);
        // A run that got by without the memory it was refused gives the full answer.
        if (r == 1) {
            ASSERT_EQ(l->count, full->count);
            for (int32_t i = 0; i < l->count; ++i) EXPECT_EQ(dist3D(&l->points[i], &full->points[i]), 0.0);
        }
        plistFree(l);
    });
    EXPECT_GE(n, 3);  // the list, its copy and insertions
    plistFree(full);
}

// Mesh loads of each kind and file form, with and without corners or the shared boxes, then a copy and
// a merge: at a failed allocation a negative code and nothing attached (a merge -1, its destination for
// the caller to free), else the whole mesh.
TEST(NoMemory, MeshLoadsAttachAllOrNothing) {
    TempDir dir;
    const std::vector<Triangle3D> tris{{{{0, 0, 0}, {10, 0, 0}, {0, 10, 0}}},
                                       {{{10, 0, 0}, {10, 10, 1}, {0, 10, 0}}},
                                       {{{30, 0, 2}, {40, 0, 2}, {30, 10, 3}}}};
    const std::string stl = dir.file("m.stl"), df = dir.file("m.3df");
    writeTextFile(stl, testmesh::stlText(tris));
    TriList* list = triListCreate(4);
    ASSERT_NE(list, nullptr);
    for (const Triangle3D& t : tris) triListAdd(list, &t);
    ASSERT_EQ(polymeshWrite3df(kFacetMeshTriangles, list, nullptr, 0, df.c_str()), 3);
    triListFree(list);
    auto bare = [](const CheckModel& m) { return !m.triangles && !m.facets && !m.boxMin && !m.boxMax; };
    const struct {
        const std::string* file;
        int32_t kind;
        bool cornerless, shared;
    } loads[] = {{&df, kMeshTriangles, false, false}, {&df, kMeshTriangles, true, false},
                 {&df, kMeshFacets, false, true},     {&stl, kMeshTriangles, false, false},
                 {&stl, kMeshFacets, false, true},    {&stl, kMeshFacets, false, false}};
    for (const auto& l : loads) {
        polymeshSetFreeShared(l.shared);
        auto load = [&](CheckModel* m) {
            chkModelInit(m, l.kind);
            try {
                return l.cornerless ? polymeshLoadTriangles(m, l.file->c_str())
                                    : polymeshLoad(m, l.file->c_str());
            } catch (const std::bad_alloc&) {
                // The facet file's read buffer is taken by new: the run's boundary reports the throw
                // and the next run's reset closes the file it left open.
                facetFileResetState();
                return static_cast<int>(kPolymeshNoMemory);
            }
        };
        EXPECT_GE(eachAllocationFails([&](auto failed) {
                      CheckModel m;
                      const int rc = load(&m);
                      allocfail::disarm();  // the checks' own messages need memory
                      // A sound file short of memory is never taken for one of another kind.
                      EXPECT_TRUE(rc == kPolymeshOk ||
                                  (rc < 0 && rc != kPolymeshNotFacets && failed() && bare(m)))
                          << rc;
                      EXPECT_TRUE(rc != kPolymeshOk ||
                                  (chkMeshCount(m.kind, m.facets, m.facetCount, m.triangles) == 3 &&
                                   (l.cornerless || (m.boxMin && m.boxMax))));
                      polymeshFree(&m);
                  }),
                  2)
            << *l.file << " " << l.kind;
        CheckModel src, dst;
        ASSERT_EQ(load(&src), kPolymeshOk);
        if (l.kind == kMeshTriangles && !l.cornerless) {
            eachAllocationFails([&](auto failed) {
                chkModelInit(&dst, l.kind);
                const int rc = polymeshCopy(&dst, &src);
                allocfail::disarm();
                EXPECT_TRUE(rc == kPolymeshOk ? dst.triangles && dst.triangles->count == 3 && dst.boxMax
                                              : rc == kPolymeshNoMemory && failed() && bare(dst));
                polymeshFree(&dst);
            });
        }
        for (long n = 1;; ++n) {
            ASSERT_EQ(load(&dst), kPolymeshOk);
            allocfail::arm(n);
            const int rc = polymeshMerge(&dst, &src);
            const bool fired = allocfail::fired();
            allocfail::disarm();
            const int32_t count = chkMeshCount(dst.kind, dst.facets, dst.facetCount, dst.triangles);
            EXPECT_TRUE(rc == 0 ? count == 6 : rc == -1 && fired) << rc << " " << count;
            polymeshFree(&dst);
            if (!fired) break;
        }
        polymeshFree(&src);
    }
    polymeshSetFreeShared(0);
    // Both files into one model (STL files: their reader takes no memory by new): the template's clone
    // comes first; a second file that cannot be read leaves the first mesh alone, any other failure
    // leaves nothing: -1, or the reader's own code while the first file is read.
    long firstRead = 0;
    {
        CheckModel m;
        chkModelInit(&m, kMeshTriangles);
        allocfail::arm(0);
        polymeshLoadMerged(&m, stl.c_str(), dir.file("missing.stl").c_str());
        firstRead = allocfail::count();
        allocfail::disarm();
        polymeshFree(&m);
        chkModelFreeParts(&m);
    }
    for (long n = 1;; ++n) {
        CheckModel m;
        chkModelInit(&m, kMeshTriangles);
        allocfail::arm(n);
        const int rc = polymeshLoadMerged(&m, stl.c_str(), stl.c_str());
        const bool fired = allocfail::fired();
        allocfail::disarm();
        const int32_t count = m.triangles ? m.triangles->count : 0;
        const bool refused = rc == kPolymeshNoMemory || (n <= firstRead && rc == kPolymeshNoFile);
        EXPECT_TRUE(rc == kPolymeshOk ? count == 6 || (fired && count == 3) : refused && fired && bare(m))
            << n << " " << rc << " " << count;
        EXPECT_TRUE(n > 1 || rc == kPolymeshNoMemory) << rc;
        polymeshFree(&m);
        chkModelFreeParts(&m);
        if (!fired) break;
    }
}

// Clones, part profiles, their revolved meshes, tree models, mesh indexes and sets, the contact state
// and the report:
// null (or no report) at any failure, nothing half built left behind.
TEST(NoMemory, BuildersAnswerNull) {
    testmesh::Model t({testmesh::slopeTri(0, 0), testmesh::slopeTri(-1, 0.5)}, kBallMill, 1.0);
    CheckModelPart part{};
    part.kind = kMeshTriangles;
    t.m.parts = &part;
    EXPECT_GE(eachAllocationFails([&](auto failed) {
                  CheckModel* c = chkModelClone(&t.m);
                  EXPECT_EQ(c == nullptr, failed());
                  EXPECT_TRUE(!c || (c->parts && c->parts != &part && c->tool != t.m.tool));
                  chkModelFree(c);
              }),
              3);
    t.m.parts = nullptr;

    ToolDescription tool{};
    tool.toolType = kBallMill, tool.radius = 5, tool.cornerRadius = 5, tool.shaftDiameter = 12;
    tool.tipTop = 10, tool.chamferTop = 2, tool.cutterTop = 60;
    // An assembly from the description: null at any failure (its scratch list's too), nothing left
    // behind, else all ten points.
    EXPECT_GE(eachAllocationFails([&](auto failed) {
                  ToolAssembly* a = toolAssemblyBuild(&tool, nullptr, 0, 0.01, nullptr);
                  EXPECT_EQ(a == nullptr, failed());
                  EXPECT_TRUE(!a || a->count == 10);
                  if (a) toolAssemblyDestroy(a);
                  std::free(a);
              }),
              3);
    // A profile grown segment by segment: -1 where it cannot grow, the segments before kept.
    EXPECT_GE(eachAllocationFails([&](auto failed) {
                  PartProfile* p = tprof_create(1);
                  if (!p) return;
                  for (int i = 0; i < 4; ++i) {
                      const PartSeg g{1.0 + i, 10.0 * i, 2.0 + i, 10.0 * i + 10};
                      const int32_t before = p->count;
                      const int r = tprof_add_seg(p, &g, kTprofShank);
                      EXPECT_EQ(r, failed() && p->count == before ? -1 : 1);
                      EXPECT_TRUE(r < 0 || (p->count == before + 1 && p->segs[before].z1 == 10.0 * i + 10));
                  }
                  for (int32_t i = 0; i < p->count; ++i) EXPECT_EQ(p->segs[i].r0, 1.0 + i);
                  tprof_free(p);
              }),
              3);

    // Each step of the chain either fails or gives what it gives with all the memory it asks for.
    struct Chain {
        std::vector<PartSeg> segs;
        std::vector<FTriangle> tris;
        int32_t nodes = -1;
    };
    auto chain = [&](Chain* out) {
        PartProfile* p = tprof_from_tool(&tool, 3);
        if (!p) return;
        int off = -1;
        try {  // scratch vectors throw; the run's boundary reports that as a fault
            off = tprof_offset(p, 1.0);
        } catch (const std::bad_alloc&) {
        }
        if (off >= 0) out->segs.assign(p->segs, p->segs + p->count);
        FTriList* mesh = off < 0 ? nullptr : coll_model_from_tprof(p, 1.0);
        if (mesh) out->tris.assign(mesh->data, mesh->data + mesh->count);
        CollModel* m = mesh ? collmodel_create(mesh) : nullptr;
        if (m) out->nodes = m->nodeCount;
        collmodel_free(m);
        ftriListFree(mesh);
        tprof_free(p);
    };
    Chain full;
    chain(&full);
    ASSERT_TRUE(!full.tris.empty() && full.nodes > 0);
    Chain got;  // its room taken before any allocation fails
    got.segs.reserve(full.segs.size());
    got.tris.reserve(full.tris.size());
    EXPECT_GE(
        eachAllocationFails([&](auto failed) {
            got.segs.clear(), got.tris.clear(), got.nodes = -1;
            chain(&got);
            EXPECT_TRUE(failed() || got.nodes == full.nodes);
            EXPECT_TRUE(got.segs.empty() || (got.segs.size() == full.segs.size() &&
                                             std::equal(got.segs.begin(), got.segs.end(), full.segs.begin(),
                                                        [](const PartSeg& a, const PartSeg& b) {
                                                            return a.r0 == b.r0 && a.z0 == b.z0 &&
                                                                   a.r1 == b.r1 && a.z1 == b.z1;
                                                        })));
            EXPECT_TRUE(got.tris.empty() || (got.tris.size() == full.tris.size() &&
                                             std::equal(got.tris.begin(), got.tris.end(), full.tris.begin(),
                                                        [](const FTriangle& a, const FTriangle& b) {
                                                            return std::equal(a.v, a.v + 9, b.v);
                                                        })));
            EXPECT_TRUE(got.nodes < 0 || got.nodes == full.nodes);
        }),
        5);

    EXPECT_GE(eachAllocationFails([&](auto failed) {
                  MeshIndex* index = meshIndexBuild(2, t.m.boxMin, t.m.boxMax);
                  EXPECT_EQ(index == nullptr, failed());
                  EXPECT_TRUE(!index || meshIndexCount(index) == 2);
                  meshIndexFree(index);
              }),
              1);

    EXPECT_GE(eachAllocationFails([&](auto failed) {
                  PlistArray* lists = plistArrayCreate(2);
                  Plist* l = plistCreate(4, 0);
                  if (!lists || !l) {
                      EXPECT_TRUE(failed());
                      plistFree(l);
                      plistArrayFree(lists);
                      return;
                  }
                  for (int i = 0; i < 4; ++i) {
                      const Vec3 p{3.0 * i, 1.0 * (i % 2), 0};
                      plistAppend(l, i, &p, 0, nullptr, 0);
                  }
                  const int added = plistArrayAdd(lists, l);
                  MeshSet* set = added >= 0 ? meshSetFromList(lists, 1, 0.5, 1e-3) : nullptr;
                  EXPECT_TRUE(set || failed());  // a set without its trees still answers every query
                  EXPECT_TRUE(!set || (set->meshes[0] && set->meshes[0]->edgeCount == 3 && set->meshes[1] &&
                                       set->meshes[1]->edgeCount == 3));
                  meshSetFree(set);
                  plistFree(l);
                  plistArrayFree(lists);
              }),
              3);

    // An obstacle read from a file: null, or every triangle of the file (by the grid or without it).
    TempDir dir;
    const std::string stl = dir.file("three.stl");
    writeTextFile(stl, testmesh::stlText({{{{0, 0, 0}, {10, 0, 0}, {0, 10, 0}}},
                                          {{{10, 0, 0}, {10, 10, 1}, {0, 10, 0}}},
                                          {{{30, 0, 2}, {40, 0, 2}, {30, 10, 3}}}}));
    EXPECT_GE(eachAllocationFails(
                  [&](auto failed) {
                      FTriList* obstacle = coll_obstacle_from_file(stl.c_str(), 0, 2.0);
                      EXPECT_TRUE(obstacle || failed());
                      float zs = 0;
                      for (int32_t i = 0; obstacle && i < obstacle->count; ++i)
                          zs += obstacle->data[i].v[2] + obstacle->data[i].v[5] + obstacle->data[i].v[8];
                      EXPECT_TRUE(!obstacle || (obstacle->count == 3 && zs == 8.0f))
                          << (obstacle ? obstacle->count : -1);
                      ftriListFree(obstacle);
                  },
                  9),  // a file's read takes some 500: every ninth
              100);

    // A mesh's box tree: -1 and no tree, or the tree over every edge.
    PlistArray* lists = plistArrayCreate(2);
    Plist* walk = plistCreate(300, 0);
    ASSERT_TRUE(lists && walk);
    for (int i = 0; i < 300; ++i) {
        const Vec3 p{0.5 * i, 3 * std::sin(0.1 * i), std::cos(0.07 * i)};
        plistAppend(walk, i, &p, 0, nullptr, 0);
    }
    ASSERT_EQ(plistArrayAdd(lists, walk), 1);
    for (long n = 1;; ++n) {
        CollMesh* mesh = collMeshFromPolylines(lists, 1e-3);
        ASSERT_NE(mesh, nullptr);
        allocfail::arm(n);
        const int r = collMeshTreeBuildOne(mesh);
        const bool fired = allocfail::fired();
        allocfail::disarm();
        EXPECT_TRUE(r == -1 ? fired && !mesh->tree : r == 1 && mesh->tree) << n;
        collMeshFree(mesh);
        if (!fired) {
            EXPECT_GT(n, 2);
            break;
        }
    }
    {  // A turned copy of a mesh with samples of its own: null, or its points and samples turned.
        CollMesh* mesh = collMeshFromPolylines(lists, 1e-3);
        ASSERT_NE(mesh, nullptr);
        mesh->samples = static_cast<Vec3*>(std::malloc(2 * sizeof(Vec3)));
        ASSERT_NE(mesh->samples, nullptr);
        mesh->samples[0] = {1, 0, 0}, mesh->samples[1] = {0, 2, 3};
        mesh->sampleCount = 2, mesh->edges[0].sampleCount = 2;
        EXPECT_GE(eachAllocationFails([&](auto failed) {
                      CollMesh* copy = collMeshRotateCopy(mesh, M_PI / 2);
                      EXPECT_EQ(copy == nullptr, failed());
                      if (!copy) return;
                      EXPECT_TRUE(copy->sampleCount == 2 && copy->edges[0].sampleCount == 2 &&
                                  copy->vertexCount == mesh->vertexCount &&
                                  copy->edgeCount == mesh->edgeCount);
                      const Vec3 want[2] = {{0, 1, 0}, {-2, 0, 3}};
                      for (int k = 0; k < 2; ++k) EXPECT_LT(dist3D(&copy->samples[k], &want[k]), 1e-12);
                      const Vec3& p = mesh->vertices[7].point;
                      const Vec3 turned{-p.y, p.x, p.z};
                      EXPECT_LT(dist3D(&copy->vertices[7].point, &turned), 1e-12);
                      collMeshFree(copy);
                  }),
                  4);
        collMeshFree(mesh);
    }
    plistFree(walk);
    plistArrayFree(lists);

    // A mesh loaded with its grid into a clone of the template: null, or the model with its grid, never
    // one without. The clone comes first and the grid last: those allocations fail in turn, the
    // reading between them is the STL reader's.
    {
        ToolGeom gtool{};
        gtool.radius = 3, gtool.size2 = 6;
        CheckModel templ{};
        chkModelInit(&templ, kMeshTriangles);
        templ.tool = &gtool;
        auto load = [&] {
            CheckModel* c = polymeshLoadWithGrid(stl.c_str(), &templ, 0.0);
            const bool whole = c && c->grid && c->triangles && c->triangles->count == 3;
            polymeshDelete(c);
            return c == nullptr ? 0 : whole ? 1 : -1;
        };
        allocfail::arm(0);
        EXPECT_EQ(load(), 1);
        const long total = allocfail::count();
        allocfail::disarm();
        for (long n = 1; n <= total; n = n < 3 || n >= total - 12 ? n + 1 : total - 12) {
            allocfail::arm(n);
            const int r = load();
            EXPECT_TRUE(allocfail::fired());
            allocfail::disarm();
            EXPECT_NE(r, -1) << n << " of " << total;  // some of the grid's memory it gets by without
        }
    }

    ringContactResetState();
    EXPECT_EQ(eachAllocationFails([&](auto failed) {
                  const int r = contactStateCreate();
                  EXPECT_EQ(r, failed() ? -1 : 1);
                  contactFree();
              }),
              2);

    EXPECT_GE(eachAllocationFails([&](auto failed) {
                  EXPECT_EQ(collrep_create(&tool, 1, 0, 0.1, 50), 1);
                  EXPECT_EQ(collrep_current() == nullptr, failed());
                  collrep_free();
              }),
              1);
}
