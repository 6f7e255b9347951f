#include "model/BlobFile.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "model/SafeWrite.h"
#include "sim/ImplicitSurface.h"

namespace {

// "%5.5f": fixed point, five decimals, never an exponent. Sized by a first call, so a
// value of any magnitude is written in full.
std::string fixed(double value) {
    const int length = std::snprintf(nullptr, 0, "%5.5f", value);
    if (length <= 0) return std::string();
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    std::snprintf(&text[0], text.size(), "%5.5f", value);
    text.resize(static_cast<std::size_t>(length));
    return text;
}

// Size and FNV-1a hash of a file's bytes: enough to notice that someone changed the file,
// not meant against an adversary.
struct Fingerprint {
    std::uintmax_t size = 0;
    std::uint64_t hash = 14695981039346656037ull;
    bool valid = true;  // false when the file could not be read

    void add(unsigned char byte) {
        hash = (hash ^ byte) * 1099511628211ull;
        ++size;
    }
    bool operator==(const Fingerprint& other) const {
        return valid && other.valid && size == other.size && hash == other.hash;
    }
};

Fingerprint fingerprintOfFile(const std::string& path) {
    Fingerprint print;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        print.valid = false;
        return print;
    }
    unsigned char buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        for (std::size_t i = 0; i < n; ++i) print.add(buffer[i]);
    print.valid = !std::ferror(file);
    std::fclose(file);
    return print;
}

// The bytes that text mode puts on the disk for `text` on this platform.
Fingerprint fingerprintOfText(const std::string& text) {
    Fingerprint print;
    for (char c : text) {
#ifdef _WIN32
        if (c == '\n') print.add('\r');
#endif
        print.add(static_cast<unsigned char>(c));
    }
    return print;
}

// Far longer than any blob line the format can use, short enough that a file without line
// ends (a huge binary, /dev/zero) neither fills the memory nor keeps the reader going.
constexpr std::size_t longestLine = 1u << 20;

enum class LineRead { Line, End, TooLong };

// One line, its newline included when it has one, every byte also added to `bytes`. A
// carriage return before the newline is dropped, so a file written on Windows reads the
// same everywhere; the file is read in binary, so no other byte (a Ctrl-Z on Windows) ends
// the text early. End at the end of the file and on a read error (a line cut short by the
// error is not handed over); TooLong for a line of more than `longestLine` bytes.
LineRead readLine(std::FILE* file, std::string& line, Fingerprint& bytes) {
    line.clear();
    int c;
    while ((c = std::getc(file)) != EOF) {
        bytes.add(static_cast<unsigned char>(c));
        line.push_back(static_cast<char>(c));
        if (c == '\n') break;
        if (line.size() > longestLine) return LineRead::TooLong;
    }
    if (std::ferror(file)) return LineRead::End;
    const std::size_t n = line.size();
    if (n >= 2 && line[n - 1] == '\n' && line[n - 2] == '\r') line.erase(n - 2, 1);
    return line.empty() ? LineRead::End : LineRead::Line;
}

// True when a zero byte on a line that is no comment hides text after it: the line's
// numbers end at the zero byte, so that text never reaches the model.
bool hidesTextAfterZeroByte(const std::string& line) {
    if (line.compare(0, 2, "//") == 0) return false;
    const std::size_t zero = line.find('\0');
    if (zero == std::string::npos) return false;
    for (std::size_t i = zero + 1; i < line.size(); ++i)
        if (line[i] != ' ' && line[i] != '\n' && line[i] != '\0') return true;
    return false;
}

// True for a line that carries number text: neither a comment nor blank. Refusing such a
// line means the model does not hold everything the file says.
bool holdsNumberText(const char* line) {
    if (line[0] == '/' && line[1] == '/') return false;
    for (const char* p = line; *p; ++p)
        if (*p != ' ' && *p != '\n') return true;
    return false;
}

}  // namespace

bool ImplicitSurface::parseBlobLine(const char* line, double& radius,
                                    std::vector<geo::Vertex>& points) {
    if (!line) return false;
    if (line[0] == '/' && line[1] == '/') return false;
    if (std::strcmp(line, "\n") == 0) return false;

    // Numbers are separated by spaces and newlines only: a tab or a comma belongs to the
    // number's text, and strtod reads the longest numeric prefix of it (0.0 if none).
    std::vector<double> values;
    std::string text;
    for (const char* p = line;; ++p) {
        const char c = *p;
        if (c != ' ' && c != '\n' && c != '\0') {
            text.push_back(c);
            continue;
        }
        // Text pending at the end of the line counts too: a hand-written last line
        // without its newline keeps its last number.
        if (!text.empty()) {
            values.push_back(std::strtod(text.c_str(), nullptr));
            text.clear();
        }
        if (c == '\0') break;
    }

    if (values.empty() || (values.size() - 1) % 3 != 0) return false;
    // A radius or a coordinate the field cannot use would make it NaN or divide by zero.
    // So would a radius too small for five decimals: it is written as 0.00000, and the
    // written file would lose the blob when read back.
    if (!VessikObj::usableRadius(values[0]) ||
        !VessikObj::usableRadius(std::strtod(fixed(values[0]).c_str(), nullptr)))
        return false;
    for (std::size_t i = 1; i < values.size(); ++i)
        if (!std::isfinite(values[i])) return false;

    radius = values[0];
    for (std::size_t i = 1; i < values.size(); i += 3)
        points.emplace_back(values[i], values[i + 1], values[i + 2]);
    return true;
}

