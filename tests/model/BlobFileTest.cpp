#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "TempFile.h"
#include "model/BlobFile.h"
#include "model/VessikSpheres.h"

namespace {

const char* const oneBlobText =
    "// New Implicit System\n//   Blobs = 1\n//   Stability = 0.90000\n"
    "  30.00000  0.00000  0.00000  0.00000\n";

// Reads `bytes` (written verbatim) into a fresh system and returns the reader's result.
bool readText(VessikSpheres& system, const TempFolder& temp, const std::string& bytes) {
    const std::string path = temp.path("in.dat");
    writeBytes(path, bytes);
    return system.readBlobFile(path.c_str());
}

void expectBlob(VessikSpheres& system, int index, double radius, const geo::Vertex& centre) {
    VessikObj* blob = system.blobs.at(index);
    ASSERT_NE(blob, nullptr) << "no blob " << index;
    EXPECT_EQ(blob->getRadius(), radius) << "blob " << index;
    EXPECT_EQ(blob->centre(), centre) << "blob " << index;
}

std::string textOf(VessikSpheres& system) {
    geo::QList systems;
    systems.append(&system);
    return blobFileText(systems);
}

}  // namespace

TEST(BlobFile, WritesTheOneBlobModelExactly) {
    TempFolder temp;
    VessikSpheres system(defaultIsoValue);
    system.addBlob(30.0);
    geo::QList systems;
    systems.append(&system);
    EXPECT_EQ(blobFileText(systems), oneBlobText);
    const std::string path = temp.path("blobs.dat");
    std::string error;
    ASSERT_TRUE(writeBlobFile(systems, path.c_str(), &error)) << error;
    // Text mode: CR LF on disk on Windows, plain newlines elsewhere.
    EXPECT_EQ(readWhole(path, "rb"), onDisk(oneBlobText));
    EXPECT_EQ(readWhole(path, "rt"), oneBlobText);
}

TEST(BlobFile, ReadsTheOneBlobModelBack) {
    TempFolder temp;
    VessikSpheres system(defaultIsoValue);
    EXPECT_TRUE(readText(system, temp, oneBlobText));
    ASSERT_EQ(system.blobs.count(), 1);
    expectBlob(system, 0, 30.0, {0, 0, 0});
    EXPECT_FALSE(system.blobFileIncomplete);
}

TEST(BlobFile, KeepsFiveDecimalsAndTheSign) {
    TempFolder temp;
    VessikSpheres system(defaultIsoValue);
    system.addBlob(12.345678)->centre() = {1.234567, -12.5, -0.000001};
    const std::string text = textOf(system);
    EXPECT_NE(text.find("  12.34568  1.23457  -12.50000  -0.00000\n"), std::string::npos) << text;
    VessikSpheres back(defaultIsoValue);
    EXPECT_TRUE(readText(back, temp, text));
    expectBlob(back, 0, 12.34568, {1.23457, -12.5, -0.0});
    EXPECT_EQ(textOf(back), text);
}

TEST(BlobFile, EmptyModelWritesItsHeaderOnly) {
    VessikSpheres system(defaultIsoValue);
    EXPECT_EQ(textOf(system), "// New Implicit System\n//   Blobs = 0\n//   Stability = 0.90000\n");
}

TEST(BlobFile, SeveralSystemsReadIntoOneInFileOrder) {
    TempFolder temp;
    VessikSpheres a(defaultIsoValue), b(defaultIsoValue);
    a.addBlob(10.0)->centre() = {1, 0, 0};
    a.addBlob(11.0)->centre() = {2, 0, 0};
    b.addBlob(20.0)->centre() = {3, 0, 0};
    b.stableFraction = 0.75;
    geo::QList systems;
    systems.append(&a);
    systems.append(&b);
    const std::string path = temp.path("blobs.dat");
    ASSERT_TRUE(writeBlobFile(systems, path.c_str()));
    const std::string text = readWhole(path, "rt");
    EXPECT_NE(text.find("//   Blobs = 2\n//   Stability = 0.90000\n"), std::string::npos);
    EXPECT_NE(text.find("//   Blobs = 1\n//   Stability = 0.75000\n"), std::string::npos);

    VessikSpheres one(defaultIsoValue);
    EXPECT_TRUE(one.readBlobFile(path.c_str()));
    ASSERT_EQ(one.blobs.count(), 3);
    expectBlob(one, 0, 10.0, {1, 0, 0});
    expectBlob(one, 1, 11.0, {2, 0, 0});
    expectBlob(one, 2, 20.0, {3, 0, 0});
}

