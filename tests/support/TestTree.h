#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/TestSupport.h"

namespace vigil::test {

// The whole text of a file ("" when it cannot be read).
inline std::string readText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A private, writable copy of a fixture machine (or an empty tree) in a temporary folder, removed
// when the test ends. Tests change files in it between samples.
class TempTree {
  public:
    explicit TempTree(const std::string& fixture = "") {
        char pattern[] = "/tmp/vigil-tree-XXXXXX";
        root = ::mkdtemp(pattern);
        if (!fixture.empty()) {
            // Links are copied as links: sysfs trees hold cycles (a card's "device" link).
            std::filesystem::copy(fixturePath(fixture), root,
                                  std::filesystem::copy_options::recursive |
                                      std::filesystem::copy_options::copy_symlinks);
        }
    }
    ~TempTree() {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;

    std::string path(const std::string& rel) const { return root + "/" + rel; }
    void write(const std::string& rel, const std::string& text) const {
        std::filesystem::create_directories(std::filesystem::path(path(rel)).parent_path());
        std::ofstream(path(rel), std::ios::trunc) << text;
    }
    void remove(const std::string& rel) const {
        std::error_code ignored;
        std::filesystem::remove_all(path(rel), ignored);
    }

    std::string root;
};

}  // namespace vigil::test
