#include "app/results_file_name.h"

#include <filesystem>

#include "io/file_bytes.h"

namespace kelmar {

namespace {

namespace fs = std::filesystem;

constexpr const char* RESULTS_EXTENSION = ".csv";
constexpr int NAME_SEARCH_LIMIT = 1024;

// The extension of the file part: from its last full stop, dot included.
std::string Extension(const fs::path& name) {
    const std::string file = Utf8Name(name.filename());
    const auto dot = file.rfind('.');
    return dot == std::string::npos ? std::string() : file.substr(dot);
}

std::string Stem(const fs::path& name) {
    const std::string file = Utf8Name(name.filename());
    return file.substr(0, file.rfind('.'));
}

}  // namespace

std::string ResultsFileName(const std::string& chosenName) {
    fs::path name = PathOf(chosenName);
    if (Extension(name) != RESULTS_EXTENSION) name += RESULTS_EXTENSION;
    const fs::path folder = name.parent_path();
    for (int k = 1; k <= NAME_SEARCH_LIMIT; ++k) {
        std::error_code error;
        if (fs::exists(name, error))
            name = folder / PathOf(Stem(name) + std::to_string(k) + RESULTS_EXTENSION);
    }
    return Utf8Name(name);
}

}  // namespace kelmar
