// What the wallpaper run decides from plain values: whether an end of the saver's process came so soon
// that the saver closed because it was taken over, and whether it may be started again after an end.
#pragma once
#include <algorithm>
#include <array>
#include <cstdint>

// Measured from the moment the saver took its place in the host. A saver that quits on being taken over
// does so at once; a crash or device loss comes later.
constexpr std::uint64_t kEarlyEndMs = 3000;
inline bool IsEarlyEnd(std::uint64_t now, std::uint64_t startTick) { return now - startTick < kEarlyEndMs; }

// A saver that keeps ending is started again at most this many times within kRestartWindowMs.
constexpr std::uint64_t kRestartWindowMs = 10 * 60 * 1000;
// The ticks of the latest restarts, oldest first; 0 marks a free slot.
using RestartHistory = std::array<std::uint64_t, 3>;

inline bool RestartAllowed(const RestartHistory& restarts, std::uint64_t now) {
  return restarts.front() == 0 || now - restarts.front() >= kRestartWindowMs;
}

inline void RecordRestart(RestartHistory& restarts, std::uint64_t now) {
  std::rotate(restarts.begin(), restarts.begin() + 1, restarts.end());
  restarts.back() = now;
}
