#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace velkor {

// Replaces file with contents as a whole: they go to a new temporary file of
// a unique, short name in the same folder (created exclusively, so a link
// planted there is never followed), are flushed to the disk and renamed over
// the file, so that a kill or a failure at any moment leaves either the old
// file or the new one, never a part, and no temporary file after a failure.
// The replaced file keeps its permission bits; a new one gets the usual
// mode. A file the user may not write is not replaced. Concurrent writers of
// one file each replace it whole; the last rename wins. Throws
// std::runtime_error with the reason when the file cannot be written.
void WriteFileWhole(const std::filesystem::path& file, std::string_view contents);

// Appends contents to the end of file, created when missing, and flushes it
// to the disk before returning; headerWhenEmpty goes first into a file that
// has nothing in it yet. Throws std::runtime_error with the reason when the
// file cannot be written.
void AppendToFile(const std::filesystem::path& file, std::string_view contents, std::string_view headerWhenEmpty);

// A fresh random name for a temporary file: short, so that it fits wherever
// the name of the file it stands in for does.
std::string TemporaryFileName();

}  // namespace velkor
