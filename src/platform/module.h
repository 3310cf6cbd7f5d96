// Module services: the library's own file, and run-time loading of companion
// libraries by path and entry name.
#pragma once

#include <string>

// Full path of the file that holds this code (symbolic links resolved); empty when unknown.
std::string moduleFileName();

// 1 when this code was linked into the running program itself, 0 when it was loaded as a library.
int moduleIsProgram();

// Handle of this module: the address at which its file is mapped; null when unknown.
void* moduleHandle();

// Folder of moduleFileName() with a trailing '/'; empty when unknown.
std::string moduleDirectory();

// Loads a shared library; null on failure. Each successful load must be undone by moduleUnload.
void* moduleLoad(const char* path);

// Address of an exported entry of a loaded library; null when the library or entry is missing.
void* moduleEntry(void* handle, const char* name);

// Handle of the running process: its entries are those the executable exports and every library
// loaded into the global scope. Never unloaded; null when unknown.
void* moduleProcessHandle();

// Releases one load of the library; 1 on success, 0 otherwise.
int moduleUnload(void* handle);
