#include "WholeFile.h"

#include <fstream>
#include <system_error>

namespace velkor {

std::string SaveFileWhole(const std::filesystem::path& path, std::string_view content)
{
    std::filesystem::path temporary = path;
    temporary += ".part";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(content.data(), static_cast<std::streamsize>(content.size()));
        out.close();
        if (!out) {
            std::error_code ignored;
            std::filesystem::remove(temporary, ignored);
            return "cannot write " + temporary.string();
        }
    }
    std::error_code error;
    std::filesystem::rename(temporary, path, error);
    if (error) {
        const std::string reason = error.message();
        std::filesystem::remove(temporary, error);
        return "cannot rename " + temporary.string() + " to " + path.string() + ": " + reason;
    }
    return {};
}

}  // namespace velkor
