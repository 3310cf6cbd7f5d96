#pragma once
// Results of pocket steps recorded under everything the step reads. The planes of a level repeat the
// same offsets, reductions, splices, ring checks and connection searches on the same contours; a step
// that finds its key recorded takes the recorded result instead of working it out again. A key is a list
// of byte ranges the step names in place (its arguments, the elements it reads, stepStateImage for the
// kernel variables and the offset state); a result is plain bytes the step lays out itself. Keys are
// compared in full, never by their hash alone. All memos together hold at most one byte budget; what
// does not fit is simply not recorded.
#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "pocket/clist.h"
#include "pocket/pocketstate.h"

struct StepMemo {
    struct Entry {
        std::vector<unsigned char> key, result;
    };
    std::unordered_multimap<uint64_t, Entry> entries;
    size_t bytes = 0;

    StepMemo() = default;
    ~StepMemo();  // gives its bytes back to the budget
    StepMemo(const StepMemo&) = delete;
    StepMemo& operator=(const StepMemo&) = delete;
};

enum : int32_t { kStepKeyParts = 16 };

struct StepKey {
    struct Part {
        const unsigned char* bytes;
        size_t count, stride, used;  // count records, stride apart, of which the first used bytes count
    };
    Part part[kStepKeyParts];
    int32_t parts = 0;
    size_t total = 0;
    bool ok = true;  // false when more parts were named than fit (never found, never recorded)
    void add(const void* bytes, size_t n);
    // Records whose tail padding (left as it happens to be) must not part equal keys.
    template <class T>
    void addRecords(const T* records, size_t count, size_t usedBytes) {
        addStrided(records, count, sizeof(T), usedBytes);
    }
    void addStrided(const void* bytes, size_t count, size_t stride, size_t used);
};

// Contour elements as a key part, their fields without the tail padding.
inline void stepKeyElements(StepKey* key, const ContourElement* elements, size_t count) {
    key->addRecords(elements, count, offsetof(ContourElement, direction) + sizeof(int32_t));
}

// The kernel variables (all but the plane counters and heights, which only the plane loop reads) and the
// offset state, as key bytes.
struct StepStateImage {
    unsigned char bytes[sizeof(PocketKernel) + sizeof(PocketOffsetState)];
};
void stepStateImage(StepStateImage* image);

// The head most steps' keys share: the call's words, its one distance or tolerance, then the state
// image (filled here; like every range a key names, it must outlive the key).
template <size_t N>
void stepKeyHead(StepKey* key, StepStateImage* state, const int32_t (&words)[N], const double* value) {
    stepStateImage(state);
    key->add(words, sizeof words);
    key->add(value, sizeof *value);
    key->add(state->bytes, sizeof state->bytes);
}

// The recorded result of the key, or null.
const std::vector<unsigned char>* stepMemoFind(const StepMemo& memo, const StepKey& key);
// Records the result unless the budget would be exceeded (or memory is short): 1 recorded, else 0.
int stepMemoAdd(StepMemo* memo, const StepKey& key, std::vector<unsigned char> result);
void stepMemoClear(StepMemo* memo);

// Result bytes: appended in one order, read back in the same.
void stepResultAppend(std::vector<unsigned char>* result, const void* bytes, size_t n);
struct StepMemoReader {
    const std::vector<unsigned char>* bytes;
    size_t at = 0;
    void take(void* out, size_t n);
};