TEST(BlobFile, CommentsAndEmptyLinesMayStandAnywhere) {
    TempFolder temp;
    VessikSpheres system(defaultIsoValue);
    EXPECT_TRUE(readText(system, temp,
                         "// first\n\n  10 1 2 3\n//   Blobs = 7\n\n//\n  20 -4 5.5 6\n// end\n"));
    ASSERT_EQ(system.blobs.count(), 2);  // the "Blobs = 7" of a header is ignored
    expectBlob(system, 0, 10.0, {1, 2, 3});
    expectBlob(system, 1, 20.0, {-4, 5.5, 6});
    EXPECT_FALSE(system.blobFileIncomplete);
}

TEST(BlobFile, EmptyFileIsAnEmptyModel) {
    TempFolder temp;
    VessikSpheres system(defaultIsoValue);
    EXPECT_TRUE(readText(system, temp, ""));
    EXPECT_EQ(system.blobs.count(), 0);
    VessikSpheres comments(defaultIsoValue);
    EXPECT_TRUE(readText(comments, temp, "// only\n\n// comments\n   \n"));
    EXPECT_EQ(comments.blobs.count(), 0);
    EXPECT_FALSE(comments.blobFileIncomplete);  // blank lines hold nothing to lose
}

TEST(BlobFile, LastLineWithoutNewlineKeepsItsLastNumber) {
    TempFolder temp;
    VessikSpheres system(defaultIsoValue);
    EXPECT_TRUE(readText(system, temp, "  25 1 2 3"));
    ASSERT_EQ(system.blobs.count(), 1);
    expectBlob(system, 0, 25.0, {1, 2, 3});
    EXPECT_FALSE(system.blobFileIncomplete);
}

// Only spaces and newlines separate: "25\t1" is one number text that converts to 25.
TEST(BlobFile, TabIsPartOfTheNumber) {
    TempFolder temp;
    VessikSpheres system(defaultIsoValue);
    EXPECT_TRUE(readText(system, temp, "25\t1 2 3\n  10 0 0 0\n"));
    ASSERT_EQ(system.blobs.count(), 1);  // three values: the tab line is skipped
    expectBlob(system, 0, 10.0, {0, 0, 0});
    EXPECT_TRUE(system.blobFileIncomplete);  // the file says more than the model holds

    double radius = 0.0;
    std::vector<geo::Vertex> points;
    EXPECT_TRUE(system.parseBlobLine("25\t1 2 3 4\n", radius, points));
    EXPECT_EQ(radius, 25.0);
    ASSERT_EQ(points.size(), 1u);
    EXPECT_EQ(points[0], geo::Vertex(2, 3, 4));
}

TEST(BlobFile, IndentedSlashesAreNoComment) {
    TempFolder temp;
    VessikSpheres system(defaultIsoValue);
    double radius = 0.0;
    std::vector<geo::Vertex> points;
    EXPECT_FALSE(system.parseBlobLine("  // x\n", radius, points));  // two values, 0 and 0
    EXPECT_TRUE(points.empty());
    EXPECT_TRUE(readText(system, temp, "  // x\n  10 0 0 0\n"));
    EXPECT_EQ(system.blobs.count(), 1);
}

// A radius alone: the blob goes in at the origin, reading stops, and the caller adds the
// default blob as well.
TEST(BlobFile, RadiusOnlyLineStopsReading) {
    TempFolder temp;
    VessikSpheres system(defaultIsoValue);
    EXPECT_FALSE(readText(system, temp, "  40\n  10 1 1 1\n"));
    ASSERT_EQ(system.blobs.count(), 1);
    expectBlob(system, 0, 40.0, {0, 0, 0});
    EXPECT_TRUE(system.blobFileIncomplete);
    system.addBlob(30.0);  // the start-up's fallback
    ASSERT_EQ(system.blobs.count(), 2);
    expectBlob(system, 1, 30.0, {0, 0, 0});
}

