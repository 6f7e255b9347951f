#include "model/SafeWrite.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <random>
#include <system_error>
#include <thread>

#include "geo/OutOfMemory.h"

// The C runtime's descriptors: exclusive creation, flushing to the disk and permission
// bits have no portable spelling in the standard library.
#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

// ---- the operating system's part ---------------------------------------------------------

// A new file that no one else has opened: -1 with errno EEXIST when the name is taken.
// `ownerOnly` keeps text that replaces a file of unknown permissions from being readable
// by others while it is written; the final mode is set afterwards.
int createExclusive(const std::string& path, bool ownerOnly) {
#ifdef _WIN32
    (void)ownerOnly;  // Windows has no such bits; the folder's access rules apply
    return _open(path.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_TEXT | _O_NOINHERIT,
                 _S_IREAD | _S_IWRITE);
#else
    return open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, ownerOnly ? 0600 : 0666);
#endif
}

// A text-mode stream on the descriptor, which it then owns; null on failure.
std::FILE* textStream(int descriptor) {
#ifdef _WIN32
    return _fdopen(descriptor, "wt");
#else
    return fdopen(descriptor, "w");
#endif
}

void closeDescriptor(int descriptor) {
#ifdef _WIN32
    _close(descriptor);
#else
    close(descriptor);
#endif
}

// Written data must be on the disk before the rename makes it the file, or a power cut
// could leave the new name on an empty file.
bool flushToDisk(std::FILE* file) {
#ifdef _WIN32
    return _commit(_fileno(file)) == 0;
#else
    return fsync(fileno(file)) == 0;
#endif
}

// The permission bits of the regular file at `path`, or -1 when there is none (and always
// on Windows, which keeps none).
int modeOf(const std::string& path) {
#ifdef _WIN32
    (void)path;
    return -1;
#else
    struct stat info;
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return -1;
    // Read, write and execute for owner, group and others; set-id bits are not carried
    // over to a data file.
    return static_cast<int>(info.st_mode & 0777);
#endif
}

bool setMode(std::FILE* file, int mode) {
#ifdef _WIN32
    (void)file;
    (void)mode;
    return true;
#else
    return fchmod(fileno(file), static_cast<mode_t>(mode)) == 0;
#endif
}

// Renames `from` over `to`. Windows refuses to replace a file that someone has open, if
// only for a moment (another run's rename, a reader at its start, a virus scanner): there
// the rename is tried again for a while before it counts as failed.
void renameOver(const fs::path& from, const fs::path& to, std::error_code& ec) {
    fs::rename(from, to, ec);
#ifdef _WIN32
    for (int wait = 1; ec == std::errc::permission_denied && wait <= 512; wait *= 2) {
        std::this_thread::sleep_for(std::chrono::milliseconds(wait));
        fs::rename(from, to, ec);
    }
#endif
}

// The rename is a change of the folder, which reaches the disk only with the folder.
void flushFolder(const fs::path& folder) {
#ifdef _WIN32
    (void)folder;
#else
    const int descriptor = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0) return;
    fsync(descriptor);
    close(descriptor);
#endif
}

// ---- temporary files ---------------------------------------------------------------------

constexpr int temporaryNameAttempts = 100;

// The temporary being written by this thread, if any: the out-of-memory handler closes
// (Windows removes no open file) and removes it, so that ending the process there leaves
// nothing behind.
thread_local std::string temporaryInProgress;
thread_local std::FILE* temporaryStream = nullptr;

void removeTemporaryInProgress() {
    if (temporaryStream) std::fclose(temporaryStream);
    temporaryStream = nullptr;
    if (!temporaryInProgress.empty()) std::remove(temporaryInProgress.c_str());
}

std::string randomTemporaryName() {
    thread_local std::mt19937 generator = [] {
        std::random_device device;
        const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
        std::seed_seq seed{device(), device(), static_cast<unsigned>(now),
                           static_cast<unsigned>(now >> 32)};
        return std::mt19937(seed);
    }();
    char name[16];
    std::snprintf(name, sizeof name, ".dz%08lx.tmp", static_cast<unsigned long>(generator()));
    return name;
}

fs::path folderOf(const fs::path& target) {
    const fs::path folder = target.parent_path();
    return folder.empty() ? fs::path(".") : folder;
}

// An exclusively created temporary file in `folder`, removed again unless committed.
class Temporary {
public:
    Temporary(const fs::path& folder, bool ownerOnly) {
        for (int attempt = 0; attempt < temporaryNameAttempts; ++attempt) {
            // Named before it exists, so the out-of-memory handler can never miss it.
            temporaryInProgress = (folder / randomTemporaryName()).string();
            const int descriptor = createExclusive(temporaryInProgress, ownerOnly);
            if (descriptor < 0) {
                const int reason = errno;
                temporaryInProgress.clear();
                errno = reason;
                if (reason == EEXIST) continue;  // another writer's, or a clash of names
                return;
            }
            path = temporaryInProgress;
            file = temporaryStream = textStream(descriptor);
            if (!file) {
                const int reason = errno;
                closeDescriptor(descriptor);
                discard();
                errno = reason;
            }
            return;
        }
    }
    ~Temporary() { discard(); }
    Temporary(const Temporary&) = delete;
    Temporary& operator=(const Temporary&) = delete;

    // False when closing reported an error, such as a full disk that buffering had hidden.
    bool close() {
        const bool closed = std::fclose(file) == 0;
        file = temporaryStream = nullptr;
        return closed;
    }
    // The file now has its final name: nothing to remove any more.
    void committed() {
        path.clear();
        temporaryInProgress.clear();
    }

