// Small file helpers for the kernel tests; tests run in their own working folder.
#pragma once

#include <cstdio>
#include <string>

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
