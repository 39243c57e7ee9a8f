// `vendra script [FILE | -]`: one request of steps through the late-bound
// door (apps/vendra/script.h), its answers printed as one JSON array.

#include <iostream>
#include <string>

#include "apps/vendra/commands.h"
#include "apps/vendra/script.h"

namespace vendra_cli {

int RunScript(const std::optional<std::filesystem::path>& home, const std::string& file,
              std::ostream& out, std::ostream& err) {
  ScriptOutcome outcome;
  try {
    UseHome(home);
    outcome = ExecuteScript(ReadScriptText(file));
  } catch (...) {
    outcome.answers = platform::Json::array();
    platform::Json entry = platform::Json::object();
    entry["error"] = ErrorDocument(platform::CurrentError());
    outcome.answers.push_back(std::move(entry));
    outcome.failed = true;
  }
  try {
    out << platform::DumpJson(outcome.answers, 2) << '\n' << std::flush;
  } catch (...) {
    err << platform::DumpJson(ErrorDocument(platform::CurrentError()), 2) << '\n' << std::flush;
    return kExitFailed;
  }
  return outcome.failed ? kExitFailed : kExitOk;
}

}  // namespace vendra_cli
