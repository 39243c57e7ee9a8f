// The instance is the home directory that holds all run-time state of one
// shop installation: platform.xml, config/, data/, logs/, mail/pickup/,
// exchange/. The program sets it once from --home or VENDRA_HOME; tests point
// it at a fresh temporary instance. Components find their files through it.
//
// Thread-safety: set before work starts (or between tests); read anywhere.
#pragma once

#include <filesystem>

namespace platform {

class InstanceHome {
 public:
  static void Set(const std::filesystem::path& home);
  // Raises 5 with a clear text when no home has been set.
  static std::filesystem::path Get();
  static bool IsSet();
  // Forgets the home (tests that check the unset case).
  static void Clear();
};

// Resolves a path from configuration: "\" separators become "/", a relative
// path is taken against the instance home.
std::filesystem::path ResolveInstancePath(const std::string& path);

}  // namespace platform
