// The run's cancel test: long loops in every layer ask it between steps; the running cycle
// installs the hook that reads the host's signal word.
#pragma once

// The abort poll of long computations: a nonzero answer makes them return -2.
using AbortHook = int (*)();
void setAbortHook(AbortHook hook);  // null removes it
int callAbortHook();                // 0 when no hook is installed
