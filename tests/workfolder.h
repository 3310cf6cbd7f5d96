// Every test binary that includes this header runs its tests in a fresh folder under the system's
// temporary folder, removed at the end: the library writes fixed file names into the working folder,
// and the tests' scratch files go there too, wherever the binary is started from.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

class WorkFolderEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        std::error_code ec;
        home_ = std::filesystem::current_path(ec);
        ASSERT_FALSE(ec) << ec.message();
        const std::filesystem::path tmp = std::filesystem::temp_directory_path(ec);
        ASSERT_FALSE(ec) << ec.message();
        const std::string pattern = (tmp / "kvtestXXXXXX").string();
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        ASSERT_NE(mkdtemp(buf.data()), nullptr) << pattern;
        path_ = buf.data();
        std::filesystem::current_path(path_, ec);
        ASSERT_FALSE(ec) << path_ << ": " << ec.message();
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::current_path(home_, ec);
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }

  private:
    std::filesystem::path home_;
    std::string path_;
};

// One registration per binary, however many of its files include this.
inline ::testing::Environment* const kWorkFolderEnvironment =
    ::testing::AddGlobalTestEnvironment(new WorkFolderEnvironment);
