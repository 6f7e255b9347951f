// Data safety of the written files: a write that fails leaves the previous file as it was,
// a second writer never shares the temporary, and a blob file the model does not hold
// exactly is never replaced without being kept aside.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "TempFile.h"
#include "geo/OutOfMemory.h"
#include "model/BlobFile.h"
#include "model/SafeWrite.h"
#include "model/VessikSpheres.h"
#include "sim/FloaterFile.h"

namespace fs = std::filesystem;

namespace {

// The user's file: the radius-only second line stops the reader, so the third blob never
// reaches the model.
const char* const halfReadable = "  10 0 0 0\n  20\n  30 5 5 5\n";
const char* const previous = "previous contents\n";

// Where a test's allocation goes, so that the compiler cannot leave it out.
void* volatile allocationSink = nullptr;

int entriesIn(const fs::path& folder) {
    int n = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        (void)entry;
        ++n;
    }
    return n;
}

bool writeText(const std::string& path, const std::string& text, std::string* error = nullptr) {
    return writeFileSafely(
        path,
        [&text](std::FILE* file) {
            return std::fwrite(text.data(), 1, text.size(), file) == text.size();
        },
        error);
}

#ifndef _WIN32
// Runs `body` in a forked child and returns its exit code, or -1 when it did not exit.
template <typename Body>
int inChild(Body body) {
    const pid_t pid = fork();
    if (pid == 0) _exit(body());
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

int modeOf(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? static_cast<int>(info.st_mode & 07777) : -1;
}
#endif

struct SafeWrite : ::testing::Test {
    TempFolder temp;
    VessikSpheres system{defaultIsoValue};
    geo::QList systems;
    SafeWrite() { systems.append(&system); }

    // A fresh folder for each case of a table.
    fs::path caseFolder() {
        const fs::path folder = temp.root() / std::to_string(folders++);
        fs::create_directory(folder);
        return folder;
    }
    int folders = 0;
};

}  // namespace

TEST_F(SafeWrite, IncompletelyReadFileIsKeptAsideBeforeBeingReplaced) {
    const std::string path = temp.path("model.dat");
    writeBytes(path, halfReadable);
    EXPECT_FALSE(system.readBlobFile(path.c_str()));
    ASSERT_TRUE(system.blobFileIncomplete);
    EXPECT_EQ(system.blobFilePath, fs::absolute(path).string());

    std::string error, notice;
    ASSERT_TRUE(writeBlobFile(systems, path.c_str(), &error, &notice)) << error;
    EXPECT_EQ(readWhole(path + ".unread"), halfReadable);
    EXPECT_EQ(notice, path + " was not fully read; it is kept as " + path + ".unread");
    EXPECT_EQ(readWhole(path, "rt"),
              "// New Implicit System\n//   Blobs = 2\n//   Stability = 0.90000\n"
              "  10.00000  0.00000  0.00000  0.00000\n  20.00000  0.00000  0.00000  0.00000\n");
    // The user's file is safe now: writing again replaces only what the program wrote.
    EXPECT_FALSE(system.blobFileIncomplete);
    ASSERT_TRUE(writeBlobFile(systems, path.c_str(), &error, &notice));
    EXPECT_EQ(notice, "");
    EXPECT_EQ(entriesIn(temp.root()), 2);
    EXPECT_EQ(readWhole(path + ".unread"), halfReadable);
}

// The same file under another spelling of its name is still the same file.
TEST_F(SafeWrite, SameFileUnderAnotherNameIsRecognised) {
    fs::create_directory(temp.root() / "sub");
    writeBytes(temp.path("model.dat"), halfReadable);
    system.readBlobFile(temp.path("sub/../model.dat").c_str());
    ASSERT_TRUE(system.blobFileIncomplete);
    ASSERT_TRUE(writeBlobFile(systems, temp.path("./model.dat").c_str()));
    EXPECT_EQ(readWhole(temp.path("model.dat.unread")), halfReadable);
}

