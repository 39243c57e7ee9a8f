// The demo's master-data maintenance: the operator deletes a customer. For
// Hallvard, whose users have baskets and orders by now, the delete is
// refused and names who holds the customer; for Nordvik Marine, which only
// has settings and prices, they go with it.

#include <sstream>
#include <string>
#include <vector>

#include "apps/vendra/commands.h"
#include "apps/vendra/demo.h"

namespace vendra_cli {

namespace {

void ShowMasterDelete(DemoContext& demo, const std::string& kind, const std::string& key) {
  std::ostringstream out;
  std::ostringstream err;
  RunMasterDelete(demo.home(), kind, {key}, out, err);
  demo.Verbatim("$ vendra master delete " + kind + " " + key + "\n" + out.str() + err.str());
}

}  // namespace

void StepMasterDelete(DemoContext& demo) {
  demo.Say(
      "Before the platform deletes a customer, a product or any other master record, it asks "
      "every sales class whether its data still refers to the record, and lets each remove the "
      "rows that only depend on it. Hallvard's users have baskets and orders, so its delete is "
      "refused and nothing changes:");
  ShowMasterDelete(demo, "CUSTOMER", "BUSINESSPARTNERID=1001");
  demo.Say(
      "Nordvik Marine has never ordered: its settings and agreed prices are removed with it, "
      "in one transaction with the customer itself.");
  ShowMasterDelete(demo, "CUSTOMER", "BUSINESSPARTNERID=1004");
}

}  // namespace vendra_cli
