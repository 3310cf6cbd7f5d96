// The 3D common cycle's boundary: from its own geometry file, into its temporary folder, with the
// file's heights.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>

#include "kernel/base/runreset.h"
#include "kernel/cycle/cyc3d.h"
#include "surfaces/geofiletest.h"
#include "surfaces/meshfiles/bndfile.h"

TEST(CycBoundary, FromTheCyclesGeometryFileIntoItsFolder) {
    runResetAll();
    TempDir dir;
    const std::string geo = dir.file("geo.kvx");
    writeTextFile(geo, kvxText("o Geometry[g]()\n{\nv surface(12.5)\nv depth(3)\nv 3Dtype(boundary)\n"
                               "o Contour[c]()\n{\no L(x[0/10] y[0/0] z[0/0])\n"
                               "o L(x[10/10] y[0/5] z[0/0])\no L(x[10/0] y[5/5] z[0/0])\n}\n}\n"));
    Cyc3dParams* params = cyc3dParams(&kvCyc3d);
    ASSERT_NE(params, nullptr);
    params->geoSource = strdup(geo.c_str());
    params->tempDirectory = strdup(dir.path.c_str());
    writeBoundarySetFolder(nullptr);
    EXPECT_EQ(writeBoundaryFromGeometry(&kvCyc3d), 1);
    EXPECT_EQ(params->depth, 3.0);
    writeBoundarySetFolder(dir.path.c_str());
    char name[512];
    writeBoundaryFileName(kBndBoundary, 1, name, sizeof name);
    std::istringstream in(getText(name));
    int points = 0;
    for (std::string line; std::getline(in, line);) points += !line.empty() && line[0] == 'X';
    EXPECT_EQ(points, 4);  // three joined lines: both ends of each, shared ends once
    EXPECT_EQ(writeBoundaryFromGeometry(nullptr), -1);
    cyc3dResetState();
    writeBoundaryResetState();
}
