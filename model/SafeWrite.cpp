#include "model/SafeWrite.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

bool exists(const std::string& path) {
    std::error_code ec;
    return fs::symlink_status(path, ec).type() != fs::file_type::not_found && !ec;
}

// A name beside `path` that names nothing yet, so no file of the user's is overwritten.
std::string freeNameBeside(const std::string& path, const char* suffix) {
    std::string candidate = path + suffix;
    for (int i = 1; exists(candidate); ++i) candidate = path + suffix + std::to_string(i);
    return candidate;
}

void setError(std::string* error, const std::string& text) {
    if (error) *error = text;
}

}  // namespace

bool writeFileSafely(const std::string& path, const std::function<bool(std::FILE*)>& write,
                     std::string* error) {
    std::error_code ec;
    if (fs::is_directory(path, ec)) {
        setError(error, path + ": is a folder");
        return false;
    }
    const std::string temporary = freeNameBeside(path, ".tmp");
    std::FILE* file = std::fopen(temporary.c_str(), "wt");
    if (!file) {
        setError(error, path + ": cannot create " + temporary + ": " + std::strerror(errno));
        return false;
    }
    bool ok = write(file);
    ok = !std::ferror(file) && ok;
    // fflush and fclose report a full disk that buffered writes hid until now.
    ok = std::fflush(file) == 0 && ok;
    const int savedErrno = errno;
    ok = std::fclose(file) == 0 && ok;
    if (!ok) {
        std::remove(temporary.c_str());
        setError(error, path + ": writing failed: " + std::strerror(savedErrno ? savedErrno : EIO));
        return false;
    }
    fs::rename(temporary, path, ec);
    if (ec) {
        std::remove(temporary.c_str());
        setError(error, path + ": cannot replace: " + ec.message());
        return false;
    }
    return true;
}

std::string keepAside(const std::string& path) {
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) return "";
    const std::string aside = freeNameBeside(path, ".unread");
    fs::rename(path, aside, ec);
    return ec ? "" : aside;
}
