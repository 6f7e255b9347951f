// The programs write their files into the folder they run in: a test that lets them do so
// runs in a folder of its own and goes back when it ends.
#pragma once

#include <filesystem>

class InFolder {
public:
    explicit InFolder(const std::filesystem::path& folder)
        : before(std::filesystem::current_path()) {
        std::filesystem::current_path(folder);
    }
    ~InFolder() { std::filesystem::current_path(before); }
    InFolder(const InFolder&) = delete;
    InFolder& operator=(const InFolder&) = delete;

private:
    std::filesystem::path before;
};
