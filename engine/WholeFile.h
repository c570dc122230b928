#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace velkor {

// Writes content to a temporary file beside path, then renames it to path:
// path holds either what it held before or all of content, never a part.
// Empty on success, else why it failed.
std::string SaveFileWhole(const std::filesystem::path& path, std::string_view content);

}  // namespace velkor
