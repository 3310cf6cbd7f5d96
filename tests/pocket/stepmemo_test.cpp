// Step memos: found exactly when the meaningful key bytes equal a recorded key's (a map of flattened
// keys is the oracle), and the recorded steps replay what working them out again gives.
#include "kernel/base/runreset.h"
#include "pocket/stepmemo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>

#include "kernel/base/rng.h"
#include "pocket/clist.h"
#include "pocket/contouroffset.h"
#include "pocket/contourreduce.h"
#include "pocket_util.h"

namespace {

// A record whose last four bytes are padding the key must not read.
struct Padded {
    int32_t a;
    int32_t pad;
};

bool sameElements(const ContourElement* a, const ContourElement* b, int32_t n) {
    for (int32_t i = 0; i < n; ++i) {
        if (a[i].type != b[i].type || a[i].sourceTag != b[i].sourceTag || a[i].direction != b[i].direction ||
            std::memcmp(a[i].g, b[i].g, sizeof a[i].g) != 0)
            return false;
    }
    return true;
}

bool sameState(const PocketOffsetState& a, const PocketOffsetState& b) {
    return a.problem == b.problem && a.needsClean == b.needsClean && a.rotate == b.rotate &&
           a.growMode == b.growMode && a.distanceFrozen == b.distanceFrozen &&
           a.cornerFactor == b.cornerFactor && a.classifyTol == b.classifyTol &&
           a.currentDistance == b.currentDistance && a.strictRings == b.strictRings &&
           a.openChain == b.openChain && a.forceSplit == b.forceSplit;
}

}  // namespace

TEST(StepMemo, FoundExactlyForEqualMeaningfulBytes) {
    rngResetState();
    StepMemo memo;
    std::map<std::vector<unsigned char>, unsigned char> oracle;
    for (int t = 0; t < 3000; ++t) {
        // Few distinct values, so that keys repeat and collide often.
        std::vector<Padded> records(rngBelow(5));
        for (Padded& r : records) r = {static_cast<int32_t>(rngBelow(3)), static_cast<int32_t>(rngNext())};
        const int32_t word = static_cast<int32_t>(rngBelow(4));
        StepKey key;
        key.add(&word, sizeof word);
        key.addRecords(records.data(), records.size(), sizeof(int32_t));
        std::vector<unsigned char> flat(sizeof word);
        std::memcpy(flat.data(), &word, sizeof word);
        for (const Padded& r : records) {
            const auto* b = reinterpret_cast<const unsigned char*>(&r.a);
            flat.insert(flat.end(), b, b + sizeof r.a);
        }
        const std::vector<unsigned char>* hit = stepMemoFind(memo, key);
        const auto want = oracle.find(flat);
        ASSERT_EQ(hit != nullptr, want != oracle.end()) << t;
        if (hit) {
            EXPECT_EQ((*hit)[0], want->second) << t;
            continue;
        }
        const auto value = static_cast<unsigned char>(rngBelow(256));
        ASSERT_EQ(stepMemoAdd(&memo, key, {value}), 1);
        oracle[flat] = value;
    }
    stepMemoClear(&memo);
    StepKey empty;
    EXPECT_EQ(stepMemoFind(memo, empty), nullptr);
    // A key of as many parts as it holds is recorded and found; one part more, or records that use more
    // bytes than they hold, make a key that is never recorded.
    const int32_t parts[kStepKeyParts + 1] = {};
    for (int i = 0; i < kStepKeyParts; ++i) empty.add(&parts[i], sizeof parts[i]);
    EXPECT_TRUE(empty.ok);
    EXPECT_EQ(stepMemoAdd(&memo, empty, {1}), 1);
    EXPECT_NE(stepMemoFind(memo, empty), nullptr);
    empty.add(&parts[kStepKeyParts], sizeof parts[0]);
    EXPECT_FALSE(empty.ok);
    EXPECT_EQ(stepMemoAdd(&memo, empty, {1}), 0);
    EXPECT_EQ(stepMemoFind(memo, empty), nullptr);
    StepKey wide;
    wide.addStrided(parts, 2, 4, 8);
    EXPECT_FALSE(wide.ok);
    EXPECT_EQ(stepMemoAdd(&memo, wide, {1}), 0);
    StepKey exact;
    exact.addStrided(parts, 2, 8, 8);
    EXPECT_TRUE(exact.ok);
    stepMemoClear(&memo);
}

