#include "Log.h"

namespace velkor {

void Log::Append(std::string_view text)
{
    for (;;) {
        const auto lineEnd = text.find("\r\n");
        if (lineEnd == std::string_view::npos) {
            AppendLine(text);
            return;
        }
        AppendLine(text.substr(0, lineEnd));
        text.remove_prefix(lineEnd + 2);
    }
}

}  // namespace velkor
