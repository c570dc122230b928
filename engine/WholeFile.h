#pragma once

#include <filesystem>
#include <string_view>

namespace velkor {

// Replaces file with contents as a whole: they go to FILE.tmp beside it, are
// flushed to the disk and renamed over it, so that a kill or a failure at any
// moment leaves either the old file or the new one, never a part. Two writers
// of one file must not overlap (the simulated chip's state files are locked
// for that). Throws std::runtime_error with the reason when the file cannot
// be written.
void WriteFileWhole(const std::filesystem::path& file, std::string_view contents);

}  // namespace velkor
