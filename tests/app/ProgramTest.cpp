#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "app/InFolder.h"
#include "app/Program.h"
#include "app/Simulator.h"
#include "model/VessikSpheres.h"

namespace fs = std::filesystem;

TEST(CommandLine, EmptyMeansBlobsDatAndAnythingElseIsTakenWhole) {
    EXPECT_EQ(blobFileFromCommandLine(""), "blobs.dat");
    EXPECT_EQ(blobFileFromCommandLine(nullptr), "blobs.dat");
    EXPECT_EQ(blobFileFromCommandLine("my model.dat"), "my model.dat");
    // Not split, and only a pair of quotes around the whole line is taken away.
    EXPECT_EQ(blobFileFromCommandLine("\"my model.dat\" extra"), "\"my model.dat\" extra");
    EXPECT_EQ(blobFileFromCommandLine("\"a\" \"b\""), "\"a\" \"b\"");
    EXPECT_EQ(blobFileFromCommandLine("\"half.dat"), "\"half.dat");
}

// Explorer, and cmd for a path with a blank, put the file name in double quotes.
TEST(CommandLine, OnePairOfSurroundingQuotesIsNoPartOfTheName) {
    EXPECT_EQ(blobFileFromCommandLine("\"C:\\my models\\figure.dat\""),
              "C:\\my models\\figure.dat");
    EXPECT_EQ(blobFileFromCommandLine(" \"my model.dat\"  "), "my model.dat");
    EXPECT_EQ(blobFileFromCommandLine("\"\""), "blobs.dat");
    EXPECT_EQ(blobFileFromCommandLine("\""), "\"");
}

TEST(CommandLine, ArgumentsAreJoinedBySingleBlanks) {
    const char* none[] = {"dazirudo"};
    EXPECT_EQ(blobFileFromArguments(1, none), "blobs.dat");
    const char* two[] = {"dazirudo", "my", "model.dat"};
    EXPECT_EQ(blobFileFromArguments(3, two), "my model.dat");
    const char* empty[] = {"dazirudo", ""};
    EXPECT_EQ(blobFileFromArguments(2, empty), "blobs.dat");
}

namespace {

std::string readAll(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A fresh folder per test under the system's temporary folder.
struct FileFixture : ::testing::Test {
    fs::path folder;
    Simulator app;
    VessikSpheres* system = nullptr;

    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder = fs::temp_directory_path() / (std::string("dazirudo-app-") + info->name());
        fs::remove_all(folder);
        fs::create_directories(folder);
        system = new VessikSpheres(defaultIsoValue);
        app.addSystem(system);
    }
    void TearDown() override { fs::remove_all(folder); }

    fs::path write(const char* name, const std::string& text) {
        const fs::path path = folder / name;
        std::ofstream(path) << text;
        return path;
    }
};

}  // namespace

TEST_F(FileFixture, BlobFileNotFullyReadIsKeptAsideBeforeBeingReplaced) {
    // The second line holds a radius and no centre: reading stops there, and the third
    // blob never reaches the model.
    const std::string original = "  10 0 0 0\n  20\n  30 5 5 5\n";
    const fs::path path = write("model.dat", original);
    EXPECT_FALSE(system->readBlobFile(path.string().c_str()));
    ASSERT_TRUE(system->blobFileIncomplete);

    ASSERT_TRUE(app.writeBlobFile(path.string().c_str()));
    EXPECT_EQ(readAll(folder / "model.dat.unread"), original);
    EXPECT_EQ(readAll(path).rfind("// New Implicit System\n//   Blobs = 2\n", 0), 0u);
}

// A mistyped name gives the default blob; the blobs.dat of the folder, which the program
// never read, is kept aside at exit and the program says so.
TEST_F(FileFixture, BlobsDatThatWasNotReadIsKeptAsideWithAMessage) {
    std::string twentyBlobs;
    for (int i = 0; i < 20; ++i) twentyBlobs += "  10 " + std::to_string(i) + " 0 0\n";
    const fs::path blobs = write("blobs.dat", twentyBlobs);
    EXPECT_FALSE(system->readBlobFile((folder / "figure-typo.dat").string().c_str()));
    system->addBlob(30.0);

    ::testing::internal::CaptureStderr();
    const bool written = app.writeBlobFile(blobs.string().c_str());
    const std::string said = ::testing::internal::GetCapturedStderr();
    ASSERT_TRUE(written);
    EXPECT_EQ(readAll(folder / "blobs.dat.unread"), twentyBlobs);
    EXPECT_EQ(readAll(blobs).rfind("// New Implicit System\n//   Blobs = 1\n", 0), 0u);
    EXPECT_EQ(said, "dazirudo: " + blobs.string() +
                        " is not the file the model was read from; it is kept as " +
                        blobs.string() + ".unread\n");
}

