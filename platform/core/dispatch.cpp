#include "platform/core/dispatch.h"

namespace platform::dispatch_detail {

std::string FoldName(std::string_view name) {
  std::string key(name);
  for (char& c : key) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return key;
}

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

}  // namespace platform::dispatch_detail
