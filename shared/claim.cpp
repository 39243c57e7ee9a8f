#include "shared/claim.h"

#include "platform/core/com_error.h"
#include "platform/data/errors.h"

namespace lib_sales {

namespace {
// Each collision means another run committed claims in the meantime, so a
// few tries suffice however many web servers run at once.
constexpr int kClaimTries = 5;
}  // namespace

void ExecuteClaim(platform::data::Connection& connection, const std::string& sql, platform::Variant* claimed) {
  for (int attempt = 1;; ++attempt) {
    try {
      connection.Execute(sql, claimed, platform::data::adCmdText | platform::data::adExecuteNoRecords);
      return;
    } catch (const platform::ComError&) {
      const auto errors = connection.Errors();
      const bool key_taken = errors && errors->Count() > 0 && errors->Item(0)->SQLState() == "23000";
      if (!key_taken || attempt == kClaimTries) throw;
    }
  }
}

}  // namespace lib_sales