// The state image holds every byte of the kernel variables and the offset state (two images of one state in
// differently filled records agree) and changes with any of them but the plane counters and heights.
TEST(StepMemo, StateImageFollowsTheStateButThePlaneCounters) {
    const std::pair<std::function<void()>, bool> rows[] = {
        {[] { pocketOffsetState().forceSplit ^= 1; }, true},
        {[] { pocketKernel().toolRadius += 1; }, true},
        {[] { pocketKernel().planeTop += 1; }, false},
        {[] { pocketKernel().levelsLeft += 1; }, false}};
    for (const auto& row : rows) {
        const PocketKernel k = pocketKernel();
        const PocketOffsetState o = pocketOffsetState();
        StepStateImage a, b;
        std::memset(&a, 0, sizeof a), std::memset(&b, 0xff, sizeof b);
        stepStateImage(&a), stepStateImage(&b);
        EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0);
        row.first();
        stepStateImage(&b);
        EXPECT_EQ(std::memcmp(&a, &b, sizeof a) != 0, row.second) << &row - rows;
        pocketKernel() = k, pocketOffsetState() = o;
    }
}

// An offset and a reduction taken from the memo give the rings, counts and offset state that working
// them out again gives (wavy seeded polygons, offset inward and outward).
TEST(StepMemo, RecordedOffsetsAndReductionsReplayTheirResults) {
    rngResetState();
    PocketErrors state;
    pocketKernel().tolerance = 0.001;
    pocketKernel().geometryScale = 1;
    int withRings = 0, reduced = 0;
    for (int t = 0; t < 20; ++t) {
        std::vector<Vec2> pts;
        const int n = 70 + static_cast<int>(rngBelow(60));
        for (int i = 0; i < n; ++i) {
            const double a = 2 * M_PI * i / n, r = 40 * (1 + 0.2 * std::sin(3 * a + t));
            pts.push_back({r * std::cos(a), r * std::sin(a)});
        }
        const std::vector<ContourElement> in = polygon(pts);
        const double d = (t % 2 ? -1 : 1) * (1 + 5 * rngUniform());
        struct Run {
            std::vector<ContourElement> out = std::vector<ContourElement>(kClistMaxElements);
            std::vector<int32_t> starts = std::vector<int32_t>(kOffsetMaxRings),
                                 counts = std::vector<int32_t>(kOffsetMaxRings);
            int32_t end = 0, rings = 0, reduced = 0;
            std::vector<ContourElement> reducedElems = {};
            PocketOffsetState after{};
        } runs[3];
        for (int k = 0; k < 3; ++k) {
            if (k == 2) {  // worked out afresh
                runResetAll();
            }
            Run& r = runs[k];
            r.rings =
                offsetContour(in.data(), n, 1, d, r.out.data(), &r.end, r.starts.data(), r.counts.data());
            r.after = pocketOffsetState();
            r.reducedElems = in;
            r.reducedElems.resize(5 * n);
            r.reduced = contourReduceOne(r.reducedElems.data(), n, 0.05, 1, 5 * n);
        }
        withRings += runs[2].rings > 0;
        reduced += runs[2].reduced > 0 && runs[2].reduced < n;
        for (int k = 0; k < 2; ++k) {
            const Run &a = runs[k], &b = runs[2];
            ASSERT_EQ(a.rings, b.rings) << t;
            ASSERT_EQ(a.end, b.end) << t;
            EXPECT_TRUE(sameElements(a.out.data(), b.out.data(), a.end)) << t;
            for (int32_t i = 0; i < a.rings; ++i)
                EXPECT_TRUE(a.starts[i] == b.starts[i] && a.counts[i] == b.counts[i]) << t;
            EXPECT_TRUE(sameState(a.after, b.after)) << t;
            ASSERT_EQ(a.reduced, b.reduced) << t;
            EXPECT_TRUE(sameElements(a.reducedElems.data(), b.reducedElems.data(), a.reduced)) << t;
        }
    }
    EXPECT_GT(withRings, 10);
    EXPECT_GT(reduced, 10);
    runResetAll();
}

