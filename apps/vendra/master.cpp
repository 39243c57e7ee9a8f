// `vendra master delete KIND FIELD=VALUE...`: the operators' door to the
// master-data maintenance. Deletes the record when nothing refers to it and
// prints what went with it; otherwise prints who holds it and changes
// nothing.

#include <ostream>

#include "apps/vendra/commands.h"
#include "platform/core/com_error.h"
#include "platform/services/master_data.h"

namespace vendra_cli {

namespace {
constexpr char kSource[] = "vendra.master";
}

int RunMasterDelete(const std::optional<std::filesystem::path>& home, const std::string& kind,
                    const std::vector<std::string>& key_texts, std::ostream& out,
                    std::ostream& err) {
  try {
    EnterInstance(home, "master delete");
    std::vector<std::pair<std::string, platform::Variant>> key;
    for (const std::string& text : key_texts) {
      const size_t eq = text.find('=');
      if (eq == std::string::npos || eq == 0) {
        platform::Raise(platform::err::kInvalidProcedureCall, kSource,
                        "'" + text + "' is no FIELD=VALUE pair");
      }
      key.emplace_back(text.substr(0, eq), platform::Variant(text.substr(eq + 1)));
    }
    const platform::MasterDeleteOutcome outcome = platform::DeleteMasterRecord(kind, key);
    if (!outcome.deleted) {
      out << "refused: " << outcome.record << " is still referred to; nothing was changed\n";
      for (const std::string& holder : outcome.held_by) out << "  held by " << holder << "\n";
      out << std::flush;
      return kExitFailed;
    }
    out << "deleted: " << outcome.record << "\n";
    for (const std::string& removed : outcome.removed) out << "  removed " << removed << "\n";
    out << std::flush;
    return kExitOk;
  } catch (...) {
    const platform::ComError e = platform::CurrentError();
    err << "vendra master delete: " << e.description() << " (error " << e.number() << ", "
        << e.source() << ")\n";
    return kExitFailed;
  }
}

}  // namespace vendra_cli
