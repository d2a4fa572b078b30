#include "io/file_bytes.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "model/errors.h"

namespace fs = std::filesystem;

namespace kelmar {

namespace {

[[noreturn]] void ThrowWriteError(const std::string& fileName, const std::string& reason) {
    throw KelmarError("Cannot write the file \"" + fileName + "\" (" + reason + "); it was left as it was.");
}

// A link is replaced at the file it points to, so the link itself stays.
fs::path ResolvedTarget(const fs::path& path) {
    std::error_code ec;
    if (!fs::is_symlink(path, ec)) return path;
    const fs::path resolved = fs::canonical(path, ec);
    return ec ? path : resolved;
}

// A name in the target's folder that no file has yet.
fs::path FreeTemporaryName(const fs::path& target) {
    constexpr int ATTEMPTS = 1000;  // far more than writers that could be at work in one folder at once
    for (int n = 1; n <= ATTEMPTS; ++n) {
        fs::path candidate = target;
        candidate += ".";
        candidate += std::to_string(n);
        candidate += ".tmp";
        std::error_code ec;
        if (!fs::exists(fs::symlink_status(candidate, ec))) return candidate;
    }
    return {};
}

}  // namespace

fs::path PathOf(const std::string& utf8Name) { return fs::path(std::u8string(utf8Name.begin(), utf8Name.end())); }

std::string Utf8Name(const fs::path& path) {
    const std::u8string name = path.u8string();
    return std::string(name.begin(), name.end());
}

void WriteFileAtomically(const std::string& fileName, std::string_view bytes) {
    const fs::path target = ResolvedTarget(PathOf(fileName));
    const fs::path temporary = FreeTemporaryName(target);
    if (temporary.empty()) ThrowWriteError(fileName, "no free temporary name in its folder");
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out.is_open()) ThrowWriteError(fileName, "no new file can be created in its folder");
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (out.fail()) {
            std::error_code ignored;
            fs::remove(temporary, ignored);
            ThrowWriteError(fileName, "writing failed, the disk may be full");
        }
    }
    std::error_code ec;
    const fs::file_status old = fs::status(target, ec);
    if (fs::is_regular_file(old)) fs::permissions(temporary, old.permissions(), ec);
    fs::rename(temporary, target, ec);
    if (ec) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        ThrowWriteError(fileName, ec.message());
    }
}

}  // namespace kelmar
