#include "pocket/stepmemo.h"

#include <cstring>
#include <new>
#include <utility>

namespace {

constexpr size_t kBudget = 16u << 20;

uint64_t hashOf(const std::vector<unsigned char>& key) {
    // FNV-1a over 8-byte words, then the tail.
    uint64_t h = 1469598103934665603ull;
    size_t i = 0;
    for (; i + 8 <= key.size(); i += 8) {
        uint64_t w;
        std::memcpy(&w, key.data() + i, 8);
        h = (h ^ w) * 1099511628211ull;
    }
    for (; i < key.size(); ++i) h = (h ^ key[i]) * 1099511628211ull;
    return h;
}

}  // namespace

const std::vector<unsigned char>* stepMemoFind(const StepMemo& memo, const std::vector<unsigned char>& key) {
    const auto range = memo.entries.equal_range(hashOf(key));
    for (auto it = range.first; it != range.second; ++it)
        if (it->second.key == key) return &it->second.result;
    return nullptr;
}

int stepMemoAdd(StepMemo* memo, std::vector<unsigned char> key, std::vector<unsigned char> result) {
    const size_t size = key.size() + result.size();
    if (memo->bytes + size > kBudget) return 0;
    try {
        const uint64_t h = hashOf(key);
        memo->entries.emplace(h, StepMemo::Entry{std::move(key), std::move(result)});
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

void StepMemoReader::take(void* out, size_t n) {
    if (n) std::memcpy(out, bytes->data() + at, n);
    at += n;
}
