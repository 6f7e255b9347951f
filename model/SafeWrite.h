// Writes a text file so that the previous file survives any failure and any second writer:
// the text goes to an exclusively created temporary file beside the target, is flushed to
// the disk, gets the old file's permissions and only then is renamed over the target. A
// crash, a full disk or another run writing the same folder leaves the old file in place.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

// Why the file now at the target must be kept before it is replaced ("was not fully
// read", ...), or "" when it may simply go. Asked once the new text is safely on disk.
using KeepReason = std::function<std::string()>;

// Opens a temporary file in text mode beside `path` (so line feeds become the platform's
// line ends), hands it to `write`, and on success renames it over `path`. When `keepReason`
// gives a reason, the old file is first kept under a free name "<path>.unread",
// "<path>.unread1", ..., which goes to `keptAs`; the target never goes missing meanwhile.
// False, with `path` untouched and the temporary removed, when anything fails; `error`
// then says what.
bool writeFileSafely(const std::string& path, const std::function<bool(std::FILE*)>& write,
                     std::string* error = nullptr, const KeepReason& keepReason = nullptr,
                     std::string* keptAs = nullptr);

// Puts `text` into `error` when the caller asked for the reason of a failure (non-null):
// every writer and reader reports its failures this way.
void setError(std::string* error, const std::string& text);

// Whether writeFileSafely could write `path`: it is no folder and a temporary file can be
// made in its folder (one is made and removed again). False with `error` set otherwise.
bool canWriteFile(const std::string& path, std::string* error = nullptr);

// The temporaries are named ".dz" + 8 hexadecimal digits + ".tmp" whatever the target, so
// a target name of any legal length leaves room for them. A run that was killed while
// writing leaves one behind; the next write in that folder removes those older than
// `staleTemporaryMinutes`, far longer than any write takes, so they never pile up.
bool isWriterTemporary(const std::string& fileName);
constexpr int staleTemporaryMinutes = 10;
