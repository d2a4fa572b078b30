// Temporary folders and whole-file helpers for the file-format tests.
#pragma once

#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "model/errors.h"

namespace kelmar::testing {

// A fresh folder under the system's temporary folder, removed with its
// contents at the end of the test. Its path holds no full stop.
class TempDir {
public:
    TempDir() {
        std::random_device random;
        for (;;) {
            Path = std::filesystem::temp_directory_path() / ("kelmar-io-test-" + std::to_string(random()));
            if (std::filesystem::create_directory(Path)) break;
        }
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(Path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The path of `name` inside the folder, as the program passes file names.
    std::string File(const std::string& name) const { return (Path / name).string(); }
    const std::filesystem::path& Folder() const { return Path; }

private:
    std::filesystem::path Path;
};

// The message of the KelmarError that `action` raises, or "" when it raises none.
inline std::string ErrorText(const std::function<void()>& action) {
    try {
        action();
    } catch (const KelmarError& e) {
        return e.what();
    }
    return "";
}

inline std::string ReadBytes(const std::string& fileName) {
    std::ifstream in(fileName, std::ios::binary);
    EXPECT_TRUE(in.is_open()) << "cannot open " << fileName;
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::string& fileName, const std::string& bytes) {
    std::ofstream out(fileName, std::ios::binary);
    out << bytes;
    ASSERT_TRUE(out.good()) << "cannot write " << fileName;
}

// The names in a folder, to show that a writer left no temporary file behind.
inline int EntryCount(const std::filesystem::path& folder) {
    int n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++n;
    return n;
}

}  // namespace kelmar::testing
