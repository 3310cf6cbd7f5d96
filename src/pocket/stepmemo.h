#pragma once
// Results of pocket steps recorded under everything the step reads. The planes of a level repeat the
// same offsets, splices and ring checks on the same contours; a step that finds its key recorded takes
// the recorded result instead of working it out again. Keys and results are plain bytes the step lays
// out itself (with pocketStateKey for the kernel variables and the offset state). A memo holds at most
// its byte budget; what does not fit is simply not recorded.
#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

struct StepMemo {
    struct Entry {
        std::vector<unsigned char> key, result;
    };
    std::unordered_multimap<uint64_t, Entry> entries;
    size_t bytes = 0;
};

// The recorded result of the key, or null.
const std::vector<unsigned char>* stepMemoFind(const StepMemo& memo, const std::vector<unsigned char>& key);
// Records the result unless the budget would be exceeded (or memory is short): 1 recorded, else 0.
int stepMemoAdd(StepMemo* memo, std::vector<unsigned char> key, std::vector<unsigned char> result);
void stepMemoClear(StepMemo* memo);

// Reads bytes back from a recorded result in the order they were appended.
struct StepMemoReader {
    const std::vector<unsigned char>* bytes;
    size_t at = 0;
    void take(void* out, size_t n);
};
