// Test helpers for code that reads the environment: settings folders are moved
// into a fresh folder so that no test reads or writes the user's real ones.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "workfolder.h"

// Sets or clears environment variables and puts the previous values back.
class ScopedEnv {
  public:
    ScopedEnv() = default;
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;
    ~ScopedEnv() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            if (it->second.first) {
                setenv(it->first.c_str(), it->second.second.c_str(), 1);
            } else {
                unsetenv(it->first.c_str());
            }
        }
    }
    void set(const char* name, const char* value) {
        const char* old = getenv(name);
        saved_.push_back({name, {old != nullptr, old ? old : ""}});
        if (value) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    void set(const char* name, const std::string& value) { set(name, value.c_str()); }

  private:
    std::vector<std::pair<std::string, std::pair<bool, std::string>>> saved_;
};

// A new empty folder (absolute path, no trailing '/') under the working folder, removed with the object.
class TempFolder {
  public:
    explicit TempFolder(const char* stem) {
        std::string pattern = std::filesystem::current_path().string() + "/" + stem + "XXXXXX";
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        if (mkdtemp(buf.data())) path_ = buf.data();
    }
    ~TempFolder() {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& tail) const { return path_ + "/" + tail; }

  private:
    std::string path_;
};
