// Scratch files for the model tests: one folder per test under the system's temporary
// folder, removed again when the test ends, so tests may run in parallel.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

class TempFolder {
public:
    TempFolder() {
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder = std::filesystem::temp_directory_path() /
                 (std::string("dazirudo-") + info->test_suite_name() + "-" + info->name());
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    std::string path(const std::string& name) const { return (folder / name).string(); }
    const std::filesystem::path& root() const { return folder; }

private:
    std::filesystem::path folder;
};

// Whole file, read in the given mode ("rb" for the bytes on disk, "rt" for the text).
inline std::string readWhole(const std::string& path, const char* mode = "rb") {
    std::string text;
    std::FILE* file = std::fopen(path.c_str(), mode);
    if (!file) return text;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
    std::fclose(file);
    return text;
}

// Writes `bytes` exactly as given (binary), so a test controls every line end.
inline void writeBytes(const std::string& path, const std::string& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << path;
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
}

// The bytes that text mode puts on disk for `text` on this platform.
inline std::string onDisk(const std::string& text) {
#ifdef _WIN32
    std::string bytes;
    for (char c : text) {
        if (c == '\n') bytes += '\r';
        bytes += c;
    }
    return bytes;
#else
    return text;
#endif
}
