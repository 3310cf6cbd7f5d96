// Element builders and an error-record recorder on the pocket record for the pocket tests.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "geometry/vec.h"
#include "kernel/base/kvx/kvlist.h"
#include "kernel/base/runreset.h"
#include "pocket/ccp.h"
#include "kernel/ncout/ncchan.h"
#include "kernel/ncout/ncrecord.h"
#include "pocket/clist.h"
#include "pocket/pocketerr.h"
#include "pocket/pocketinput.h"
#include "pocket/pocketstate.h"
#include "pocket/rifblock.h"

inline ContourElement lineElem(double x1, double y1, double x2, double y2, int32_t tag = 0) {
    ContourElement e{};
    e.type = kElemLine;
    e.sourceTag = tag;
    e.g[kLx1] = x1;
    e.g[kLy1] = y1;
    e.g[kLx2] = x2;
    e.g[kLy2] = y2;
    return e;
}

// An arc about (cx, cy) from angle a0 to a1 (radians) in the given direction.
inline ContourElement arcElem(double cx, double cy, double r, double a0, double a1, int32_t dir,
                              int32_t tag = 0) {
    ContourElement e{};
    e.type = kElemArc;
    e.sourceTag = tag;
    e.g[kAcx] = cx;
    e.g[kAcy] = cy;
    e.g[kAsx] = cx + r * std::cos(a0);
    e.g[kAsy] = cy + r * std::sin(a0);
    e.g[kAex] = cx + r * std::cos(a1);
    e.g[kAey] = cy + r * std::sin(a1);
    e.g[kAr] = r;
    e.direction = dir;
    return e;
}

// A closed polygon of lines through the points in order.
inline std::vector<ContourElement> polygon(const std::vector<Vec2>& p) {
    std::vector<ContourElement> out;
    for (size_t i = 0; i < p.size(); ++i) {
        const Vec2& a = p[i];
        const Vec2& b = p[(i + 1) % p.size()];
        out.push_back(lineElem(a.x, a.y, b.x, b.y));
    }
    return out;
}

// Records the error texts the pocket record sends on channel 0 and resets the pocket state.
class PocketErrors {
  public:
    PocketErrors() {
        reset();
        texts().clear();
        EXPECT_EQ(ncRegisterHandler(&kvCCP, 0, record, record, 1), 1);
        EXPECT_EQ(ncRegisterHandler(&kvCCP, 4, recordTrace, recordTrace, 1), 1);
    }
    ~PocketErrors() {
        ncFreeChannels(&kvCCP);
        reset();
    }
    // The pocket state of a fresh process: a fresh run's, and no variables left on the record.
    static void reset() {
        runResetAll();
        kvListFree(kvCCP.vars);
        kvCCP.vars = nullptr;
    }
    PocketErrors(const PocketErrors&) = delete;
    PocketErrors& operator=(const PocketErrors&) = delete;

    static std::vector<std::string>& texts() {
        static std::vector<std::string> t;
        return t;
    }
    // Some text recorded holds the given part.
    static bool sent(const std::string& part) {
        for (const std::string& t : texts())
            if (t.find(part) != std::string::npos) return true;
        return false;
    }

  private:
    static int recordTrace(CycleRecord* r, NcRecord* output) {
        record(r, output);
        texts().back() = "4:" + texts().back();
        return 1;
    }
    static int record(CycleRecord*, NcRecord* output) {
        char value[KVNC_TEXT_SIZE];
        texts().push_back(std::to_string(ncRecGetI32(output, KVNC_TYPE)) + " " +
                          ncRecGetText(output, KVNC_TEXT_VALUE, KVNC_TEXT_SIZE, value));
        return 1;
    }
};

// A folder of its own for the files a test writes; removed with everything in it.
class TempFolder {
  public:
    TempFolder() {
        char name[] = "/tmp/pockettestXXXXXX";
        if (mkdtemp(name)) path_ = name;
    }
    ~TempFolder() {
        if (!path_.empty()) std::filesystem::remove_all(path_);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

namespace pockettest {

// The contour appended to a named list under the header, its element count filled in.
inline bool putContour(const char* list, const std::vector<ContourElement>& c, ContourHeader h = {}) {
    h.elementCount = static_cast<uint32_t>(c.size());
    return clistInsert(list, c.data(), &h, -1) == 1;
}

inline std::string readText(const std::string& path) {
    std::stringstream s;
    s << std::ifstream(path, std::ios::binary).rdbuf();
    return s.str();
}

inline void writeText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

}  // namespace pockettest
using namespace pockettest;
