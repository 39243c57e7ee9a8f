// `vendra init --home DIR [--demo]`: creates a new instance in DIR.

#include <iostream>

#include "apps/instance/instance_setup.h"
#include "apps/vendra/commands.h"
#include "platform/host/instance.h"

namespace vendra_cli {

std::optional<std::filesystem::path> ChosenHome(const std::string& home_option) {
  if (home_option.empty()) return std::nullopt;
  // Absolute, so the instance stays found whatever directory a component
  // resolves its paths from.
  return std::filesystem::absolute(home_option).lexically_normal();
}

int RunInit(const std::filesystem::path& home, bool demo, std::ostream& out, std::ostream& err,
            const std::string& database_url) {
  try {
    platform::InstanceHome::Set(home);
    vendra_instance::CreateInstance(home, demo, database_url);
  } catch (...) {
    const platform::ComError e = platform::CurrentError();
    err << "vendra init: " << e.description() << " (error " << e.number() << ")\n";
    return kExitFailed;
  }
  out << "Created " << (demo ? "a demo instance" : "an empty instance") << " in "
      << home.string() << "\n";
  return kExitOk;
}

}  // namespace vendra_cli
