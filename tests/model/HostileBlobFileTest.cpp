// Blob files nobody meant to write: garbage, extreme numbers, huge lines and models, files
// that cannot be read. Each has one outcome, documented beside the file format; none may
// crash, hang, or let a value into the model that the field cannot use.
#include <gtest/gtest.h>

#include <cfloat>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <random>
#include <string>

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "TempFile.h"
#include "model/BlobFile.h"
#include "model/VessikSpheres.h"

namespace {

bool readText(VessikSpheres& system, const TempFolder& temp, const std::string& bytes) {
    const std::string path = temp.path("in.dat");
    writeBytes(path, bytes);
    return system.readBlobFile(path.c_str());
}

std::string textOf(ImplicitSurface& system) {
    geo::QList systems;
    systems.append(&system);
    return blobFileText(systems);
}

// What every read must leave, whatever the input: blobs the field can use, and a model
// that writes, reads back completely and writes again to the same text.
void expectUsableModelThatRoundTrips(VessikSpheres& system, const TempFolder& temp) {
    for (int i = 0; i < system.blobs.count(); ++i) {
        VessikObj* blob = system.blobs.at(i);
        EXPECT_TRUE(VessikObj::usableRadius(blob->getRadius())) << "blob " << i;
        EXPECT_TRUE(geo::isFinite(blob->centre())) << "blob " << i;
    }
    geo::QList systems;
    systems.append(&system);
    const std::string path = temp.path("out.dat");
    ASSERT_TRUE(writeBlobFile(systems, path.c_str()));
    VessikSpheres back(defaultIsoValue);
    EXPECT_TRUE(back.readBlobFile(path.c_str()));
    EXPECT_FALSE(back.blobFileIncomplete);
    EXPECT_EQ(textOf(back), textOf(system));
}

}  // namespace

// Random bytes and every byte value: lines that are no blob lines are skipped (and the
// file marked as not fully read), whatever is accepted is usable.
TEST(HostileBlobFile, BinaryGarbageIsSkippedLineByLine) {
    TempFolder temp;
    std::mt19937 random(1);
    std::string bytes;
    for (int i = 0; i < 65536; ++i) bytes.push_back(static_cast<char>(random() & 0xff));
    for (int c = 0; c < 256; ++c) bytes.push_back(static_cast<char>(c));
    VessikSpheres system(defaultIsoValue);
    readText(system, temp, bytes);
    EXPECT_TRUE(system.blobFileIncomplete);
    expectUsableModelThatRoundTrips(system, temp);

    // Garbage around a good line does not hide it.
    VessikSpheres mixed(defaultIsoValue);
    EXPECT_TRUE(readText(mixed, temp, "\x01\x02\xff\xfe\n  30 1 2 3\n\x7f\x80 xyz\n"));
    ASSERT_EQ(mixed.blobs.count(), 1);
    EXPECT_EQ(mixed.blobs.first()->centre(), geo::Vertex(1, 2, 3));
    EXPECT_TRUE(mixed.blobFileIncomplete);  // "\x7f\x80 xyz" is two number texts
}

// A zero byte ends a line's text. Whatever stands after it on that line never reaches the
// model, so the file is not fully read; a zero byte with nothing after it loses nothing.
TEST(HostileBlobFile, ZeroByteEndsTheLinesText) {
    TempFolder temp;
    struct Case {
        std::string bytes;
        int blobs;
        bool incomplete;
    };
    const Case cases[] = {
        {std::string("  10 1 2\0 3\n  20 4 5 6\n", 22), 1, true},  // "  10 1 2": skipped
        {std::string("  10 1 2 3\0 4 5 6\n", 19), 1, true},        // accepted, "4 5 6" lost
        {std::string("\0  10 1 2 3\n", 13), 0, true},              // an empty text
        {std::string("  10 1 2 3\0\n", 12), 1, false},
        {std::string("  10 1 2 3 \0 \0\n", 16), 1, false},
        {std::string("// note\0 10 1 2 3\n", 19), 0, false},  // a comment, all of it
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.bytes));
        VessikSpheres system(defaultIsoValue);
        EXPECT_TRUE(readText(system, temp, c.bytes));
        EXPECT_EQ(system.blobs.count(), c.blobs);
        EXPECT_EQ(system.blobFileIncomplete, c.incomplete);
    }
}