TEST(BlobFile, TwoPointsStopReadingToo) {
    TempFolder temp;
    VessikSpheres system(defaultIsoValue);
    EXPECT_FALSE(readText(system, temp, "  10 1 1 1\n  40 1 2 3 4 5 6\n  10 2 2 2\n"));
    ASSERT_EQ(system.blobs.count(), 2);
    expectBlob(system, 1, 40.0, {0, 0, 0});
}

TEST(BlobFile, ParseAppendsToTheCallersPoints) {
    VessikSpheres system(defaultIsoValue);
    double radius = -1.0;
    std::vector<geo::Vertex> points{{9, 9, 9}};
    EXPECT_TRUE(system.parseBlobLine("  30  1  2  3  4  5  6\n", radius, points));
    EXPECT_EQ(radius, 30.0);
    ASSERT_EQ(points.size(), 3u);
    EXPECT_EQ(points[1], geo::Vertex(1, 2, 3));
    EXPECT_EQ(points[2], geo::Vertex(4, 5, 6));
    EXPECT_FALSE(system.parseBlobLine(nullptr, radius, points));
    EXPECT_FALSE(system.parseBlobLine("// 30 0 0 0\n", radius, points));
    EXPECT_FALSE(system.parseBlobLine("\n", radius, points));
    EXPECT_FALSE(system.parseBlobLine("", radius, points));
    EXPECT_FALSE(system.parseBlobLine("  30 1 2\n", radius, points));
    // Text that is no number converts to 0.0 like any other.
    EXPECT_TRUE(system.parseBlobLine("  30 abc 2x 3\n", radius, points));
    EXPECT_EQ(points.back(), geo::Vertex(0, 2, 3));
    EXPECT_EQ(points.size(), 4u);
}

// A radius the field cannot use or a coordinate that is no finite number would make the
// field NaN or divide by zero: such a line is refused, the rest of the file still read.
TEST(BlobFile, RefusesLinesWithUnusableNumbers) {
    TempFolder temp;
    const char* bad[] = {"  0 1 1 1\n",    "  -5 1 1 1\n",     "  nan 1 1 1\n",
                         "  inf 1 1 1\n",  "  1e-200 0 0 0\n", "  1e200 0 0 0\n",
                         "  10 inf 0 0\n", "  10 0 nan 0\n",   "  10 0 0 -1e999\n"};
    for (const char* line : bad) {
        VessikSpheres system(defaultIsoValue);
        double radius = 0.0;
        std::vector<geo::Vertex> points;
        EXPECT_FALSE(system.parseBlobLine(line, radius, points)) << line;
        EXPECT_TRUE(points.empty()) << line;
        EXPECT_TRUE(readText(system, temp, std::string("  10 1 2 3\n") + line + "  20 4 5 6\n"))
            << line;
        ASSERT_EQ(system.blobs.count(), 2) << line;
        expectBlob(system, 1, 20.0, {4, 5, 6});
        EXPECT_TRUE(system.blobFileIncomplete) << line;
    }
}

// Lines and numbers are read in full, however long, up to a megabyte.
TEST(BlobFile, ReadsOverLongLinesAndNumbersWhole) {
    TempFolder temp;
    VessikSpheres system(defaultIsoValue);
    const std::string longLine = "  30" + std::string(3000, ' ') + "1 2 3\n";
    const std::string longNumber = "  4" + std::string(400, '0') + "  0 0 0\n";  // 4e400: too big
    const std::string longDigits = "  20." + std::string(400, '0') + "1  5 6 7\n";
    EXPECT_TRUE(readText(system, temp, longLine + longNumber + longDigits));
    ASSERT_EQ(system.blobs.count(), 2);
    expectBlob(system, 0, 30.0, {1, 2, 3});
    expectBlob(system, 1, 20.0, {5, 6, 7});
    EXPECT_TRUE(system.blobFileIncomplete);  // the 4e400 line

    // More than 100 points on a line is a point count mismatch like any other.
    std::string many = "  10";
    for (int i = 0; i < 303; ++i) many += " 1";
    VessikSpheres big(defaultIsoValue);
    EXPECT_FALSE(readText(big, temp, many + "\n"));
    ASSERT_EQ(big.blobs.count(), 1);
    expectBlob(big, 0, 10.0, {0, 0, 0});
}

