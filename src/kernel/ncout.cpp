#include "kernel/ncout.h"

#include <cstdio>
#include <string>

#include "kernel/ncemit.h"

namespace {

CycleRecord* gWriter = nullptr;

}  // namespace

void ncSetWriter(CycleRecord* cycle) {
    gWriter = cycle;
}

CycleRecord* ncGetWriter() {
    return gWriter;
}

int ncReportError(int32_t code, const char* text) {
    if (!gWriter) return 0;
    std::string message = std::to_string(code);
    if (text) message += std::string(",") + text;
    if (message.size() > 128) message.resize(127);
    return ncError(gWriter, message.c_str());
}

void ncOutResetState() {
    gWriter = nullptr;
}
