// Event-driven reading of exchange files: default handlers for values and
// scopes, one object handler, and a method handler that reads a body left in
// the file. The first byte: bit 0 puts a valid header in front.
#include <unistd.h>

#include <cstdio>

#include "fuzzhelp.h"
#include "kernel/base/kvx/kvxevent.h"

namespace {

constexpr char kHeader[] = "kVX-Exchange-File\nkVX-Version: 1.0\nevents\n;\n";

int onPoint(KvxRecord* record, KvxObjData* data, void* user) {
    ++*static_cast<int*>(user);
    return kvxDefaultAccept(record, data, user);
}

// Reads some of a body that stayed in the file, as a caller is free to.
int onMethod(KvxRecord* record, KvxObjData*, void* user) {
    ++*static_cast<int*>(user);
    if (record->file)
        for (int i = 0; i < 64 && getc(record->file) != EOF; ++i) {
        }
    return 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzBytes in{data, size};
    std::string text = in.u8() & 1 ? kHeader : "";
    text.append(reinterpret_cast<const char*>(in.data), in.size);
    std::string file =
        fuzzWriteFile("events.kvx", reinterpret_cast<const uint8_t*>(text.data()), text.size());
    int calls = 0;
    KvxHandlerTable* table = kvxHandlerTableCreate(&calls, nullptr, nullptr, nullptr);
    fuzzCheck(table != nullptr, "no table");
    fuzzCheck(kvxOnObject(table, "Point", onPoint) == 1 && kvxOnMethod(table, "Run", onMethod) == 1 &&
                  kvxOnMethod(table, "Big", onMethod) == 1,
              "a handler was refused");
    kvxParseWithHandlers(file.c_str(), table, nullptr);
    kvxHandlerTableFree(table);
    unlink("QJW.TXT");
    return 0;
}
