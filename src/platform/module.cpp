#include "platform/module.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>

#include <memory>

namespace {

// Any address inside this shared object identifies it to dladdr.
void moduleAnchor() {}

std::string resolveModuleFile() {
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&moduleAnchor), &info) || !info.dli_fname) return {};
    std::unique_ptr<char, decltype(&free)> real(realpath(info.dli_fname, nullptr), &free);
    return real ? std::string(real.get()) : std::string(info.dli_fname);
}

// Resolved once at load: the loader may report a path relative to the folder the process started in,
// which a later change of working folder would make point elsewhere.
const std::string gModuleFile = resolveModuleFile();

}  // namespace

std::string moduleFileName() {
    return gModuleFile.empty() ? resolveModuleFile() : gModuleFile;
}

void* moduleHandle() {
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&moduleAnchor), &info)) return nullptr;
    return info.dli_fbase;
}

int moduleIsProgram() {
    // Touches no static object: it is asked while the program's objects are being destroyed.
    Dl_info info{};
    void* map = nullptr;
    if (!dladdr1(reinterpret_cast<void*>(&moduleAnchor), &info, &map, RTLD_DL_LINKMAP)) return 0;
    void* program = dlopen(nullptr, RTLD_LAZY | RTLD_NOLOAD);
    if (!program) return 0;
    dlclose(program);
    return map == program ? 1 : 0;
}

std::string moduleDirectory() {
    std::string file = moduleFileName();
    size_t slash = file.rfind('/');
    return slash == std::string::npos ? std::string() : file.substr(0, slash + 1);
}

void* moduleLoad(const char* path) {
    if (!path || !*path) return nullptr;
    return dlopen(path, RTLD_NOW | RTLD_LOCAL);
}

void* moduleEntry(void* handle, const char* name) {
    if (!handle || !name) return nullptr;
    return dlsym(handle, name);
}

void* moduleProcessHandle() {
    static void* process = dlopen(nullptr, RTLD_NOW);
    return process;
}

int moduleUnload(void* handle) {
    return handle && dlclose(handle) == 0 ? 1 : 0;
}
