// The frame around every command that goes to the port, and the commands
// that the window and the command line share.
#include "Programmer.h"

#include <cstdlib>

#ifndef _WIN32
#include <pwd.h>
#include <unistd.h>
#endif

namespace velkor {

Programmer::Programmer(PortOperations& port, Clock& clock, Log& log) : port_(port), clock_(clock), log_(log) {}

bool Programmer::RunInCommandFrame(const std::function<bool()>& operation)
{
    port_.OpenDriver(PortAddress);
    if (!port_.ActiveHW()) {
        const std::string reason = port_.OpenFailure();
        log_.Append(reason.empty() ? "Cannot open the port." : "Cannot open the port: " + reason);
        return false;
    }
    bool succeeded = false;
    try {
        succeeded = operation();
    } catch (const Interrupted&) {
        log_.Append("Interrupted.");
    }
    ReleasePort();
    port_.CloseDriver();
    return succeeded;
}

bool Programmer::ReadSignatureCommand()
{
    log_.Clear();
    return RunInCommandFrame([this] { return EnterProgramming(true); });
}

bool Programmer::WriteCommand(const std::filesystem::path& hexFile)
{
    log_.Clear();
    return RunInCommandFrame([this, &hexFile] { return WriteHexFile(hexFile); });
}

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