// An older .unread file is never overwritten: the next free name is taken.
TEST_F(SafeWrite, KeepingAsideTakesTheNextFreeName) {
    const std::string path = temp.path("model.dat");
    writeBytes(path + ".unread", "older\n");
    writeBytes(path, halfReadable);
    system.readBlobFile(path.c_str());
    ASSERT_TRUE(writeBlobFile(systems, path.c_str()));
    EXPECT_EQ(readWhole(path + ".unread"), "older\n");
    EXPECT_EQ(readWhole(path + ".unread1"), halfReadable);
}

// An old blob file goes only when the model holds exactly what it holds; otherwise it is
// kept, and the notice says why. "Held" is checked by content, so an edit that keeps the
// size and the second of the modification time is seen too.
TEST_F(SafeWrite, OldBlobFileIsReplacedOnlyWhenTheModelHoldsIt) {
    const std::string one = "  10 0 0 0\n", edited = "  20 0 0 0\n";
    struct Case {
        const char* name;
        std::function<void(VessikSpheres&, geo::QList&, const std::string&)> before;
        const char* reason;  // "" when the old file may simply go
    };
    const Case cases[] = {
        {"read completely, unchanged",
         [&](VessikSpheres& s, geo::QList&, const std::string& p) {
             writeBytes(p, one);
             s.readBlobFile(p.c_str());
         },
         ""},
        {"read completely, then edited",
         [&](VessikSpheres& s, geo::QList&, const std::string& p) {
             writeBytes(p, one);
             s.readBlobFile(p.c_str());
             writeBytes(p, edited);
         },
         "has changed since it was read"},
        {"read in part",
         [&](VessikSpheres& s, geo::QList&, const std::string& p) {
             writeBytes(p, halfReadable);
             s.readBlobFile(p.c_str());
         },
         "was not fully read"},
        // A mistyped name gives the default blob; the blobs.dat there was never read.
        {"never read: the model came from a missing file",
         [&](VessikSpheres& s, geo::QList&, const std::string& p) {
             writeBytes(p, one);
             s.readBlobFile((p + "-typo").c_str());
             s.addBlob(30.0);
         },
         "is not the file the model was read from"},
        {"never read: the model came from another file",
         [&](VessikSpheres& s, geo::QList&, const std::string& p) {
             writeBytes(p + "-other", edited);
             s.readBlobFile((p + "-other").c_str());
             writeBytes(p, one);
         },
         "is not the file the model was read from"},
        {"never read, but it holds just what is written",
         [&](VessikSpheres& s, geo::QList& list, const std::string& p) {
             s.addBlob(30.0);
             writeBytes(p, onDisk(blobFileText(list)));
         },
         ""},
        {"written before, unchanged",
         [&](VessikSpheres& s, geo::QList& list, const std::string& p) {
             s.addBlob(30.0);
             ASSERT_TRUE(writeBlobFile(list, p.c_str()));
             s.addBlob(40.0);
         },
         ""},
        {"written before, then edited",
         [&](VessikSpheres& s, geo::QList& list, const std::string& p) {
             s.addBlob(30.0);
             ASSERT_TRUE(writeBlobFile(list, p.c_str()));
             writeBytes(p, edited);
         },
         "has changed since it was read"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path folder = caseFolder();
        const std::string path = (folder / "blobs.dat").string();
        VessikSpheres model(defaultIsoValue);
        geo::QList list;
        list.append(&model);
        c.before(model, list, path);
        const std::string before = readWhole(path);
        std::string error, notice;
        ASSERT_TRUE(writeBlobFile(list, path.c_str(), &error, &notice)) << error;
        EXPECT_EQ(readWhole(path, "rt"), blobFileText(list));
        if (*c.reason == '\0') {
            EXPECT_EQ(notice, "");
            EXPECT_FALSE(fs::exists(path + ".unread"));
        } else {
            EXPECT_EQ(notice, path + " " + c.reason + "; it is kept as " + path + ".unread");
            EXPECT_EQ(readWhole(path + ".unread"), before);
        }
    }
}

// A file that could not be opened at all is at stake as much as one read in part.
TEST_F(SafeWrite, FolderReadAsBlobFileIsNotReplaced) {
    const std::string path = temp.path("blobs.dat");
    fs::create_directory(path);
    EXPECT_FALSE(system.readBlobFile(path.c_str()));
    ASSERT_TRUE(system.blobFileIncomplete);
    system.addBlob(30.0);
    std::string error;
    EXPECT_FALSE(writeBlobFile(systems, path.c_str(), &error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(fs::is_directory(path));
    EXPECT_EQ(entriesIn(temp.root()), 1);
}

TEST_F(SafeWrite, PathThroughAFileFailsAndCreatesNothing) {
    writeBytes(temp.path("plain"), previous);
    system.addBlob(30.0);
    std::string error;
    EXPECT_FALSE(writeBlobFile(systems, temp.path("plain/blobs.dat").c_str(), &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(writeFloaterFile(systems, temp.path("plain/floaters.dat").c_str(), &error));
    EXPECT_FALSE(canWriteFile(temp.path("plain/floaters.dat"), &error));
    EXPECT_NE(error.find("plain/floaters.dat"), std::string::npos) << error;
    EXPECT_EQ(readWhole(temp.path("plain")), previous);
    EXPECT_EQ(entriesIn(temp.root()), 1);
}

TEST_F(SafeWrite, CanWriteFileLeavesNothingBehind) {
    std::string error;
    EXPECT_TRUE(canWriteFile(temp.path("out.dat"), &error)) << error;
    EXPECT_FALSE(canWriteFile(temp.root().string(), &error));  // a folder
    EXPECT_FALSE(canWriteFile(temp.path("missing/out.dat"), &error));
    EXPECT_EQ(entriesIn(temp.root()), 0);
}

// Runs writing one target at the same time each get a temporary of their own: every write
// succeeds and the file is always one whole text, never a mix of two or a padded one.
TEST_F(SafeWrite, ConcurrentWritersNeverShareATemporary) {
    const std::string path = temp.path("floaters.dat");
    constexpr int writers = 4, rounds = 100;
    std::vector<std::string> texts;
    for (int w = 0; w < writers; ++w) texts.push_back(std::string(3000 * (w + 1), 'a' + w) + "\n");
    std::vector<int> failures(writers, 0);
    std::vector<std::thread> threads;
    for (int w = 0; w < writers; ++w) {
        threads.emplace_back([&, w] {
            for (int round = 0; round < rounds; ++round) {
                std::string error;
                if (!writeText(path, texts[w], &error)) {
                    if (!failures[w]) std::fprintf(stderr, "%s\n", error.c_str());
                    ++failures[w];
                }
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (int w = 0; w < writers; ++w) EXPECT_EQ(failures[w], 0) << "writer " << w;
    const std::string last = readWhole(path, "rt");
    EXPECT_NE(std::find(texts.begin(), texts.end(), last), texts.end())
        << "a mixed file of " << last.size() << " bytes";
    EXPECT_EQ(entriesIn(temp.root()), 1);
}

// Temporaries have a short name of their own, so the longest legal target name is written;
// a kept copy of such a file gets a name cut to fit.
TEST_F(SafeWrite, LongestLegalNameIsWrittenAndKept) {
    const std::string name = std::string(251, 'n') + ".dat";  // 255 bytes
    const std::string path = temp.path(name);
    writeBytes(path, previous);
    system.addBlob(30.0);
    std::string error, notice;
    ASSERT_TRUE(writeBlobFile(systems, path.c_str(), &error, &notice)) << error;
    EXPECT_EQ(readWhole(path, "rt"), blobFileText(systems));
    const std::string kept = temp.path(std::string(248, 'n') + ".unread");
    EXPECT_EQ(readWhole(kept), previous);
    EXPECT_EQ(entriesIn(temp.root()), 2);
}

// A killed run leaves its temporary; the next write in the folder removes it once it is
// older than any write takes, and leaves young ones (a run writing now) and other files,
// however close their names come to a temporary's.
TEST_F(SafeWrite, StaleTemporariesOfKilledRunsAreRemoved) {
    const auto old =
        fs::file_time_type::clock::now() - std::chrono::minutes(staleTemporaryMinutes + 1);
    const char* const stale[] = {".dz0123abcd.tmp", ".dzffffffff.tmp", ".dz00000000.tmp"};
    const char* const kept[] = {".dz89abcdef.tmp", ".dz0123abcd.tmp.x", ".dz4567CDEF.tmp",
                                "notes.tmp",       ".dz0123abc.tmp",    ".dz0123abcde.tmp",
                                ".dz0123abcg.tmp", "blobs.dat.tmp",     "xdz0123abcd.tmp"};
    for (const char* name : stale) {
        writeBytes(temp.path(name), previous);
        fs::last_write_time(temp.path(name), old);
    }
    for (const char* name : kept) {
        writeBytes(temp.path(name), previous);
        if (std::string(name) != ".dz89abcdef.tmp") fs::last_write_time(temp.path(name), old);
    }
    ASSERT_TRUE(writeText(temp.path("out.dat"), "text\n"));
    for (const char* name : stale) EXPECT_FALSE(fs::exists(temp.path(name))) << name;
    for (const char* name : kept) EXPECT_TRUE(fs::exists(temp.path(name))) << name;
}

// Refused writes: a full disk (a file size limit: writes fail with EFBIG once SIGXFSZ is
// ignored), a folder the program may not write to, and a folder open to all (like /tmp,
// sticky) where another user's file read in part can be neither linked nor renamed. The
// writes run in a forked child that meets the obstacle; whatever fails, the previous files
// stay as they were, no temporary is left beside them, and the error says which file.
// The old file is kept aside only once the new text is safely written, so a file read in
// part is still there under its own name after a failed write.
TEST_F(SafeWrite, RefusedWritesLeaveThePreviousFilesIntact) {
#ifdef _WIN32
    GTEST_SKIP() << "file size limits and permission bits are POSIX";
#else
    enum Obstacle { FullDisk, ReadOnlyFolder, StickyFolder };
    struct Case {
        const char* name;
        Obstacle obstacle;
        bool readInPart;        // the model was read from blobs.dat, which it does not hold
        const char* blobError;  // what the blob file's error must say
        bool probeSucceeds;     // canWriteFile's answer: a temporary can still be made
    };
    const Case cases[] = {
        {"full disk", FullDisk, false, "blobs.dat", true},
        {"full disk, file read in part", FullDisk, true, "blobs.dat", true},
        {"read-only folder", ReadOnlyFolder, false, "blobs.dat", false},
        {"another user's file read in part in a sticky folder", StickyFolder, true,
         "was not fully read and could not be kept aside; not replaced", true},
    };
    std::string skipped;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path folder = caseFolder();
        const std::string blobs = (folder / "blobs.dat").string();
        const std::string floaters = (folder / "floaters.dat").string();
        const std::string before = c.readInPart ? halfReadable : previous;
        writeBytes(blobs, before);
        writeBytes(floaters, previous);
        VessikSpheres model(defaultIsoValue);
        geo::QList list;
        list.append(&model);
        if (c.readInPart) {
            model.readBlobFile(blobs.c_str());
            ASSERT_TRUE(model.blobFileIncomplete);
        }
        for (int i = 0; i < 200; ++i) model.addBlob(10.0 + i);  // about 8 kB of text
        model.seedParticles();                                  // 1200 floaters, about 70 kB
        if (c.obstacle == StickyFolder && geteuid() != 0) {
            skipped += std::string(" ") + c.name + ": needs root to give the file to another user;";
            continue;
        }
        // The folder belongs to the user running the tests, mode 0755; made read-only for
        // that user too, the case needs no root.
        if (c.obstacle == ReadOnlyFolder)
            fs::permissions(folder, fs::perms::owner_write, fs::perm_options::remove);
        if (c.obstacle == StickyFolder) fs::permissions(folder, static_cast<fs::perms>(01777));
        const int code = inChild([&] {
            if (c.obstacle == FullDisk) {
                std::signal(SIGXFSZ, SIG_IGN);
                const rlimit limit{4096, 4096};
                if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 77;
            } else if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) {
                return 77;  // permission bits bind root only once it is an ordinary user
            }
            std::string error;
            if (writeBlobFile(list, blobs.c_str(), &error)) return 1;
            if (error.find(c.blobError) == std::string::npos) return 2;
            if (writeFloaterFile(list, floaters.c_str(), &error)) return 3;
            if (error.find("floaters.dat") == std::string::npos) return 4;
            if (canWriteFile(blobs, &error) != c.probeSucceeds) return 5;
            return 0;
        });
        fs::permissions(folder, static_cast<fs::perms>(0755));
        if (code == 77) {
            skipped += std::string(" ") + c.name + ": cannot set a limit or drop root rights;";
            continue;
        }
        EXPECT_EQ(code, 0) << "1, 3: a write reported success; 2, 4: the error does not say "
                              "which file or why; 5: canWriteFile answered wrongly";
        EXPECT_EQ(readWhole(blobs), before);
        EXPECT_EQ(readWhole(floaters), previous);
        EXPECT_EQ(entriesIn(folder), 2);
    }
    if (!skipped.empty()) GTEST_SKIP() << "not run:" << skipped;
#endif
}

// A replaced file keeps its permissions: a private file stays private. The text is not
// readable by others while it is written either.
TEST_F(SafeWrite, ReplacedFileKeepsItsPermissions) {
#ifdef _WIN32
    GTEST_SKIP() << "permission bits are POSIX";
#else
    const std::string path = temp.path("floaters.dat");
    for (int mode : {0600, 0640, 0604, 0755}) {
        SCOPED_TRACE(mode);
        writeBytes(path, previous);
        fs::permissions(path, static_cast<fs::perms>(mode));
        int modeWhileWriting = -1;
        ASSERT_TRUE(writeFileSafely(path, [&](std::FILE* file) {
            for (const auto& entry : fs::directory_iterator(temp.root()))
                if (isWriterTemporary(entry.path().filename().string()))
                    modeWhileWriting = modeOf(entry.path().string());
            return std::fputs("new\n", file) >= 0;
        }));
        EXPECT_EQ(modeOf(path), mode);
        EXPECT_EQ(modeWhileWriting, 0600);
        EXPECT_EQ(readWhole(path), "new\n");
    }
    // A new file gets the mode fopen would give it.
    const mode_t mask = umask(022);
    umask(mask);
    ASSERT_TRUE(writeText(temp.path("new.dat"), "text\n"));
    EXPECT_EQ(modeOf(temp.path("new.dat")), 0666 & ~static_cast<int>(mask));
#endif
}

// Memory running out in the middle of a write ends the run with its own status and one
// line, and removes the temporary: the previous file is all there is.
TEST_F(SafeWrite, OutOfMemoryWhileWritingLeavesThePreviousFile) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer ends a failed allocation itself";
#else
    const std::string path = temp.path("floaters.dat");
    writeBytes(path, previous);
    EXPECT_EXIT(
        {
            endProgramWhenOutOfMemory("writer");
            writeFileSafely(path, [](std::FILE* file) {
                std::fputs("partial\n", file);
                std::fflush(file);
                allocationSink = ::operator new(static_cast<std::size_t>(-1) / 4);
                return true;
            });
        },
        ::testing::ExitedWithCode(outOfMemoryStatus), "^writer: out of memory\n$");
    EXPECT_EQ(readWhole(path), previous);
    EXPECT_EQ(entriesIn(temp.root()), 1);
#endif
}