    std::FILE* file = nullptr;
    std::string path;

private:
    void discard() {
        if (file) std::fclose(file);
        file = temporaryStream = nullptr;
        if (!path.empty()) std::remove(path.c_str());
        committed();
    }
};

// Temporaries of runs that were killed while writing: older than any write takes.
void removeStaleTemporaries(const fs::path& folder) {
    const auto limit =
        fs::file_time_type::clock::now() - std::chrono::minutes(staleTemporaryMinutes);
    std::error_code ec;
    for (fs::directory_iterator entry(folder, ec), end; !ec && entry != end; entry.increment(ec)) {
        if (!isWriterTemporary(entry->path().filename().string())) continue;
        std::error_code entryError;
        const bool regular = entry->is_regular_file(entryError);
        const auto written = entry->last_write_time(entryError);
        if (!entryError && regular && written < limit) fs::remove(entry->path(), entryError);
    }
}

std::string cannotCreateMessage(const std::string& path, int reason) {
    return path + ": cannot create a file in its folder: " + std::strerror(reason);
}

// ---- keeping the old file ----------------------------------------------------------------

// "<target><suffix>", its file name cut short where needed so that it stays a legal name
// of at most 255 bytes (not inside a UTF-8 sequence).
fs::path besideName(const fs::path& target, const std::string& suffix) {
    constexpr std::size_t longestName = 255;
    std::string name = target.filename().string();
    if (name.size() + suffix.size() > longestName) {
        std::size_t keep = longestName - suffix.size();
        while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) --keep;
        name.resize(keep);
    }
    return target.parent_path() / (name + suffix);
}

// Gives the file at `target` a second name "<target>.unread", ".unread1", ... that named
// nothing, and leaves it at `target` too, so the folder never lacks the target. Where the
// file system has no hard links the file is renamed instead, and `moved` says so. "" when
// neither can be done.
std::string keepBeside(const fs::path& target, bool& moved) {
    moved = false;
    for (int i = 0; i < 10000; ++i) {
        const fs::path aside = besideName(target, ".unread" + (i ? std::to_string(i) : ""));
        std::error_code ec;
        fs::create_hard_link(target, aside, ec);
        if (!ec) return aside.string();
        // A link refuses to replace a name, so this is an older file's: try the next.
        if (fs::symlink_status(aside, ec).type() != fs::file_type::not_found) continue;
        fs::rename(target, aside, ec);
        if (ec) return "";
        moved = true;
        return aside.string();
    }
    return "";
}

}  // namespace

void setError(std::string* error, const std::string& text) {
    if (error) *error = text;
}

bool isWriterTemporary(const std::string& fileName) {
    if (fileName.size() != 15 || fileName.compare(0, 3, ".dz") != 0 ||
        fileName.compare(11, 4, ".tmp") != 0)
        return false;
    for (std::size_t i = 3; i < 11; ++i) {
        const char c = fileName[i];
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    return true;
}

bool canWriteFile(const std::string& path, std::string* error) {
    std::error_code ec;
    if (fs::is_directory(path, ec)) {
        setError(error, path + ": is a folder");
        return false;
    }
    Temporary probe(folderOf(path), true);
    if (!probe.file) {
        setError(error, cannotCreateMessage(path, errno));
        return false;
    }
    return true;
}

bool writeFileSafely(const std::string& path, const std::function<bool(std::FILE*)>& write,
                     std::string* error, const KeepReason& keepReason, std::string* keptAs) {
    static const bool cleanupSet = (setOutOfMemoryCleanup(removeTemporaryInProgress), true);
    (void)cleanupSet;
    const fs::path target(path);
    const fs::path folder = folderOf(target);
    std::error_code ec;
    if (fs::is_directory(target, ec)) {
        setError(error, path + ": is a folder");
        return false;
    }
    removeStaleTemporaries(folder);
    const int oldMode = modeOf(path);
    Temporary temporary(folder, oldMode >= 0);
    if (!temporary.file) {
        setError(error, cannotCreateMessage(path, errno));
        return false;
    }
    errno = 0;
    bool ok = write(temporary.file) && !std::ferror(temporary.file);
    // fflush, the flush to the disk and fclose report a full disk that buffering hid.
    ok = ok && std::fflush(temporary.file) == 0 && flushToDisk(temporary.file);
    ok = ok && (oldMode < 0 || setMode(temporary.file, oldMode));
    const int failure = errno;
    ok = temporary.close() && ok;
    if (!ok) {
        const int reason = failure ? failure : errno ? errno : EIO;
        setError(error, path + ": writing failed: " + std::strerror(reason));
        return false;
    }

    // Only now, with the new text safe, is the old file kept: a failed write above must
    // leave the folder as it was.
    const std::string reason = keepReason ? keepReason() : std::string();
    bool moved = false;
    std::string aside;
    if (!reason.empty()) {
        aside = keepBeside(target, moved);
        if (aside.empty()) {
            setError(error, path + ": " + reason + " and could not be kept aside; not replaced");
            return false;
        }
    }
    renameOver(temporary.path, target, ec);
    if (ec) {
        std::error_code ignored;
        if (moved)
            fs::rename(aside, target, ignored);
        else if (!aside.empty())
            fs::remove(aside, ignored);  // only the second name: the file stays at the target
        setError(error, path + ": cannot replace: " + ec.message());
        return false;
    }
    temporary.committed();
    flushFolder(folder);
    if (keptAs) *keptAs = aside;
    return true;
}
