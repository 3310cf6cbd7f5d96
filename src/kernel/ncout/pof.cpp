#include "kernel/ncout/pof.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "kernel/base/numtext.h"
#include "kernel/base/runreset.h"
#include "kernel/base/text.h"
#include "kernel/ncout/core.h"
#include "kernel/ncout/ncchan.h"
#include "kernel/ncout/ncemit.h"
#include "kernel/ncout/toolcontour.h"

namespace {

// The files channel 0 opened, by record: only these are ever closed here; a
// file the core library had from elsewhere (standard output included) is not ours.
// Each has a stdio buffer of its own, larger than the default: the output is
// megabytes written a line at a time, and the default buffer costs a system
// call every few kilobytes. A named file that could not be opened stays here
// without a file until the end of the output, which then fails the run.
struct Opened {
    const CycleRecord* record;
    FILE* file;    // null when the named file could not be opened
    char* buffer;  // null when the default buffer is used
    std::string name;
    bool lineLost;  // the core library failed on a line meant for the file
};
std::vector<Opened> gOpened;
constexpr size_t kOutputBuffer = 256 * 1024;

// Closes the file; false when it was not written in full (an error on the way or at the last flush).
bool closeFile(const Opened& entry) {
    if (!entry.file) return false;
    const bool failed = ferror(entry.file) != 0;
    const bool closed = fclose(entry.file) == 0;
    free(entry.buffer);  // only after the close has flushed it
    return closed && !failed;
}

// Ends the output channel 0 opened for the record; false when there is none.
// An output that was lost fails the run, unless the host cancelled it.
bool closeOpened(CycleRecord* record) {
    for (auto it = gOpened.begin(); it != gOpened.end(); ++it) {
        if (it->record == record) {
            Opened entry = std::move(*it);
            gOpened.erase(it);
            const bool written = closeFile(entry) && !entry.lineLost;
            if (entry.file && !written) ncErrorNumber(record, kMsgPofNotWritten, entry.name.c_str());
            if (!written && record->status.load() == kStatusOk) record->status = kStatusFailed;
            return true;
        }
    }
    return false;
}

void openOutput(CycleRecord* record) {
    char* name = kvListGet(record->vars, "pofFilename", nullptr);
    if (!name) return;
    strReplaceChar(name, name, '\\', '/');
    if (std::any_of(gOpened.begin(), gOpened.end(), [&](const Opened& e) { return e.record == record; })) {
        coreSetFP(record, nullptr);
        closeOpened(record);
    }
    std::string path = name;
    free(name);
    FILE* file = fopen(path.c_str(), "a");
    if (!file) {
        // Nothing of the run's text goes anywhere else: the host hears of it and the run fails.
        coreSetFP(record, nullptr);
        gOpened.push_back({record, nullptr, nullptr, path, false});
        ncErrorNumber(record, kMsgPofNotOpened, path.c_str());
        return;
    }
    char* buffer = nullptr;
    if (file) {
        buffer = static_cast<char*>(malloc(kOutputBuffer));
        if (buffer && setvbuf(file, buffer, _IOFBF, kOutputBuffer) != 0) {
            free(buffer);
            buffer = nullptr;
        }
    }
    if (selectOutputFile(record, file))
        gOpened.push_back({record, file, buffer, path, false});
    else
        closeFile({record, file, buffer, path, false});
}

void closeOutput(CycleRecord* record) {
    if (record->tool) {
        freeToolRecord(record->tool);
        free(record->tool);
        record->tool = nullptr;
    }
    FILE* current = nullptr;
    coreGetFP(record, &current);
    if (current) coreSetFP(record, nullptr);
    closeOpened(record);
}

// The core library's text of one record. A line it failed on (memory short) is missing from the file
// of ours it was meant for; a core library that is missing or lacks the entry writes nothing at all.
int32_t coreLine(int32_t channel, int32_t mode, CycleRecord* record, NcRecord* output) {
    const int32_t r = coreLayerOutput(channel, mode, record, output, pofPrint, ncEmit);
    if (r != 0 && r != kCoreNotOpen && r != kCoreEntryMissing)
        for (Opened& e : gOpened)
            if (e.record == record && e.file) e.lineLost = true;
    return r;
}

int layerOutput(int32_t channel, int32_t mode, CycleRecord* record, NcRecord* output) {
    return coreLine(channel, mode, record, output) == 0 ? 1 : 0;
}

FILE* traceFile(CycleRecord* record) {
    FILE* file = nullptr;
    coreGetFP(record, &file);
    return file ? file : stdout;
}

int marker(CycleRecord* record, const char* text) {
    fputs(text, traceFile(record));
    return 1;
}

std::string fixed(double value) {
    char text[kFormatFixedMax];
    formatFixed(text, value);
    return text;
}

}  // namespace

