#include "model/BlobFile.h"

#include <cmath>
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

// One whole line of any length, its newline included when it has one. A carriage return
// before the newline is dropped, as text mode does on Windows, so a file written there
// reads the same everywhere. False at the end of the file and on a read error (a line cut
// short by the error is not handed over).
bool readLine(std::FILE* file, std::string& line) {
    line.clear();
    int c;
    while ((c = std::getc(file)) != EOF) {
        line.push_back(static_cast<char>(c));
        if (c == '\n') break;
    }
    if (std::ferror(file)) return false;
    const std::size_t n = line.size();
    if (n >= 2 && line[n - 1] == '\n' && line[n - 2] == '\r') line.erase(n - 2, 1);
    return !line.empty();
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
    std::vector<geo::Vertex> points;
    std::FILE* file = std::fopen(fileName, "rt");
    if (!file) {
        // A file that is there but cannot be opened is a model we do not hold: it must
        // not be replaced at exit by the default blob.
        if (std::filesystem::exists(fileName, ec)) blobFileIncomplete = true;
        return false;
    }

    bool result = true;
    std::string line;
    while (readLine(file, line)) {
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
    // On Linux a folder opens like a file and fails on the first read.
    if (std::ferror(file)) {
        result = false;
        blobFileIncomplete = true;
    }
    std::fclose(file);
    return result;
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

bool writeBlobFile(geo::QList& systems, const char* fileName, std::string* error) {
    const std::string path = fileName ? fileName : "blobs.dat";
    // A file some system read only in part holds blobs the model lacks: it is moved aside
    // before being replaced, or not replaced at all. Once aside, it is safe for good.
    std::vector<ImplicitSurface*> readInPart;
    for (int i = 0; i < systems.count(); ++i) {
        ImplicitSurface* system = static_cast<ImplicitSurface*>(systems.at(i));
        std::error_code ec;
        if (system->blobFileIncomplete && !system->blobFilePath.empty() &&
            std::filesystem::equivalent(system->blobFilePath, path, ec))
            readInPart.push_back(system);
    }
    if (!readInPart.empty()) {
        if (keepAside(path).empty()) {
            if (error)
                *error = path + ": was not fully read and could not be moved aside; not replaced";
            return false;
        }
        for (ImplicitSurface* system : readInPart) system->blobFileIncomplete = false;
    }
    const std::string text = blobFileText(systems);
    return writeFileSafely(
        path,
        [&text](std::FILE* file) {
            return std::fwrite(text.data(), 1, text.size(), file) == text.size();
        },
        error);
}
