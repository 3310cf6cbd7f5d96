// Shared by the fuzz harnesses: the readers under test take file names, so each
// input is handed to them as a file in a folder private to the process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

// Writes the bytes to a file of this name in the process's private folder and
// returns its full path. The folder is made on first use and removed at exit.
std::string fuzzWriteFile(const char* name, const uint8_t* data, size_t size);
std::string fuzzPrivateFolder();

// Stops the run with a message when an invariant of a reader's result fails;
// libFuzzer and the replay driver both report it as a crash with this input.
[[noreturn]] void fuzzFail(const char* what);
inline void fuzzCheck(bool ok, const char* what) {
    if (!ok) fuzzFail(what);
}

// Takes structured values from the front of an input; past its end every value is 0.
struct FuzzBytes {
    const uint8_t* data;
    size_t size;

    uint8_t u8() {
        if (size == 0) return 0;
        --size;
        return *data++;
    }
    uint16_t u16() { return static_cast<uint16_t>(u8() | (u8() << 8)); }
    // An integer in [lo, hi].
    int range(int lo, int hi) { return lo + static_cast<int>(u16() % static_cast<unsigned>(hi - lo + 1)); }
};
