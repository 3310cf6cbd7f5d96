#include "kernel/ncout/record.h"

void cycleSignal(CycleRecord* record, int32_t signal) {
    if (record && record->signalFn) record->signalFn(record, signal, record->signalData);
}
