#include "platform/core/guid.h"

#include <sys/random.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>

namespace platform {

namespace {

// The kernel's random source first; the standard library's device when the
// call is not available.
bool FillRandom(uint8_t* out, size_t n) {
  size_t done = 0;
  while (done < n) {
    ssize_t got = getrandom(out + done, n - done, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      break;
    }
    done += static_cast<size_t>(got);
  }
  if (done == n) return true;
  try {
    thread_local std::random_device device;
    for (size_t i = 0; i < n; i += 4) {
      uint32_t word = device();
      std::memcpy(out + i, &word, std::min<size_t>(4, n - i));
    }
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace

std::optional<Guid> NewGuid() {
  uint8_t bytes[16];
  if (!FillRandom(bytes, sizeof bytes)) return std::nullopt;
  Guid g;
  std::memcpy(&g.data1, bytes, 4);
  std::memcpy(&g.data2, bytes + 4, 2);
  std::memcpy(&g.data3, bytes + 6, 2);
  std::memcpy(g.data4.data(), bytes + 8, 8);
  g.data3 = static_cast<uint16_t>((g.data3 & 0x0FFF) | 0x4000);       // version 4
  g.data4[0] = static_cast<uint8_t>((g.data4[0] & 0x3F) | 0x80);      // RFC 4122 variant
  return g;
}

}  // namespace platform
