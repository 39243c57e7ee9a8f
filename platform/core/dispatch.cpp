#include "platform/core/dispatch.h"
#include "platform/core/text.h"

namespace platform::dispatch_detail {

std::string FoldName(std::string_view name) { return text::LowerAscii(name); }

void RaiseMemberNotFound(std::string_view type, std::string_view name) {
  std::string where = std::string(type) + "." + std::string(name);
  Raise(err::kMemberNotFound, std::string(type),
        StandardErrorText(err::kMemberNotFound) + ": " + where);
}

void RaiseArgumentCount(std::string_view type, std::string_view name) {
  std::string where = std::string(type) + "." + std::string(name);
  Raise(err::kWrongArgumentCount, std::string(type),
        StandardErrorText(err::kWrongArgumentCount) + ": " + where);
}

void RaiseReadOnly(std::string_view type, std::string_view name) {
  // The number stays 438, as a late-bound caller sees for a property put the
  // object does not take; the text says why.
  std::string where = std::string(type) + "." + std::string(name);
  Raise(err::kMemberNotFound, std::string(type),
        StandardErrorText(err::kMemberNotFound) + ": " + where + " is read-only");
}

}  // namespace platform::dispatch_detail
