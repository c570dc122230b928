#pragma once

// How long the programmer waits after each self-timed operation before it
// sends the next instruction. An instruction sent while a chip is still busy
// is lost, so every chip record is held to these.

namespace velkor {

inline constexpr unsigned kEraseWaitMs = 20;
inline constexpr unsigned kPageWaitMs = 10;
// A flash byte whose write cannot be confirmed by polling is waited out.
inline constexpr unsigned kByteWaitMs = 5;
inline constexpr unsigned kFuseWaitMs = 10;
inline constexpr unsigned kLockWaitMs = 20;

}  // namespace velkor