// A list's generation changes with every change made through the list functions and never comes back;
// reading leaves it as it is.
TEST(StepMemo, ListGenerationChangesWithEveryChange) {
    PocketErrors state;
    const std::vector<ContourElement> box = polygon({{0, 0}, {4, 0}, {4, 3}, {0, 3}});
    ContourHeader h{};
    h.elementCount = static_cast<uint32_t>(box.size());
    std::vector<uint64_t> seen{clistGeneration("TEMP")};
    const std::function<void()> changes[] = {
        [] { clistCreate("TEMP"); },
        [&] { clistInsert("TEMP", box.data(), &h, -1); },
        [&] { clistInsert("TEMP", box.data(), &h, 0); },
        [&] { clistReplace("TEMP", box.data(), &h, 1); },
        [] { clistSetTag("TEMP", 7, 0); },
        [&] {
            ContourHeader g{};
            clistGetHeader("TEMP", &g, 0);
            clistSetHeader("TEMP", &g, 0);
        },
        [] { clistDelete("TEMP", 0); },
        [] { clistFree("TEMP"); },
    };
    std::vector<ContourElement> read(box.size());
    for (const auto& change : changes) {
        change();
        const uint64_t g = clistGeneration("TEMP");
        EXPECT_EQ(std::count(seen.begin(), seen.end(), g), 0);
        seen.push_back(g);
        clistCount("TEMP");
        clistGet("TEMP", read.data(), &h, 0);
        h.elementCount = static_cast<uint32_t>(box.size());
        EXPECT_EQ(clistGeneration("TEMP"), g);
    }
    EXPECT_EQ(clistGeneration("NO SUCH LIST"), 0u);
}

// Records of 3 to 76 meaningful bytes (a contour element's), whose bytes differ anywhere, last bytes
// included, in parts long enough that the bucket hash samples their records: found exactly when the
// meaningful bytes equal a recorded key's; the padding after them never parts equal keys.
TEST(StepMemo, WideRecordsComparedOnEveryMeaningfulByte) {
    rngResetState();
    for (const size_t used : {3, 9, 16, 21, 76}) {
        const size_t stride = used + 4;
        StepMemo memo;
        std::map<std::vector<unsigned char>, unsigned char> oracle;
        for (int t = 0; t < (used < 8 ? 400 : 3000); ++t) {
            const size_t count = rngBelow(2) ? (used < 8 ? 400 : 40) : 1 + rngBelow(2);
            std::vector<unsigned char> bytes(stride * count, 0), flat(used * count, 0);
            // Zero records with at most one meaningful byte set, anywhere: keys repeat, and many differ from
            // one another in one byte of a record the bucket hash does not read. The padding is noise.
            for (size_t r = 0; r < count; ++r)
                for (size_t b = used; b < stride; ++b)
                    bytes[r * stride + b] = static_cast<unsigned char>(rngNext());
            if (rngBelow(2)) {
                const size_t r = rngBelow(static_cast<int32_t>(count)),
                             b = rngBelow(static_cast<int32_t>(used));
                const auto v = static_cast<unsigned char>(1 + rngBelow(2));
                bytes[r * stride + b] = flat[r * used + b] = v;
            }
            StepKey key;
            key.addStrided(bytes.data(), count, stride, used);
            const std::vector<unsigned char>* hit = stepMemoFind(memo, key);
            const auto want = oracle.find(flat);
            ASSERT_EQ(hit != nullptr, want != oracle.end()) << used << " " << t;
            if (hit) {
                EXPECT_EQ((*hit)[0], want->second) << used << " " << t;
                continue;
            }
            const auto value = static_cast<unsigned char>(rngBelow(256));
            ASSERT_EQ(stepMemoAdd(&memo, key, {value}), 1);
            oracle[flat] = value;
        }
    }
}
