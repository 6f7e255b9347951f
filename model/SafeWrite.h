// Writes a text file so that the previous file survives any failure: the text goes to a
// temporary file beside the target, which is renamed over the target only once every byte
// is written and the file closed. A crash or a full disk leaves the old file in place.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

// Opens a temporary file in text mode beside `path` (so line feeds become the platform's
// line ends), hands it to `write`, and on success renames it over `path`. False, with
// `path` untouched and the temporary removed, when anything fails; `error` then says what.
bool writeFileSafely(const std::string& path, const std::function<bool(std::FILE*)>& write,
                     std::string* error = nullptr);

// Renames `path` to the first free name "<path>.unread", "<path>.unread1", ... so a file the
// program could not fully read survives being replaced. Returns the new name, or "" when
// there was no such file or the rename failed.
std::string keepAside(const std::string& path);
