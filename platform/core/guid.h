// Guid is a random (version 4) identifier from the platform's GUID source, in
// the classic field layout so callers can render it field by field.
//
// Thread-safety: NewGuid may be called from any thread.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace platform {

struct Guid {
  uint32_t data1 = 0;
  uint16_t data2 = 0;
  uint16_t data3 = 0;
  std::array<uint8_t, 8> data4{};
};

// nullopt when the system has no randomness to give.
std::optional<Guid> NewGuid();

}  // namespace platform
