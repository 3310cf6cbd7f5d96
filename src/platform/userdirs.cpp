#include "platform/userdirs.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

// Relative XDG values are to be ignored: they would depend on the current folder.
std::string absoluteEnv(const char* name) {
    const char* value = getenv(name);
    return value && value[0] == '/' ? std::string(value) : std::string();
}

std::string homeBased(const char* xdgName, const char* homeTail) {
    std::string dir = absoluteEnv(xdgName);
    if (!dir.empty()) return dir;
    const char* home = getenv("HOME");
    if (!home || !*home) return {};
    return std::string(home) + homeTail;
}

bool isFolder(const std::string& path) {
    struct stat st = {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

std::string userdirsUserData() {
    return homeBased("XDG_DATA_HOME", "/.local/share");
}

std::string userdirsUserConfig() {
    return homeBased("XDG_CONFIG_HOME", "/.config");
}

std::string userdirsCommonData() {
    const char* dirs = getenv("XDG_DATA_DIRS");
    if (dirs) {
        for (const char* p = dirs; *p;) {
            const char* end = strchr(p, ':');
            size_t n = end ? size_t(end - p) : strlen(p);
            if (n > 0 && p[0] == '/') return std::string(p, n);
            if (!end) break;
            p = end + 1;
        }
    }
    return "/usr/local/share";
}

int userdirsMakePath(const char* path) {
    if (!path || !*path) return 0;
    std::string full(path);
    while (full.size() > 1 && full.back() == '/') full.pop_back();
    // Each level by its whole path from the start, so the current folder never matters or moves.
    for (size_t pos = full.find('/', 1); pos != std::string::npos; pos = full.find('/', pos + 1)) {
        std::string level = full.substr(0, pos);
        if (mkdir(level.c_str(), 0777) != 0 && errno != EEXIST) return 0;
    }
    if (mkdir(full.c_str(), 0777) != 0 && errno != EEXIST) return 0;
    return isFolder(full) ? 1 : 0;
}

std::string userdirsExpandVars(const char* text) {
    std::string out;
    if (!text) return out;
    for (const char* p = text; *p;) {
        if (*p != '%') {
            out += *p++;
            continue;
        }
        const char* close = strchr(p + 1, '%');
        if (close && close > p + 1) {
            std::string name(p + 1, close);
            if (const char* value = getenv(name.c_str())) {
                out += value;
                p = close + 1;
                continue;
            }
        }
        // Not a set variable: keep this "%" and let the next one open a name of its own.
        out += *p++;
    }
    return out;
}