void pofPrint(FILE* file, const char* text) {
    if (!file || !text) return;
#ifdef __GLIBC__
    // A file opened here is written by its run alone: its lock, taken and given back per line, cost more
    // than the line's copy. Any other (standard output included) may be shared and keeps its lock.
    for (const Opened& e : gOpened)
        if (e.file == file) {
            fputs_unlocked(text, file);
            return;
        }
#endif
    fputs(text, file);
}

int selectOutputFile(CycleRecord* record, FILE* file) {
    struct stat st;
    if (file && fstat(fileno(file), &st) == 0 && S_ISREG(st.st_mode)) {
        coreSetFP(record, file);
        return 1;
    }
    coreSetFP(record, stdout);
    return 0;
}

int pofChannel0(CycleRecord* record, NcRecord* output) {
    if (!record || !output) return 0;
    int32_t type = ncRecGetI32(output, KVNC_TYPE);
    if (type == 103) {
        openOutput(record);
        loadToolContour(record);  // also without a file name
    }
    int result = coreLine(0, 0, record, output);
    if (type == 104 || type == 102) closeOutput(record);
    return type == 102 || result != 0 ? 0 : 1;
}

int pofChannel1(CycleRecord* r, NcRecord* o) {
    return layerOutput(1, 0, r, o);
}
int pofChannel2(CycleRecord* r, NcRecord* o) {
    return layerOutput(2, 0, r, o);
}
int pofChannel10(CycleRecord* r, NcRecord* o) {
    return layerOutput(10, 0, r, o);
}
int pofChannel11(CycleRecord* r, NcRecord* o) {
    return layerOutput(11, 0, r, o);
}
int pofChannel12(CycleRecord* r, NcRecord* o) {
    return layerOutput(12, 0, r, o);
}
int pofChannel20(CycleRecord* r, NcRecord* o) {
    return layerOutput(20, 0, r, o);
}
int pofChannel31(CycleRecord* r, NcRecord* o) {
    return layerOutput(31, 2, r, o);
}
int pofChannel32(CycleRecord* r, NcRecord* o) {
    return layerOutput(32, 2, r, o);
}
int pofChannel35(CycleRecord* r, NcRecord* o) {
    return layerOutput(35, 0, r, o);
}
int pofChannel36(CycleRecord* r, NcRecord* o) {
    return layerOutput(36, 0, r, o);
}

int traceChannel3(CycleRecord* r, NcRecord*) {
    return marker(r, "3: ---\n");
}
int traceChannel4(CycleRecord* r, NcRecord*) {
    return marker(r, "4: ---\n");
}
int traceChannel5(CycleRecord* r, NcRecord*) {
    return marker(r, "5: ---\n");
}
int traceChannel6(CycleRecord* r, NcRecord*) {
    return marker(r, "6: ---\n");
}

int traceChannel30(CycleRecord* record, NcRecord* output) {
    if (!output || ncRecGetI32(output, KVNC_TYPE) != 3104) return 1;
    std::string s;
    if (ncRecGetI32(output, KVNC_TRACE_FLAG) == 1) s = " s[" + fixed(ncRecGetF64(output, KVNC_TRACE_W)) + "]";
    fprintf(traceFile(record), "30: oP( x[%s] y[%s] z[%s]%s u[d] )\n",
            fixed(ncRecGetF64(output, KVNC_TRACE_X)).c_str(),
            fixed(ncRecGetF64(output, KVNC_TRACE_Y)).c_str(),
            fixed(ncRecGetF64(output, KVNC_TRACE_Z)).c_str(), s.c_str());
    return 1;
}

FILE* pofOpenedFile(const CycleRecord* record) {
    for (const auto& entry : gOpened) {
        if (entry.record == record) return entry.file;
    }
    return nullptr;
}

void pofResetState() {
    for (const Opened& entry : gOpened) closeFile(entry);
    gOpened.clear();
}
static const LoadReset gLoadReset(kRunResetNcOut, "pof", pofResetState);
