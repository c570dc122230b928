// The folders the programs read from and keep their state in, by platform.
#include "UserFolders.h"

#include <cstdlib>

#ifndef _WIN32
#include <pwd.h>
#include <unistd.h>
#endif

namespace velkor {

#ifndef _WIN32
namespace {
// $HOME, else the home folder in the user's password entry; empty when
// neither names one.
std::filesystem::path HomeFolder()
{
    const char* home = std::getenv("HOME");
    if (home != nullptr && *home != '\0') {
        return home;
    }
    // Without HOME (a service, a cron job, env -i) the user's entry in the
    // password database still knows it; never the current folder.
    const passwd* entry = ::getpwuid(::getuid());
    if (entry != nullptr && entry->pw_dir != nullptr && *entry->pw_dir != '\0') {
        return entry->pw_dir;
    }
    return {};
}
}  // namespace
#endif

std::filesystem::path DefaultHexFilePath()
{
#ifdef _WIN32
    return std::filesystem::path("c:\\avrtools\\avr.hex");
#else
    const std::filesystem::path home = HomeFolder();
    return home.empty() ? home : home / "avrtools" / "avr.hex";
#endif
}

std::filesystem::path UserStateFolder()
{
#ifdef _WIN32
    const char* local = std::getenv("LOCALAPPDATA");
    return local != nullptr && *local != '\0' ? std::filesystem::path(local) / "velkor" : std::filesystem::path();
#else
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && *state == '/') {
        return std::filesystem::path(state) / "velkor";
    }
    const std::filesystem::path home = HomeFolder();
    return home.empty() ? home : home / ".local" / "state" / "velkor";
#endif
}

}  // namespace velkor
