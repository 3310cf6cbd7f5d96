// The two mesh conversion libraries, loaded by name for one call each: trimmed surfaces of an
// exchange file into a 3df facet file, or into Polyhedron objects of an exchange file.
#pragma once

#include <string>

// File names of the libraries, found in the given folder or else beside this module.
constexpr char kKvx3dfDllName[] = "libkvx3dfdll.so";
constexpr char kKvx3dfMtName[] = "libkvx3dfmt.so";

// Entries, with the C calling convention.
extern "C" {
typedef int (*FacetKvxFileFn)(const char* input, double tolerance, const char* output, int mode);
typedef int (*FacetKvxFile2Fn)(const char* input, double tolerance, const char* output, int mode, int flag);
}

// The entry's result (negative: the output was not written), or -1 when the library or its entry
// is missing. Only the load made by the call is released again.
int loadMeshHelperLib(const char* input, const char* output, const char* folder, double tolerance);
int kvx_to_facets(const char* input, const char* output, const char* folder, double tolerance);

// While kept (on = 1), loadMeshHelperLib remembers the files it wrote: a later call with the same
// library file, input bytes and tolerance writes the remembered bytes instead of converting again
// (the conversion depends on nothing else). on = 0 forgets them and stops keeping.
void meshLibKeepConversions(int on);

// The path of a library: folder + "/" + name when the folder is given, not empty and does not
// begin with a blank (no "/" added after a trailing "/" or "\\"); else the name in this module's
// folder.
std::string meshLibPath(const char* folder, const char* name);