bool ImplicitSurface::readBlobFile(const char* fileName) {
    if (!fileName) return false;
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(fileName, ec);
    blobFilePath = ec ? std::string(fileName) : absolute.string();
    blobFileIncomplete = false;
    blobFileSize = 0;
    blobFileHash = 0;
    std::vector<geo::Vertex> points;
    std::FILE* file = std::fopen(fileName, "rb");
    if (!file) {
        // A file that is there but cannot be opened is a model we do not hold: it must
        // not be replaced at exit by the default blob.
        if (std::filesystem::exists(fileName, ec)) blobFileIncomplete = true;
        return false;
    }

    bool result = true;
    Fingerprint bytes;
    std::string line;
    LineRead read;
    while ((read = readLine(file, line, bytes)) == LineRead::Line) {
        if (hidesTextAfterZeroByte(line)) blobFileIncomplete = true;
        points.clear();
        double radius = 0.0;
        if (!parseBlobLine(line.c_str(), radius, points)) {
            if (holdsNumberText(line.c_str())) blobFileIncomplete = true;
            continue;
        }
        VessikObj* blob = addBlob(radius);
        if (static_cast<int>(points.size()) != blob->pointCount()) {
            // The blob stays, centred at the origin; the rest of the file is not read.
            result = false;
            blobFileIncomplete = true;
            break;
        }
        for (std::size_t i = 0; i < points.size(); ++i)
            *blob->point(static_cast<int>(i)) = points[i];
    }
    // An over-long line stops the reading like a line of the wrong kind. On Linux a folder
    // opens like a file and fails on the first read.
    if (read == LineRead::TooLong || std::ferror(file)) {
        result = false;
        blobFileIncomplete = true;
    }
    std::fclose(file);
    blobFileSize = bytes.size;
    blobFileHash = bytes.hash;
    return result;
}

bool blobFileReadable(const std::string& fileName, std::string* error) {
    std::error_code ec;
    int reason = 0;
    if (std::filesystem::is_directory(fileName, ec)) {
        reason = EISDIR;
    } else if (std::FILE* file = std::fopen(fileName.c_str(), "rb")) {
        errno = 0;
        std::getc(file);
        if (std::ferror(file)) reason = errno ? errno : EIO;
        std::fclose(file);
    } else {
        reason = errno ? errno : ENOENT;
    }
    if (reason != 0) setError(error, "cannot read " + fileName + ": " + std::strerror(reason));
    return reason == 0;
}

void loadBlobFile(ImplicitSurface& system, const std::string& fileName) {
    if (!system.readBlobFile(fileName.c_str())) {
        VessikObj* blob = system.addBlob(defaultBlobRadius);
        blob->centre() = geo::Vertex(0.0, 0.0, 0.0);
    }
}

std::string blobFileText(geo::QList& systems) {
    std::string text;
    for (void* entry = systems.first(); entry; entry = systems.next()) {
        ImplicitSurface* system = static_cast<ImplicitSurface*>(entry);
        VessikList& blobs = system->blobs;
        text += "// New Implicit System\n//   Blobs = " + std::to_string(blobs.count()) +
                "\n//   Stability = " + fixed(system->stableFraction) + "\n";
        // In the model's own units, whatever scale the simulation ran at.
        for (VessikObj* blob = blobs.first(); blob; blob = blobs.next()) {
            text += "  " + fixed(system->toModelUnits(blob->radiusPower(1)));
            for (int i = 0; i < blob->pointCount(); ++i) {
                const geo::Vertex p = system->toModelUnits(*blob->point(i));
                text += "  " + fixed(p.x) + "  " + fixed(p.y) + "  " + fixed(p.z);
            }
            text += "\n";
        }
    }
    return text;
}

namespace {

// Why the file at `path` must be kept before `written` replaces it, or "" when nothing of
// it would be lost: it holds just that text already, or it is the file the model holds
// (read completely, or written by this program) and nobody has changed it since.
std::string reasonToKeep(geo::QList& systems, const std::string& path, const Fingerprint& written) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return "";
    const Fingerprint now = fingerprintOfFile(path);
    if (now == written) return "";
    bool held = false;
    for (int i = 0; i < systems.count(); ++i) {
        const ImplicitSurface* system = static_cast<ImplicitSurface*>(systems.at(i));
        if (system->blobFilePath.empty() ||
            !std::filesystem::equivalent(system->blobFilePath, path, ec))
            continue;
        if (system->blobFileIncomplete) return "was not fully read";
        Fingerprint then;
        then.size = system->blobFileSize;
        then.hash = system->blobFileHash;
        if (!(now == then)) return "has changed since it was read";
        held = true;
    }
    return held ? "" : "is not the file the model was read from";
}

}  // namespace

bool writeBlobFile(geo::QList& systems, const char* fileName, std::string* error,
                   std::string* notice) {
    const std::string path = fileName ? fileName : defaultBlobFileName;
    const std::string text = blobFileText(systems);
    const Fingerprint written = fingerprintOfText(text);
    std::string reason, keptAs;
    const bool ok = writeFileSafely(
        path,
        [&text](std::FILE* file) {
            return std::fwrite(text.data(), 1, text.size(), file) == text.size();
        },
        error,
        [&] {
            reason = reasonToKeep(systems, path, written);
            return reason;
        },
        &keptAs);
    if (!ok) return false;
    if (notice) *notice = keptAs.empty() ? "" : path + " " + reason + "; it is kept as " + keptAs;
    // The model now holds exactly this file: written again, it is simply replaced, unless
    // someone changes it meanwhile.
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    for (int i = 0; i < systems.count(); ++i) {
        ImplicitSurface* system = static_cast<ImplicitSurface*>(systems.at(i));
        system->blobFilePath = ec ? path : absolute.string();
        system->blobFileIncomplete = false;
        system->blobFileSize = written.size;
        system->blobFileHash = written.hash;
    }
    return true;
}
