// The demo's request of several steps: `vendra script` creates a basket,
// adds lines to the one live document through a reference, saves it and
// reads it back by the id the document carries; then a property is set and
// read, a failing step is recorded and passed over, and the basket deleted.

#include <sstream>
#include <string>

#include "apps/vendra/commands.h"
#include "apps/vendra/demo.h"
#include "apps/vendra/script.h"
#include "platform/core/com_error.h"

namespace vendra_cli {

namespace {

constexpr const char* kBasketScript = R"([
  {"new": "Vendra.Basket", "as": "basket"},
  {"call": "basket.Create", "args": ["anna", 1001], "as": "doc"},
  {"call": "basket.AddLine", "args": [{"$ref": "doc"}, 7, 2.0, {"$date": "2026-12-08"}, false, ""]},
  {"call": "basket.AddLine", "args": [{"$ref": "doc"}, 12, 1.0, {"$date": "2026-12-08"}, false, ""]},
  {"call": "basket.Save", "args": [{"$ref": "doc"}]},
  {"get": "doc.Item", "args": ["header"], "as": "header"},
  {"get": "header.Value", "args": ["BASKETID"], "as": "id"},
  {"call": "basket.Restore", "args": [{"$ref": "id"}], "as": "restored"},
  {"get": "restored.Item", "args": ["lines"], "as": "lines"},
  {"get": "lines.RecordCount"},
  {"new": "ADODB.Connection", "as": "c"},
  {"let": "c.CommandTimeout", "value": 60},
  {"get": "c.CommandTimeout"},
  {"get": "c.Colour", "continue": true},
  {"call": "basket.Delete", "args": [{"$ref": "id"}]}
])";

// One line per answer: a document's record sets are long, so an answer is
// cut where it would run past the terminal.
std::string Summary(const platform::Json& answer) {
  std::string text = platform::DumpJson(answer);
  constexpr size_t kWidth = 90;
  if (text.size() > kWidth) text = text.substr(0, kWidth - 3) + "...";
  return text;
}

}  // namespace

void StepScript(DemoContext& demo) {
  demo.Say("'vendra script' runs a request of several steps on objects that live from step "
           "to step, as a page does: the basket document created by one step is the same "
           "document the next steps change ({\"$ref\": \"doc\"}), and the id read from it is "
           "passed on without being copied by hand. The last step deletes the basket again, "
           "so the next steps start from the shop as it was. The script:");
  demo.Verbatim(kBasketScript);
  const ScriptOutcome outcome = ExecuteScript(kBasketScript);
  demo.Say("Its answers, one per step (the property that does not exist fails with 438; the "
           "step says \"continue\", so the script goes on):");
  std::ostringstream lines;
  for (size_t i = 0; i < outcome.answers.size(); ++i) {
    lines << i + 1 << ". " << Summary(outcome.answers[i]) << '\n';
  }
  demo.Verbatim(lines.str());
  if (outcome.failed) {
    platform::Raise(platform::err::kInvalidProcedureCall, "vendra.demo",
                    "The script failed: " + Summary(outcome.answers.back()));
  }
}

}  // namespace vendra_cli