// A line of up to a megabyte is read whole, by the same rules as a short one; a longer one
// stops the reading as unreadable, so neither memory nor time grows with a file that has
// no line ends.
TEST(HostileBlobFile, LinesOfMoreThanAMegabyteStopTheReading) {
    TempFolder temp;
    const std::size_t megabyte = 1u << 20;

    // Blanks, then one blob, a megabyte in all: it is read like any other.
    const std::string blob = "30 1 2 3";
    VessikSpheres padded(defaultIsoValue);
    EXPECT_TRUE(readText(padded, temp, std::string(megabyte - blob.size(), ' ') + blob + "\n"));
    ASSERT_EQ(padded.blobs.count(), 1);
    EXPECT_EQ(padded.blobs.first()->centre(), geo::Vertex(1, 2, 3));
    EXPECT_FALSE(padded.blobFileIncomplete);

    // One byte more: nothing of it is taken, nor of what follows; what came before stays.
    VessikSpheres longer(defaultIsoValue);
    EXPECT_FALSE(readText(
        longer, temp,
        "  10 0 0 0\n" + std::string(megabyte + 1 - blob.size(), ' ') + blob + "\n  20 0 0 0\n"));
    ASSERT_EQ(longer.blobs.count(), 1);
    EXPECT_EQ(longer.blobs.first()->getRadius(), 10.0);
    EXPECT_TRUE(longer.blobFileIncomplete);

    // A radius and a hundred thousand points: a blob has one, so it goes in at the origin
    // and reading stops there.
    std::string points = "  7";
    for (int i = 0; i < 300000; ++i) points += " 1";
    VessikSpheres many(defaultIsoValue);
    EXPECT_FALSE(readText(many, temp, points + "\n  20 0 0 0\n"));
    ASSERT_EQ(many.blobs.count(), 1);
    EXPECT_EQ(many.blobs.first()->getRadius(), 7.0);
    EXPECT_EQ(many.blobs.first()->centre(), geo::Vertex(0, 0, 0));
    EXPECT_TRUE(many.blobFileIncomplete);

    // One number of half a million digits: 3e500000 is no finite radius; the line is skipped.
    VessikSpheres digits(defaultIsoValue);
    EXPECT_TRUE(readText(digits, temp, "  3" + std::string(500000, '0') + " 0 0 0\n  20 0 0 0\n"));
    ASSERT_EQ(digits.blobs.count(), 1);
    EXPECT_EQ(digits.blobs.first()->getRadius(), 20.0);
    EXPECT_TRUE(digits.blobFileIncomplete);
}

// A device that never ends a line: the reader stops after a megabyte.
TEST(HostileBlobFile, EndlessZerosStopTheReading) {
#ifdef _WIN32
    GTEST_SKIP() << "no /dev/zero";
#else
    VessikSpheres system(defaultIsoValue);
    EXPECT_FALSE(system.readBlobFile("/dev/zero"));
    EXPECT_EQ(system.blobs.count(), 0);
    EXPECT_TRUE(system.blobFileIncomplete);
#endif
}

// Coordinates keep any finite value, the largest included; they are written in full
// (309 digits for 1e308) and read back exactly.
TEST(HostileBlobFile, ExtremeCoordinatesAreKeptAndWrittenInFull) {
    TempFolder temp;
    VessikSpheres system(defaultIsoValue);
    EXPECT_TRUE(readText(system, temp,
                         "  10 1e308 -1.7976931348623157e308 0\n  10 -0 -0 -0\n"
                         "  10 1e-320 -4.9e-324 0.000001\n"));
    ASSERT_EQ(system.blobs.count(), 3);
    EXPECT_EQ(system.blobs.at(0)->centre(), geo::Vertex(1e308, -DBL_MAX, 0));
    EXPECT_TRUE(std::signbit(system.blobs.at(1)->centre().x));  // -0 stays -0 ...
    const std::string text = textOf(system);
    EXPECT_NE(text.find("  10.00000  -0.00000  -0.00000  -0.00000\n"), std::string::npos);
    // ... and values below five decimals are written as zeros, keeping their sign.
    EXPECT_NE(text.find("  10.00000  0.00000  -0.00000  0.00000\n"), std::string::npos);
    // 1e308 is written with all its 309 digits (1000000000000000010979... as the double
    // holds it; how many of them are exact is the C library's affair) and no exponent.
    const std::size_t at = text.find("\n  10.00000  ") + 13;
    const std::string x = text.substr(at, text.find(' ', at) - at);
    EXPECT_EQ(x.size(), 309u + 6u) << x;
    EXPECT_EQ(x.rfind("10000000000000000", 0), 0u) << x;
    EXPECT_EQ(x.substr(309), ".00000");
    EXPECT_FALSE(system.blobFileIncomplete);
    expectUsableModelThatRoundTrips(system, temp);
}

