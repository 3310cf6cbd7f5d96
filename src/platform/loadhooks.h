// Functions run when the shared object that holds them is loaded into a
// process and when it is unloaded (the platform's attach and detach).
#pragma once

#define KV_ON_LOAD __attribute__((constructor))
#define KV_ON_UNLOAD __attribute__((destructor))
