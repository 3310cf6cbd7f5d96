// Starting other programs from a command line, and waiting for them.
#pragma once

#include <cstdint>

// Splits a command line into words and starts the first word as a program
// (searched in PATH when it holds no '/'), with the process's environment.
// Blanks and tabs separate words; double quotes group blanks into a word and
// are removed; \" is a literal quote. No shell sees the line. Returns the
// process id, 0 when the line is empty or the program cannot be started.
int32_t spawnStart(const char* commandLine);

// Waits until a process started by spawnStart ends. 1 with its exit code (128 +
// the signal number when a signal ended it; null allowed), -1 when it is not a
// child of this process (already waited for, or reaped by the host).
int spawnWait(int32_t pid, int* exitCode);
