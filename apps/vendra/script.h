// A script is one request through the late-bound door: a JSON array of steps
// run in order inside one object context, as a page runs its request, so the
// objects it creates, and the documents and record sets their operations
// return, stay the same live objects from step to step.
//
//   [{"new": "Vendra.Basket", "as": "b"},
//    {"call": "b.Create", "args": ["anna", 1001], "as": "doc"},
//    {"call": "b.AddLine", "args": [{"$ref": "doc"}, 7, 2.0, {"$date": "2026-12-08"}, false, ""]},
//    {"let": "c.CommandTimeout", "value": 60}, {"get": "c.CommandTimeout"},
//    {"release": "b"}]
//
// The answer is one JSON array with one entry per step ({"result", "args"}
// of a call, {"result"} of the others, {"error": {number, source,
// description}} of a failed step); the first failure ends the script unless
// its step says "continue": true. The objects the script still holds are
// released at its end in the reverse order of their creation, and a failure
// of their end-of-life work (platform::Terminable) is one more error entry.
// docs/late-bound-calling.md describes the steps for page developers.
//
// Thread-safety: ExecuteScript opens the object context on the calling thread and
// closes it before it returns; scripts on different threads do not meet.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "apps/vendra/json.h"

namespace vendra_cli {

// Larger scripts are refused before they are parsed: a request of 16 MB holds
// hundreds of thousands of steps, and the parsed form costs several times the
// text.
inline constexpr std::size_t kMaxScriptBytes = 16u * 1024u * 1024u;

struct ScriptOutcome {
  platform::Json answers = platform::Json::array();
  // A step failed without "continue", the script was refused, or releasing
  // an object failed.
  bool failed = false;
};

// Runs the script text. A text that is not a well-formed script is refused
// as a whole (nothing runs; one error entry); the answers never raise.
ScriptOutcome ExecuteScript(std::string_view text);

// The text of a script file ("-": standard input), refusing one larger than
// kMaxScriptBytes without reading it all. Raises 53 for a file that cannot be
// read and 7 for one too large.
std::string ReadScriptText(const std::string& file);

}  // namespace vendra_cli