TEST_F(FileFixture, FullyReadBlobFileIsSimplyReplaced) {
    const fs::path path = write("model.dat", "  10 0 0 0\n");
    ASSERT_TRUE(system->readBlobFile(path.string().c_str()));
    system->blobs.first()->centre() = geo::Vertex(1.0, 2.0, 3.0);

    ASSERT_TRUE(app.writeBlobFile(path.string().c_str()));
    EXPECT_FALSE(fs::exists(folder / "model.dat.unread"));
    EXPECT_EQ(readAll(path),
              "// New Implicit System\n//   Blobs = 1\n//   Stability = 0.90000\n"
              "  10.00000  1.00000  2.00000  3.00000\n");
}

// The file read in part is not the one written: it stays as it is. The target, which the
// model was not read from, is kept aside.
TEST_F(FileFixture, AnIncompleteReadOfAnotherFileLeavesThatFileAlone) {
    const fs::path source = write("source.dat", "  20 1 2\n");
    const fs::path target = write("blobs.dat", "old\n");
    system->readBlobFile(source.string().c_str());
    ASSERT_TRUE(system->blobFileIncomplete);
    ::testing::internal::CaptureStderr();
    ASSERT_TRUE(app.writeBlobFile(target.string().c_str()));
    ::testing::internal::GetCapturedStderr();
    EXPECT_FALSE(fs::exists(folder / "source.dat.unread"));
    EXPECT_EQ(readAll(source), "  20 1 2\n");
    EXPECT_EQ(readAll(folder / "blobs.dat.unread"), "old\n");
}

TEST_F(FileFixture, FloaterFileHeaderComesFromTheCoreWriter) {
    system->addBlob(30.0);
    system->seedParticles();
    const fs::path path = folder / "floaters.dat";
    ASSERT_TRUE(app.writeFloaterFile(path.string().c_str()));
    EXPECT_EQ(readAll(path).rfind("// New Implicit System\n//   Blobs = 1\n//   Floaters = 6\n", 0),
              0u);
}

// A file dropped on the window becomes the model as the start reads one, once the current
// model's files are written as at exit.
TEST_F(FileFixture, DroppedFileReplacesTheModelOnceTheCurrentOneIsWritten) {
    system->addBlob(30.0);
    system->seedParticles();
    app.history.record(*app.systems);
    const fs::path dropped = write("two.dat", "  30 -20 0 0\n  30 20 0 0\n");
    InFolder in(folder);
    app.started = true;  // as after startUp, without a window
    app.dropFile(dropped.string());
    double density = 2.0;
    ::testing::internal::CaptureStderr();
    ASSERT_TRUE(runIdlePass(app, density));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "dazirudo: opened " + dropped.string() + "\n");
    EXPECT_TRUE(app.droppedFile.empty());
    ASSERT_EQ(app.systems->count(), 1);
    ImplicitSurface* opened = app.modelSystem();
    ASSERT_EQ(opened->blobs.count(), 2);
    EXPECT_EQ(opened->blobs.at(1)->centre(), geo::Vertex(20.0, 0.0, 0.0));
    EXPECT_GT(opened->particles.size(), 0);  // seeded, and stepped once
    EXPECT_EQ(app.history.undoable(), 0);    // the old model's changes are not this one's
    EXPECT_EQ(readAll(folder / "blobs.dat"),
              "// New Implicit System\n//   Blobs = 1\n//   Stability = 0.90000\n"
              "  30.00000  0.00000  0.00000  0.00000\n");
    EXPECT_EQ(readAll(folder / "floaters.dat").rfind("// New Implicit System\n//   Blobs = 1\n", 0),
              0u);
}

// A drop is a deliberate choice: a file that cannot be read, or read whole, or holds no
// blob (a picture dropped by mistake), leaves the model as it is instead of giving the
// default blob.
TEST_F(FileFixture, DropThatIsNoModelKeepsTheModel) {
    system->addBlob(40.0);
    const fs::path picture = write("picture.png", "\x89PNG\r\n\x1a\n binary\n");
    const fs::path twoPoints = write("two.dat", "  10.0  1.0  2.0  3.0\n  10.0  1 2 3  4 5 6\n");
    const fs::path noBlob = write("nob.dat", "  10.0  1.0  2.0  3.0\n  10.0  1.0  2.0\n");
    fs::create_directories(folder / "a folder");
    const fs::path drops[] = {folder / "missing.dat", folder / "a folder", picture, twoPoints,
                              noBlob};
    InFolder in(folder);
    for (const fs::path& drop : drops) {
        app.dropFile(drop.string());
        ::testing::internal::CaptureStderr();
        EXPECT_FALSE(openDroppedFile(app)) << drop;
        const std::string said = ::testing::internal::GetCapturedStderr();
        EXPECT_NE(said.find("the model stays as it is\n"), std::string::npos) << said;
        EXPECT_EQ(app.modelSystem(), system) << drop;
        EXPECT_EQ(system->blobs.first()->getRadius(), 40.0);
        EXPECT_TRUE(app.droppedFile.empty());
    }
    EXPECT_FALSE(fs::exists(folder / "blobs.dat"));  // nothing was written either
}
