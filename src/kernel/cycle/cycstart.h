// Starting a cycle record: the library's attach and detach, class
// initialisation along the parent chain, the argument vector and the
// parameter reading.
#pragma once

#include <cstdint>

#include "kernel/cycle/cycle.h"

// Reasons of the attach hook.
enum : int32_t {
    kDetachProcess = 0,
    kAttachProcess = 1,
    kAttachThread = 2,
    kDetachThread = 3,
};

// The library's attach hook: fills the core library's folder on attach, then
// cycleDllAttach. Returns 1.
int cycleDllMain(void* module, int32_t reason, void* reserved);
// Keeps the module handle, and the module's file name while attached. Returns 1.
int cycleDllAttach(void* module, int32_t reason, void* reserved);
const char* cycleModulePath();  // null when detached or unknown
void* cycleModuleHandle();

// Starts a record; nonzero when started, 0 when not. The host path passes
// parentStart 0; a record starting its parent passes 1.
int cycleStart(CycleRecord* record, char** argv, uint16_t argc, int parentStart);

// The record's version text: "5.0-25.03.1999", "1.01-16.06.2003". Returns the length.
int cycleVersionText(const CycleRecord* record, char* text, size_t size);
// The release text handed to the core library: the library's compiled-in file
// version, else the record's version text.
int cycleReleaseText(const CycleRecord* record, char* text, size_t size);

// Slot 2 or 3 by the parameter file's kind, then the "cfgFile" word pairs;
// signals 121 and 129. Returns the slot's result.
int cycleReadParameters(CycleRecord* record);
int rootReadParameters(CycleRecord* record);  // root slot 2; 1
int rootReadCfg(CycleRecord* record);         // root slot 3; 1

// One column of a frame from the list: mode 1 takes the first node of the
// name, mode 0 every node in list order (the last valid one counts). An axis
// is normalised and needs a length above 1e-8; an origin is taken as it is.
void readFrameAxis(const KvList* list, const char* name, int mode, double* x, double* y, double* z);
void readFrameOrigin(const KvList* list, const char* name, int mode, double* x, double* y, double* z);
void defaultToolFrameVariables(CycleRecord* record);

// Copies a text file to standard output in chunks of at most lineLength - 1 characters.
void copyFileToStdout(const char* fileName, int lineLength);

void cycleStartResetState();  // parent-start flag cleared
