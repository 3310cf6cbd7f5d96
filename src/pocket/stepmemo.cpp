#include "pocket/stepmemo.h"

#include <cstring>
#include <new>
#include <utility>

namespace {

constexpr size_t kBudget = 16u << 20;

// Buckets only: large parts are sampled (their length, ends and every 16th word), small ones taken whole.
uint64_t hashOf(const StepKey& key) {
    uint64_t h = 1469598103934665603ull;
    auto mix = [&h](uint64_t w) { h = (h ^ w) * 1099511628211ull; };
    for (int32_t p = 0; p < key.parts; ++p) {
        const auto* b = static_cast<const unsigned char*>(key.part[p]);
        const size_t n = key.size[p];
        mix(n);
        const size_t stride = n > 1024 ? 128 : 8;
        size_t i = 0;
        for (; i + 8 <= n; i += stride) {
            uint64_t w;
            std::memcpy(&w, b + i, 8);
            mix(w);
        }
        if (n >= 8) {
            uint64_t w;
            std::memcpy(&w, b + n - 8, 8);
            mix(w);
        } else {
            for (size_t k = 0; k < n; ++k) mix(b[k]);
        }
    }
    return h;
}

bool sameKey(const std::vector<unsigned char>& stored, const StepKey& key) {
    if (stored.size() != key.total) return false;
    size_t at = 0;
    for (int32_t p = 0; p < key.parts; ++p) {
        if (key.size[p] && std::memcmp(stored.data() + at, key.part[p], key.size[p]) != 0) return false;
        at += key.size[p];
    }
    return true;
}

}  // namespace

void StepKey::add(const void* bytes, size_t n) {
    if (parts >= kStepKeyParts) {
        ok = false;
        return;
    }
    part[parts] = bytes;
    size[parts] = n;
    ++parts;
    total += n;
}

void stepStateImage(StepStateImage* image) {
    PocketKernel k;
    std::memcpy(static_cast<void*>(&k), &pocketKernel(), sizeof k);
    k.planeTop = k.planeDepth = 0;
    k.planesLeft = k.levelsLeft = 0;
    std::memcpy(image->bytes, &k, sizeof k);
    std::memcpy(image->bytes + sizeof k, &pocketOffsetState(), sizeof(PocketOffsetState));
}

const std::vector<unsigned char>* stepMemoFind(const StepMemo& memo, const StepKey& key) {
    if (!key.ok || memo.entries.empty()) return nullptr;
    const auto range = memo.entries.equal_range(hashOf(key));
    for (auto it = range.first; it != range.second; ++it)
        if (sameKey(it->second.key, key)) return &it->second.result;
    return nullptr;
}

int stepMemoAdd(StepMemo* memo, const StepKey& key, std::vector<unsigned char> result) {
    const size_t size = key.total + result.size();
    if (!key.ok || memo->bytes + size > kBudget) return 0;
    try {
        std::vector<unsigned char> flat(key.total);
        size_t at = 0;
        for (int32_t p = 0; p < key.parts; ++p) {
            if (key.size[p]) std::memcpy(flat.data() + at, key.part[p], key.size[p]);
            at += key.size[p];
        }
        memo->entries.emplace(hashOf(key), StepMemo::Entry{std::move(flat), std::move(result)});
    } catch (const std::bad_alloc&) {
        return 0;
    }
    memo->bytes += size;
    return 1;
}

void stepMemoClear(StepMemo* memo) {
    StepMemo().entries.swap(memo->entries);
    memo->bytes = 0;
}

void stepResultAppend(std::vector<unsigned char>* result, const void* bytes, size_t n) {
    const size_t at = result->size();
    result->resize(at + n);
    if (n) std::memcpy(result->data() + at, bytes, n);
}

void StepMemoReader::take(void* out, size_t n) {
    if (n) std::memcpy(out, bytes->data() + at, n);
    at += n;
}
