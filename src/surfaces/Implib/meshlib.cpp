// Run-time loading of the mesh conversion libraries.
#include "surfaces/Implib/meshlib.h"

#include "platform/module.h"

std::string meshLibPath(const char* folder, const char* name) {
    if (folder != nullptr && folder[0] != '\0' && folder[0] != ' ') {
        std::string path = folder;
        const char last = path.back();
        if (last != '/' && last != '\\') path += '/';
        return path + name;
    }
    // The host's own folder, where the cycle library's companions are installed.
    return moduleDirectory() + name;
}

namespace {

template <typename Fn, typename Call>
int callEntry(const char* folder, const char* library, const char* entry, Call call) {
    const std::string path = meshLibPath(folder, library);
    void* handle = moduleLoad(path.c_str());
    if (handle == nullptr) return -1;
    auto fn = reinterpret_cast<Fn>(moduleEntry(handle, entry));
    const int result = fn != nullptr ? call(fn) : -1;
    moduleUnload(handle);
    return result;
}

}  // namespace

int loadMeshHelperLib(const char* input, const char* output, const char* folder, double tolerance) {
    return callEntry<FacetKvxFileFn>(folder, kKvx3dfDllName, "facet_kvx_file",
                                     [&](FacetKvxFileFn fn) { return fn(input, tolerance, output, 100); });
}

int kvx_to_facets(const char* input, const char* output, const char* folder, double tolerance) {
    return callEntry<FacetKvxFile2Fn>(folder, kKvx3dfMtName, "facet_kvx_file2", [&](FacetKvxFile2Fn fn) {
        return fn(input, tolerance, output, 111, 1);
    });
}
