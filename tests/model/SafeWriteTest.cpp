// Data safety of the written files: a write that fails leaves the previous file as it was,
// and a blob file the program could not fully read is never replaced by a model that does
// not hold it.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <string>

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "TempFile.h"
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

int entriesIn(const fs::path& folder) {
    int n = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        (void)entry;
        ++n;
    }
    return n;
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

// Permission bits bind root only after it has become an ordinary user.
bool dropRootRights() {
    return geteuid() != 0 || (setgid(65534) == 0 && setuid(65534) == 0);
}
#endif

struct SafeWrite : ::testing::Test {
    TempFolder temp;
    VessikSpheres system{defaultIsoValue};
    geo::QList systems;
    SafeWrite() { systems.append(&system); }
};

}  // namespace

TEST_F(SafeWrite, IncompletelyReadFileIsKeptAsideBeforeBeingReplaced) {
    const std::string path = temp.path("model.dat");
    writeBytes(path, halfReadable);
    EXPECT_FALSE(system.readBlobFile(path.c_str()));
    ASSERT_TRUE(system.blobFileIncomplete);
    EXPECT_EQ(system.blobFilePath, fs::absolute(path).string());

    std::string error;
    ASSERT_TRUE(writeBlobFile(systems, path.c_str(), &error)) << error;
    EXPECT_EQ(readWhole(path + ".unread"), halfReadable);
    EXPECT_EQ(readWhole(path, "rt"),
              "// New Implicit System\n//   Blobs = 2\n//   Stability = 0.90000\n"
              "  10.00000  0.00000  0.00000  0.00000\n  20.00000  0.00000  0.00000  0.00000\n");
    // The user's file is safe now: writing again replaces only what the program wrote.
    EXPECT_FALSE(system.blobFileIncomplete);
    ASSERT_TRUE(writeBlobFile(systems, path.c_str()));
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

// Any system of the list counts, and another target is simply written.
TEST_F(SafeWrite, OnlyTheFileThatWasReadInPartIsKeptAside) {
    VessikSpheres clean(defaultIsoValue);
    clean.addBlob(5.0);
    systems.append(&clean);
    const std::string source = temp.path("source.dat"), other = temp.path("other.dat");
    writeBytes(source, halfReadable);
    writeBytes(other, previous);
    system.readBlobFile(source.c_str());
    ASSERT_TRUE(writeBlobFile(systems, other.c_str()));
    EXPECT_FALSE(fs::exists(other + ".unread"));
    EXPECT_EQ(readWhole(source), halfReadable);
    EXPECT_TRUE(system.blobFileIncomplete);  // its file is still at stake

    ASSERT_TRUE(writeBlobFile(systems, source.c_str()));  // the second system's write
    EXPECT_EQ(readWhole(source + ".unread"), halfReadable);
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
}

TEST_F(SafeWrite, PathThroughAFileFailsAndCreatesNothing) {
    writeBytes(temp.path("plain"), previous);
    system.addBlob(30.0);
    std::string error;
    EXPECT_FALSE(writeBlobFile(systems, temp.path("plain/blobs.dat").c_str(), &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(writeFloaterFile(systems, temp.path("plain/floaters.dat").c_str(), &error));
    EXPECT_EQ(readWhole(temp.path("plain")), previous);
    EXPECT_EQ(entriesIn(temp.root()), 1);
}

// A full disk, simulated by a file size limit: the write fails with EFBIG once SIGXFSZ is
// ignored, and the previous files stay as they were, with no temporary left beside them.
TEST_F(SafeWrite, FullDiskLeavesThePreviousFilesIntact) {
#ifdef _WIN32
    GTEST_SKIP() << "file size limits are POSIX";
#else
    for (int i = 0; i < 200; ++i) system.addBlob(10.0 + i);  // about 8 kB of text
    system.seedParticles();                                  // 1200 floaters, about 70 kB
    const std::string blobs = temp.path("blobs.dat"), floaters = temp.path("floaters.dat");
    writeBytes(blobs, previous);
    writeBytes(floaters, previous);
    const int code = inChild([&] {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4096, 4096};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 77;
        std::string error;
        if (writeBlobFile(systems, blobs.c_str(), &error)) return 1;
        if (error.find("blobs.dat") == std::string::npos) return 2;
        if (writeFloaterFile(systems, floaters.c_str(), &error)) return 3;
        if (error.find("floaters.dat") == std::string::npos) return 4;
        return 0;
    });
    if (code == 77) GTEST_SKIP() << "cannot set a file size limit";
    EXPECT_EQ(code, 0) << "1, 3: a write reported success; 2, 4: the error names no file";
    EXPECT_EQ(readWhole(blobs), previous);
    EXPECT_EQ(readWhole(floaters), previous);
    EXPECT_EQ(entriesIn(temp.root()), 2);
#endif
}

// A folder the program may not write to: nothing is replaced; and a file read in part
// that cannot be moved aside is not replaced either, with a message saying so.
TEST_F(SafeWrite, ReadOnlyFolderLeavesThePreviousFileIntact) {
#ifdef _WIN32
    GTEST_SKIP() << "permission bits are POSIX";
#else
    const std::string blobs = temp.path("blobs.dat"), model = temp.path("model.dat");
    writeBytes(blobs, previous);
    writeBytes(model, halfReadable);
    system.addBlob(30.0);
    // The temporary folder belongs to the user running the tests, mode 0755 without write
    // access for others; made read-only for that user too, so the test needs no root.
    fs::permissions(temp.root(), fs::perms::owner_write, fs::perm_options::remove);
    const int code = inChild([&] {
        if (!dropRootRights()) return 77;
        std::string error;
        if (writeBlobFile(systems, blobs.c_str(), &error)) return 1;
        VessikSpheres reader(defaultIsoValue);
        geo::QList readers;
        readers.append(&reader);
        reader.readBlobFile(model.c_str());
        if (!reader.blobFileIncomplete) return 2;
        if (writeBlobFile(readers, model.c_str(), &error)) return 3;
        if (error.find("not fully read") == std::string::npos) return 4;
        return 0;
    });
    fs::permissions(temp.root(), fs::perms::owner_write, fs::perm_options::add);
    if (code == 77) GTEST_SKIP() << "cannot drop root rights to user nobody";
    EXPECT_EQ(code, 0) << "1, 3: a write reported success; 2: not marked; 4: wrong message";
    EXPECT_EQ(readWhole(blobs), previous);
    EXPECT_EQ(readWhole(model), halfReadable);
    EXPECT_EQ(entriesIn(temp.root()), 2);
#endif
}

TEST(KeepAside, NothingToKeepGivesAnEmptyName) {
    TempFolder temp;
    EXPECT_EQ(keepAside(temp.path("missing.dat")), "");
    EXPECT_EQ(keepAside(temp.root().string()), "");  // a folder is not moved
    writeBytes(temp.path("a.dat"), previous);
    EXPECT_EQ(keepAside(temp.path("a.dat")), temp.path("a.dat.unread"));
    EXPECT_FALSE(fs::exists(temp.path("a.dat")));
}
