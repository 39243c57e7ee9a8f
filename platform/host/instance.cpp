#include "platform/host/instance.h"

#include <algorithm>
#include <mutex>
#include <optional>

#include "platform/core/com_error.h"

namespace platform {

namespace {

std::mutex g_mutex;
std::optional<std::filesystem::path> g_home;

}  // namespace

void InstanceHome::Set(const std::filesystem::path& home) {
  // Kept absolute, so a later change of working directory cannot move it.
  std::filesystem::path absolute = std::filesystem::absolute(home).lexically_normal();
  if (!absolute.has_filename() && absolute != absolute.root_path()) absolute = absolute.parent_path();
  std::lock_guard lock(g_mutex);
  g_home = std::move(absolute);
}

std::filesystem::path InstanceHome::Get() {
  {
    std::lock_guard lock(g_mutex);
    if (g_home) return *g_home;
  }
  Raise(err::kInvalidProcedureCall, "platform.InstanceHome",
        "No instance home is set: use --home or VENDRA_HOME");
}

bool InstanceHome::IsSet() {
  std::lock_guard lock(g_mutex);
  return g_home.has_value();
}

void InstanceHome::Clear() {
  std::lock_guard lock(g_mutex);
  g_home.reset();
}

std::filesystem::path ResolveInstancePath(const std::string& path) {
  std::string text = path;
  std::replace(text.begin(), text.end(), '\\', '/');
  std::filesystem::path p(text);
  if (p.is_absolute()) return p.lexically_normal();
  return (InstanceHome::Get() / p).lexically_normal();
}

}  // namespace platform
