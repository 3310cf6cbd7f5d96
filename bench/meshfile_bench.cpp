// Reading and writing one million triangles as 3df facet files and binary STL, in bytes per
// second, beside the plain sequential read and write of the same files (1 MiB blocks) as the
// reference speed of this machine: once into one reused 1 MiB buffer, once into fresh memory of the
// file's size. Files live in a private folder under /tmp.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "kernel/base/rng.h"
#include "surfaces/meshfiles/facetfile.h"
#include "surfaces/meshfiles/stl.h"

namespace {

constexpr int kTriangles = 1000000;

struct Files {
    std::string dir, facets, stl;
    TriList* tris = nullptr;
    Files() {
        char tmpl[] = "/tmp/kvmeshbenchXXXXXX";
        const char* made = mkdtemp(tmpl);
        dir = made != nullptr ? made : "/tmp";
        facets = dir + "/bench.3df";
        stl = dir + "/bench.stl";
        Rng rng{12345};
        tris = triListCreate(kTriangles);
        for (int i = 0; tris != nullptr && i < kTriangles; ++i) {
            Triangle3D t;
            for (Vec3& p : t.p) p = Vec3{rngStep(&rng) * 0.01, rngStep(&rng) * 0.01, rngStep(&rng) * 0.001};
            triListAdd(tris, &t);
        }
        polymeshWrite3df(kFacetMeshTriangles, tris, nullptr, 0, facets.c_str());
        writeStl();
    }
    ~Files() {
        triListFree(tris);
        std::filesystem::remove_all(dir);
    }
    void writeStl() const {
        FILE* f = std::fopen(stl.c_str(), "wb");
        if (f == nullptr || tris == nullptr) return;
        std::vector<uint8_t> rec(84, ' ');
        const uint32_t n = static_cast<uint32_t>(tris->count);
        std::memcpy(rec.data() + 80, &n, 4);
        std::fwrite(rec.data(), 1, rec.size(), f);
        for (int i = 0; i < tris->count; ++i) {
            float v[12] = {0, 0, 1};
            for (int k = 0; k < 9; ++k) v[3 + k] = static_cast<float>((&tris->data[i].p[0].x)[k]);
            uint8_t out[50] = {};
            std::memcpy(out, v, 48);  // little-endian host
            std::fwrite(out, 1, sizeof out, f);
        }
        std::fclose(f);
    }
};

Files& files() {
    static Files f;
    return f;
}

int64_t sizeOf(const std::string& name) {
    std::error_code ec;
    const auto n = std::filesystem::file_size(name, ec);
    return ec ? 0 : static_cast<int64_t>(n);
}

void plainRead(benchmark::State& state, const std::string& name) {
    std::vector<char> buf(1 << 20);
    for (auto _ : state) {
        FILE* f = std::fopen(name.c_str(), "rb");
        if (f == nullptr) state.SkipWithError("cannot open");
        size_t total = 0, n;
        while (f != nullptr && (n = std::fread(buf.data(), 1, buf.size(), f)) > 0) total += n;
        if (f != nullptr) std::fclose(f);
        benchmark::DoNotOptimize(total);
    }
    state.SetBytesProcessed(state.iterations() * sizeOf(name));
}

// The same file read into fresh memory of its size: what any reader that keeps the whole mesh
// must at least pay (the pages of the destination are new).
void plainReadWhole(benchmark::State& state, const std::string& name) {
    const int64_t size = sizeOf(name);
    for (auto _ : state) {
        char* buf = static_cast<char*>(std::malloc(static_cast<size_t>(size)));
        FILE* f = std::fopen(name.c_str(), "rb");
        if (f == nullptr || buf == nullptr) state.SkipWithError("cannot open");
        size_t total = 0, n;
        while (f != nullptr && buf != nullptr && total < static_cast<size_t>(size) &&
               (n = std::fread(buf + total, 1, std::min<size_t>(1 << 20, size - total), f)) > 0)
            total += n;
        if (f != nullptr) std::fclose(f);
        benchmark::DoNotOptimize(buf);
        std::free(buf);
    }
    state.SetBytesProcessed(state.iterations() * size);
}

void plainWrite(benchmark::State& state, const std::string& name) {
    const int64_t size = sizeOf(name);
    std::vector<char> buf(1 << 20, 'x');
    const std::string out = files().dir + "/plain.out";
    for (auto _ : state) {
        FILE* f = std::fopen(out.c_str(), "wb");
        if (f == nullptr) state.SkipWithError("cannot open");
        for (int64_t left = size; f != nullptr && left > 0; left -= static_cast<int64_t>(buf.size()))
            std::fwrite(buf.data(), 1, left < static_cast<int64_t>(buf.size()) ? left : buf.size(), f);
        if (f != nullptr) std::fclose(f);
    }
    state.SetBytesProcessed(state.iterations() * size);
}

void BM_PlainRead3df(benchmark::State& state) {
    plainRead(state, files().facets);
}

void BM_PlainReadWhole3df(benchmark::State& state) {
    plainReadWhole(state, files().facets);
}

void BM_Read3df(benchmark::State& state) {
    for (auto _ : state) {
        FacetList* list = nullptr;
        if (facetFileLoad(files().facets.c_str(), &list) != kTriangles) state.SkipWithError("read failed");
        facetListFree(list);
    }
    state.SetBytesProcessed(state.iterations() * sizeOf(files().facets));
}

void BM_PlainWrite3df(benchmark::State& state) {
    plainWrite(state, files().facets);
}

void BM_Write3df(benchmark::State& state) {
    const std::string out = files().dir + "/out.3df";
    for (auto _ : state) {
        if (polymeshWrite3df(kFacetMeshTriangles, files().tris, nullptr, 0, out.c_str()) != kTriangles)
            state.SkipWithError("write failed");
    }
    state.SetBytesProcessed(state.iterations() * sizeOf(out));
}

void BM_PlainReadStl(benchmark::State& state) {
    plainRead(state, files().stl);
}

void BM_PlainReadWholeStl(benchmark::State& state) {
    plainReadWhole(state, files().stl);
}

void BM_ReadStlBinary(benchmark::State& state) {
    for (auto _ : state) {
        TriList* list = stl_read(files().stl.c_str());
        if (list == nullptr || list->count != kTriangles) state.SkipWithError("read failed");
        triListFree(list);
    }
    state.SetBytesProcessed(state.iterations() * sizeOf(files().stl));
}

}  // namespace

BENCHMARK(BM_PlainRead3df)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainReadWhole3df)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Read3df)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainWrite3df)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Write3df)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainReadStl)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainReadWholeStl)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadStlBinary)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
