// Small file helpers for the kernel tests; tests run in their own working folder.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "workfolder.h"

inline void writeTestFile(const std::string& name, const std::string& content) {
    FILE* f = fopen(name.c_str(), "wb");
    if (!f) return;
    fwrite(content.data(), 1, content.size(), f);
    fclose(f);
}

inline std::string readTestFile(const std::string& name) {
    std::string text;
    FILE* f = fopen(name.c_str(), "rb");
    if (!f) return text;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    fclose(f);
    return text;
}

struct CommandResult {
    int exitCode;        // -1 when the command could not run or did not exit normally
    std::string output;  // standard output and error together
};

inline CommandResult runCommand(const std::string& command) {
    CommandResult r{-1, ""};
    FILE* p = popen((command + " 2>&1").c_str(), "r");
    if (!p) return r;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.output.append(buf, n);
    int status = pclose(p);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}
