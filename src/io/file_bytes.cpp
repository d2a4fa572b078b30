#include "io/file_bytes.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "model/errors.h"

namespace fs = std::filesystem;

namespace kelmar {

namespace {

std::string ReplacePlaceholder(const char* format, const std::string& text) {
    std::string message = format;
    message.replace(message.find("%s"), 2, text);
    return message;
}

}  // namespace

fs::path PathOf(const std::string& utf8Name) { return fs::path(std::u8string(utf8Name.begin(), utf8Name.end())); }

std::string Utf8Name(const fs::path& path) {
    const std::u8string name = path.u8string();
    return std::string(name.begin(), name.end());
}

std::optional<std::string> ReadDataFile(const std::string& fileName, const char* notFoundFormat,
                                        Notifier& notifier) {
    const fs::path path = PathOf(fileName);
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (!fs::exists(status) || fs::is_directory(status)) {
        notifier.Warning(ReplacePlaceholder(notFoundFormat, fileName));
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.is_open() || in.bad()) throw KelmarError("Cannot read the file \"" + fileName + "\".");
    return bytes;
}

}  // namespace kelmar
