#pragma once
// A fresh folder under the system's temporary folder, removed with its
// contents at the end of the test.
#include <stdlib.h>

#include <filesystem>
#include <string>

namespace korvex::test {

class TempDir {
public:
    explicit TempDir(const std::string& prefix = "korvex-test") {
        std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
        if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

}  // namespace korvex::test
