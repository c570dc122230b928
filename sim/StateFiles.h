#pragma once

// How the simulated chip's state file and the virtual port's files are
// shared between processes; each is written with WriteFileWhole while its
// lock is held.

#include <filesystem>
#include <functional>
#include <string_view>

#include "WholeFile.h"

namespace velkor::sim {

// An exclusive lock on a state file between processes, held from loading the
// file to saving it, so that a second command on it waits and then sees the
// first one's result. The lock lives on FILE.lock beside the file: the file
// itself is replaced by every save, and a lock on the replaced one would
// protect nothing.
class StateFileLock {
public:
    using WaitReport = std::function<void(const std::filesystem::path& file)>;

    // Blocks while another process holds the lock, after calling reportWait
    // once. Throws std::runtime_error with the reason when the lock file
    // cannot be made.
    StateFileLock(const std::filesystem::path& file, const WaitReport& reportWait);
    ~StateFileLock();

    StateFileLock(const StateFileLock&) = delete;
    StateFileLock& operator=(const StateFileLock&) = delete;

private:
    void* handle_;
};

}  // namespace velkor::sim