// Centres so far apart that x - c overflows: the far blob contributes nothing, and the
// gradient must not turn that nothing into NaN (inf times 0).
TEST(HostileBlobFile, FieldStaysFiniteForCentresFarApart) {
    VessikSpheres system(defaultIsoValue);
    system.addBlob(10.0)->centre() = {1e308, 0, 0};
    system.addBlob(10.0)->centre() = {-1e308, 0, 0};
    const geo::Vertex atFirst(1e308, 0, 0);
    EXPECT_EQ(system.fieldValue(atFirst), defaultIsoValue - 1.0);  // only the first counts
    const geo::Vertex g = system.fieldGradient(atFirst);
    EXPECT_EQ(g, geo::Vertex(0, 0, 0));  // at a lone centre the gradient is zero
    EXPECT_TRUE(geo::isFinite(system.fieldGradient({-1e308, 5, 0})));
    const geo::DVector dq = system.parameterGradient({-1e308, 5, 0});
    ASSERT_EQ(dq.length(), 6);
    for (int i = 0; i < 6; ++i) EXPECT_TRUE(std::isfinite(dq[i])) << i;
    EXPECT_EQ(dq[0], 0.0);  // the far blob
    // The near one: -2 f / R^2 (x - c) with f = exp(-25/100), x - c = (0, 5, 0).
    EXPECT_DOUBLE_EQ(dq[4], -2.0 * std::exp(-0.25) / 100.0 * 5.0);
}

// Radii: a radius must be positive, with R^2 a normal finite double, and must survive
// being written with five decimals; anything else skips the line.
TEST(HostileBlobFile, RadiiAtTheEdges) {
    TempFolder temp;
    struct Case {
        const char* radius;
        bool kept;
    };
    const Case cases[] = {
        {"-0", false},                      // not positive
        {"0.0", false},                     // not positive
        {"0.000004", false},                // written as 0.00000: the blob would be lost
        {"0.00001", true},                  // the smallest radius five decimals can write
        {"1e154", true},                    // R^2 = 1e308 is still finite
        {"1.7976931348623157e308", false},  // R^2 overflows
        {"1e-160", false},                  // R^2 underflows below the normal doubles
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.radius);
        VessikSpheres system(defaultIsoValue);
        EXPECT_TRUE(readText(system, temp, std::string("  ") + c.radius + " 1 2 3\n"));
        EXPECT_EQ(system.blobs.count(), c.kept ? 1 : 0);
        EXPECT_EQ(system.blobFileIncomplete, !c.kept);
        expectUsableModelThatRoundTrips(system, temp);
    }
}

// Ten thousand blobs read, seed six floaters each, and write back unchanged.
TEST(HostileBlobFile, TenThousandBlobs) {
    TempFolder temp;
    std::string text;
    for (int i = 0; i < 10000; ++i)
        text += "  5.00000  " + std::to_string(i % 100 * 20) + ".00000  " +
                std::to_string(i / 100 * 20) + ".00000  0.00000\n";
    const auto start = std::chrono::steady_clock::now();
    VessikSpheres system(defaultIsoValue);
    ASSERT_TRUE(readText(system, temp, text));
    ASSERT_EQ(system.blobs.count(), 10000);
    system.seedParticles();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ::testing::Test::RecordProperty("read_and_seed_seconds", std::to_string(seconds));
    EXPECT_EQ(system.particles.size(), 60000);
    EXPECT_TRUE(system.grid.holdsExactly(system.particles));
    const std::string header =
        "// New Implicit System\n//   Blobs = 10000\n//   Stability = 0.90000\n";
    EXPECT_EQ(textOf(system), header + text);
}

// A path through a regular file names nothing: nothing is read and nothing is at stake.
TEST(HostileBlobFile, PathThroughAFileReadsNothing) {
    TempFolder temp;
    writeBytes(temp.path("plain.dat"), "  30 0 0 0\n");
    VessikSpheres system(defaultIsoValue);
    EXPECT_FALSE(system.readBlobFile(temp.path("plain.dat/blobs.dat").c_str()));
    EXPECT_EQ(system.blobs.count(), 0);
    EXPECT_FALSE(system.blobFileIncomplete);
}

// A file that is there but cannot be read: nothing is read, and the file is marked as not
// fully read so that it is never replaced by a model that does not hold it.
TEST(HostileBlobFile, FileWithoutReadPermission) {
#ifdef _WIN32
    GTEST_SKIP() << "permission bits are POSIX";
#else
    TempFolder temp;
    const std::string path = temp.path("locked.dat");
    writeBytes(path, "  30 0 0 0\n");
    ASSERT_EQ(chmod(path.c_str(), 0), 0);
    // Root reads whatever the bits say: the check runs as "nobody" in a child instead.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(77);
        VessikSpheres system(defaultIsoValue);
        const bool read = system.readBlobFile(path.c_str());
        _exit(read ? 1 : system.blobs.count() != 0 ? 2 : !system.blobFileIncomplete ? 3 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "cannot drop root rights to user nobody";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: read anyway, 2: blobs added, 3: not marked";
#endif
}
