#include "pocket/stepmemo.h"

#include <cstring>
#include <new>
#include <utility>

namespace {

// One budget for all memos together, so that the run's peak memory stays bounded whatever the input.
constexpr size_t kBudget = 24u << 20;
size_t gRecorded = 0;

// Buckets only: a sample of the records of large parts (every 16th and the last), small parts whole.
uint64_t hashOf(const StepKey& key) {
    uint64_t h = 1469598103934665603ull;
    auto mix = [&h](uint64_t w) { h = (h ^ w) * 1099511628211ull; };
    auto mixBytes = [&mix](const unsigned char* b, size_t n) {
        size_t i = 0;
        for (; i + 8 <= n; i += 8) {
            uint64_t w;
            std::memcpy(&w, b + i, 8);
            mix(w);
        }
        for (; i < n; ++i) mix(b[i]);
    };
    for (int32_t p = 0; p < key.parts; ++p) {
        const StepKey::Part& q = key.part[p];
        mix(q.count);
        const size_t step = q.count * q.used > 1024 ? 16 : 1;
        for (size_t r = 0; r < q.count; r += step) mixBytes(q.bytes + r * q.stride, q.used);
        if (q.count) mixBytes(q.bytes + (q.count - 1) * q.stride, q.used);
    }
    return h;
}

// Short records compared word by word in place: a library call per record costs more than the compare.
// Recorded keys are found equal far more often than not, so the words' differences are gathered without
// a branch each, the tail as one last word that overlaps the one before (n at least 8). Inlined with a
// size known when compiled (contour elements' fields), the words go in wide registers.
inline uint64_t differingBits(const unsigned char* a, const unsigned char* b, size_t n) {
    uint64_t diff = 0, x, y;
    for (size_t i = 0; i + 8 <= n; i += 8) {
        std::memcpy(&x, a + i, 8);
        std::memcpy(&y, b + i, 8);
        diff |= x ^ y;
    }
    std::memcpy(&x, a + n - 8, 8);
    std::memcpy(&y, b + n - 8, 8);
    return diff | (x ^ y);
}

bool sameBytes(const unsigned char* a, const unsigned char* b, size_t n) {
    if (n < 8) {
        for (size_t i = 0; i < n; ++i)
            if (a[i] != b[i]) return false;
        return true;
    }
    return differingBits(a, b, n) == 0;
}

constexpr size_t kElementBytes = offsetof(ContourElement, direction) + sizeof(int32_t);

bool sameKey(const std::vector<unsigned char>& stored, const StepKey& key) {
    if (stored.size() != key.total) return false;
    const unsigned char* at = stored.data();
    for (int32_t p = 0; p < key.parts; ++p) {
        const StepKey::Part& q = key.part[p];
        if (q.count == 1 || q.used == q.stride) {
            if (q.count * q.used != 0 && std::memcmp(at, q.bytes, q.count * q.used) != 0) return false;
            at += q.count * q.used;
            continue;
        }
        if (q.used == kElementBytes) {
            for (size_t r = 0; r < q.count; ++r, at += kElementBytes)
                if (differingBits(at, q.bytes + r * q.stride, kElementBytes) != 0) return false;
            continue;
        }
        for (size_t r = 0; r < q.count; ++r, at += q.used)
            if (!sameBytes(at, q.bytes + r * q.stride, q.used)) return false;
    }
    return true;
}

}  // namespace

void StepKey::add(const void* bytes, size_t n) {
    addStrided(bytes, 1, n, n);
}

void StepKey::addStrided(const void* bytes, size_t count, size_t stride, size_t used) {
    if (parts >= kStepKeyParts || used > stride) {
        ok = false;
        return;
    }
    part[parts] = {static_cast<const unsigned char*>(bytes), count, stride, used};
    ++parts;
    total += count * used;
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
    if (!key.ok || gRecorded + size > kBudget) return 0;
    try {
        std::vector<unsigned char> flat(key.total);
        unsigned char* at = flat.data();
        for (int32_t p = 0; p < key.parts; ++p) {
            const StepKey::Part& q = key.part[p];
            for (size_t r = 0; r < q.count; ++r, at += q.used)
                if (q.used) std::memcpy(at, q.bytes + r * q.stride, q.used);
        }
        memo->entries.emplace(hashOf(key), StepMemo::Entry{std::move(flat), std::move(result)});
    } catch (const std::bad_alloc&) {
        return 0;
    }
    memo->bytes += size;
    gRecorded += size;
    return 1;
}

StepMemo::~StepMemo() {
    stepMemoClear(this);
}

void stepMemoClear(StepMemo* memo) {
    std::unordered_multimap<uint64_t, StepMemo::Entry>().swap(memo->entries);
    gRecorded -= memo->bytes;
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