// A file written on Windows has CR LF line ends; they read as plain newlines everywhere.
TEST(BlobFile, ReadsWindowsLineEnds) {
    TempFolder temp;
    VessikSpheres system(defaultIsoValue);
    EXPECT_TRUE(readText(system, temp,
                         "// New Implicit System\r\n\r\n  25 1 2 3 \r\n  10.00000  0.00000  "
                         "-1.50000  2.00000\r\n"));
    ASSERT_EQ(system.blobs.count(), 2);
    expectBlob(system, 0, 25.0, {1, 2, 3});
    expectBlob(system, 1, 10.0, {0, -1.5, 2});
    EXPECT_FALSE(system.blobFileIncomplete);
}

TEST(BlobFile, NoNameOrMissingFileReadsNothing) {
    TempFolder temp;
    VessikSpheres system(defaultIsoValue);
    EXPECT_FALSE(system.readBlobFile(nullptr));
    EXPECT_FALSE(system.readBlobFile(temp.path("missing.dat").c_str()));
    EXPECT_EQ(system.blobs.count(), 0);
    EXPECT_FALSE(system.blobFileIncomplete);  // nothing there to lose
}

TEST(BlobFile, FolderIsNoBlobFile) {
    TempFolder temp;
    std::filesystem::create_directory(temp.path("blobs.dat"));
    VessikSpheres system(defaultIsoValue);
    EXPECT_FALSE(system.readBlobFile(temp.path("blobs.dat").c_str()));
    EXPECT_EQ(system.blobs.count(), 0);
    EXPECT_TRUE(system.blobFileIncomplete);
}

TEST(BlobFile, WritingOverAFolderFailsAndLeavesIt) {
    TempFolder temp;
    const std::string path = temp.path("blobs.dat");
    std::filesystem::create_directory(path);
    VessikSpheres system(defaultIsoValue);
    system.addBlob(30.0);
    geo::QList systems;
    systems.append(&system);
    std::string error;
    EXPECT_FALSE(writeBlobFile(systems, path.c_str(), &error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(std::filesystem::is_directory(path));
}

// A longer old file that the model was read from: the new text replaces all of it.
TEST(BlobFile, WritingReplacesAnOldFile) {
    TempFolder temp;
    const std::string path = temp.path("blobs.dat");
    writeBytes(path, "//" + std::string(5000, 'x') + "\n  30 0 0 0\n");
    VessikSpheres system(defaultIsoValue);
    ASSERT_TRUE(system.readBlobFile(path.c_str()));
    geo::QList systems;
    systems.append(&system);
    ASSERT_TRUE(writeBlobFile(systems, path.c_str()));
    EXPECT_EQ(readWhole(path, "rt"), oneBlobText);
    // Nothing is left beside it: the temporary file was renamed over the target.
    int entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(temp.root())) {
        (void)entry;
        ++entries;
    }
    EXPECT_EQ(entries, 1);
}

TEST(BlobFile, NoNameWritesBlobsDatInTheWorkingFolder) {
    TempFolder temp;
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(temp.root());
    VessikSpheres system(defaultIsoValue);
    system.addBlob(30.0);
    geo::QList systems;
    systems.append(&system);
    const bool written = writeBlobFile(systems);
    std::filesystem::current_path(previous);
    EXPECT_TRUE(written);
    EXPECT_EQ(readWhole(temp.path("blobs.dat"), "rt"), oneBlobText);
}

// The flag is what keeps a half-read file from being replaced at exit; a clean read of a
// written file must not raise it, or every exit would set a file aside.
TEST(BlobFile, WrittenFileReadsCompletely) {
    TempFolder temp;
    VessikSpheres system(defaultIsoValue);
    system.addBlob(30.0)->centre() = {-3, 4, 5};
    system.addBlob(15.5)->centre() = {10, 0, -7.25};
    geo::QList systems;
    systems.append(&system);
    const std::string path = temp.path("blobs.dat");
    ASSERT_TRUE(writeBlobFile(systems, path.c_str()));
    VessikSpheres back(defaultIsoValue);
    EXPECT_TRUE(back.readBlobFile(path.c_str()));
    EXPECT_FALSE(back.blobFileIncomplete);
    EXPECT_EQ(textOf(back), textOf(system));
}
