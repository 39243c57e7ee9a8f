#include "apps/vendra/script.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/core/com_error.h"
#include "platform/core/dictionary.h"
#include "platform/core/dispatch.h"
#include "platform/core/object.h"
#include "platform/host/context.h"
#include "platform/services/message_manager.h"

namespace vendra_cli {

namespace {

using platform::Json;
using platform::ObjectPtr;
using platform::Variant;

constexpr const char* kSource = "vendra.script";
// The classic "Variable is undefined": a name no step has defined (yet).
constexpr int32_t kVariableUndefined = 500;

enum class StepKind { kNew, kCall, kLet, kGet, kRelease };

struct KindInfo {
  StepKind kind;
  const char* word;
  std::array<const char*, 4> extras;  // the other members the step may carry
};

constexpr std::array<KindInfo, 5> kKinds{{
    {StepKind::kNew, "new", {"as", "continue", nullptr, nullptr}},
    {StepKind::kCall, "call", {"args", "as", "continue", nullptr}},
    {StepKind::kLet, "let", {"args", "value", "continue", nullptr}},
    {StepKind::kGet, "get", {"args", "as", "continue", nullptr}},
    {StepKind::kRelease, "release", {"continue", nullptr, nullptr, nullptr}},
}};

struct Step {
  StepKind kind = StepKind::kCall;
  std::string object;  // the name the step works on; the identifier of a new
  std::string member;  // the operation or property of call, let and get
  const Json* args = nullptr;   // in the parsed script, which outlives the run
  const Json* value = nullptr;  // of a let
  std::string as;
  bool go_on = false;
};

[[noreturn]] void Refuse(size_t number, const std::string& what) {
  platform::Raise(platform::err::kInvalidProcedureCall, kSource,
                  "Step " + std::to_string(number) + ": " + what);
}

std::string Shown(const Json& json) {
  std::string text = platform::DumpJson(json);
  constexpr size_t kShort = 60;
  if (text.size() > kShort) text = text.substr(0, kShort) + "...";
  return text;
}

// A name of the script: not empty, and without the dot that separates it
// from a member.
bool IsName(const std::string& text) {
  return !text.empty() && text.find('.') == std::string::npos && text.front() != '$';
}

std::string TextMember(const Json& step, const char* key, size_t number) {
  const Json& value = step.at(key);
  if (!value.is_string() || value.get<std::string>().empty()) {
    Refuse(number, std::string("\"") + key + "\" needs a text, not " + Shown(value));
  }
  return value.get<std::string>();
}

// Checks one step's shape and takes it apart; the run itself never meets a
// malformed step, so a script with one runs nothing.
Step Compile(const Json& json, size_t number) {
  if (!json.is_object()) Refuse(number, "a step is a JSON object, not " + Shown(json));
  const KindInfo* info = nullptr;
  for (const KindInfo& k : kKinds) {
    if (!json.contains(k.word)) continue;
    if (info) {
      Refuse(number, std::string("a step has one kind, not both \"") + info->word + "\" and \"" +
                         k.word + "\"");
    }
    info = &k;
  }
  if (!info) {
    std::string keys;
    for (const auto& item : json.items()) {
      keys += (keys.empty() ? "\"" : ", \"") + item.key() + "\"";
    }
    Refuse(number, "unknown step kind (" + (keys.empty() ? std::string("no members") : keys) +
                       "); a step is one of new, call, let, get, release");
  }
  for (const auto& item : json.items()) {
    const std::string& key = item.key();
    if (key == info->word) continue;
    const bool allowed = std::any_of(info->extras.begin(), info->extras.end(),
                                     [&key](const char* e) { return e && key == e; });
    if (!allowed) {
      std::string takes = info->word;
      for (const char* e : info->extras) {
        if (e) takes += std::string(", ") + e;
      }
      Refuse(number, "\"" + key + "\" is not part of a " + info->word + " step (it takes " +
                         takes + ")");
    }
  }

  Step step;
  step.kind = info->kind;
  const std::string target = TextMember(json, info->word, number);
  switch (step.kind) {
    case StepKind::kNew:
      step.object = target;
      if (!json.contains("as")) Refuse(number, "a new object needs a name (\"as\")");
      break;
    case StepKind::kRelease:
      if (!IsName(target)) Refuse(number, "\"" + target + "\" is not a name to release");
      step.object = target;
      break;
    default: {
      const size_t dot = target.find('.');
      if (dot == std::string::npos || dot == 0 || dot + 1 == target.size()) {
        Refuse(number, "\"" + target + "\" does not name an object and a member (\"name.Member\")");
      }
      step.object = target.substr(0, dot);
      step.member = target.substr(dot + 1);
      if (!IsName(step.object)) Refuse(number, "\"" + step.object + "\" is not a name");
    }
  }
  if (json.contains("as")) {
    step.as = TextMember(json, "as", number);
    if (!IsName(step.as)) {
      Refuse(number, "\"" + step.as + "\" cannot be a name (no dot, no leading $)");
    }
  }
  if (json.contains("args")) {
    step.args = &json.at("args");
    if (!step.args->is_array()) Refuse(number, "\"args\" needs an array, not " + Shown(*step.args));
  }
  if (step.kind == StepKind::kLet) {
    if (!json.contains("value")) Refuse(number, "a let needs the new \"value\"");
    step.value = &json.at("value");
  }
  if (json.contains("continue")) {
    const Json& go_on = json.at("continue");
    if (!go_on.is_boolean()) {
      Refuse(number, "\"continue\" needs true or false, not " + Shown(go_on));
    }
    step.go_on = go_on.get<bool>();
  }
  return step;
}

Json ErrorEntry(const platform::ComError& error) {
  Json doc = Json::object();
  doc["number"] = error.number();
  doc["source"] = error.source();
  doc["description"] = error.description();
  Json entry = Json::object();
  entry["error"] = std::move(doc);
  return entry;
}

// Drops one reference the script holds. When it was the last one, an object
// with end-of-life work runs it now, and its failure is raised here.
void Release(Variant& value) {
  Variant held = std::move(value);
  value = Variant();
  if (!held.IsObject()) return;
  ObjectPtr object = held.ToObject();
  held = Variant();
  if (!object) return;
  auto terminable = std::dynamic_pointer_cast<platform::Terminable>(object);
  // `object` and `terminable` are the only references left when the script
  // held the last one.
  if (terminable && object.use_count() == 2) {
    object.reset();
    terminable->Terminate();
  }
}

// Runs the compiled steps inside the object context the caller opened.
class Run {
 public:
  explicit Run(platform::ObjectContext& context) : context_(context) {}
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;

  // Answers the steps in order, up to the first failure not to be continued.
  bool Steps(const std::vector<Step>& steps, Json& answers) {
    for (size_t i = 0; i < steps.size(); ++i) {
      try {
        answers.push_back(Perform(steps[i], i + 1));
      } catch (...) {
        answers.push_back(ErrorEntry(platform::CurrentError()));
        if (!steps[i].go_on) return false;
      }
    }
    return true;
  }

  // Releases what the script still holds, newest first; every failure is an
  // entry of its own and the remaining objects are released all the same.
  bool ReleaseAll(Json& answers) {
    bool ok = true;
    for (size_t i = held_.size(); i-- > 0;) {
      Held& h = held_[i];
      if (!h.live) continue;
      h.live = false;
      try {
        Release(h.value);
      } catch (...) {
        Json entry = ErrorEntry(platform::CurrentError());
        Json label = h.name.empty() ? Json{{"$object", h.progid}} : Json(h.name);
        Json named = Json::object();
        named["release"] = std::move(label);
        named["error"] = std::move(entry["error"]);
        answers.push_back(std::move(named));
        ok = false;
      }
    }
    held_.clear();
    names_.clear();
    return ok;
  }

 private:
  struct Held {
    std::string name;    // empty for an object an argument created
    std::string progid;  // what created it, for the report of a failed release
    Variant value;
    bool live = true;
  };

  Json Perform(const Step& step, size_t number) {
    switch (step.kind) {
      case StepKind::kNew: {
        CheckFree(step.as, number);
        Variant object(Create(step.object));
        Json answer = Json::object();
        answer["result"] = platform::ToJson(object);
        Define(step.as, std::move(object), step.object);
        return answer;
      }
      case StepKind::kCall:
      case StepKind::kGet: {
        if (!step.as.empty()) CheckFree(step.as, number);
        const ObjectPtr target = Target(step.object, number);
        std::vector<std::optional<std::string>> refs;
        std::vector<Variant> args = Arguments(step, number, refs);
        const platform::CallKind kind = step.kind == StepKind::kCall
                                            ? platform::CallKind::Method
                                            : platform::CallKind::PropertyGet;
        Variant result = target->Invoke(step.member, kind, args);
        Json answer = Json::object();
        answer["result"] = platform::ToJson(result);
        if (step.kind == StepKind::kCall) {
          Json out = Json::array();
          for (size_t i = 0; i < args.size(); ++i) {
            if (refs[i]) {
              // Passed by reference: the name now holds what the callee left
              // in the argument, and the answer says so instead of copying it.
              Held& h = held_[names_.at(*refs[i])];
              h.value = args[i];
              out.push_back(args[i].IsObject() ? Json{{"$ref", *refs[i]}}
                                               : platform::ToJson(args[i]));
            } else {
              out.push_back(platform::ToJson(args[i]));
            }
          }
          answer["args"] = std::move(out);
        }
        if (!step.as.empty()) Define(step.as, std::move(result), {});
        return answer;
      }
      case StepKind::kLet: {
        const ObjectPtr target = Target(step.object, number);
        std::vector<std::optional<std::string>> refs;
        std::vector<Variant> args = Arguments(step, number, refs);
        args.push_back(Value(*step.value, "value", number));
        target->Invoke(step.member, platform::CallKind::PropertyPut, args);
        return Json{{"result", platform::ToJson(Variant())}};
      }
      case StepKind::kRelease: {
        const size_t index = IndexOf(step.object, number);
        names_.erase(step.object);
        Held& h = held_[index];
        h.live = false;
        Release(h.value);
        return Json{{"result", platform::ToJson(Variant())}};
      }
    }
    Refuse(number, "unknown step kind");
  }

  ObjectPtr Create(const std::string& progid) {
    ObjectPtr object = context_.CreateInstance(progid);
    if (!object) {
      platform::Raise(platform::err::kCannotCreateObject, kSource,
                      "ActiveX component can't create object: " + progid);
    }
    return object;
  }

  void CheckFree(const std::string& name, size_t number) const {
    if (names_.count(name) != 0) {
      Refuse(number, "the name '" + name + "' is in use; release it first or choose another");
    }
  }

  void Define(const std::string& name, Variant value, const std::string& progid) {
    names_[name] = held_.size();
    held_.push_back(Held{name, progid, std::move(value), true});
  }

  size_t IndexOf(const std::string& name, size_t number) const {
    auto it = names_.find(name);
    if (it == names_.end()) {
      platform::Raise(kVariableUndefined, kSource,
                      "Step " + std::to_string(number) + ": Variable is undefined: '" + name +
                          "' (no step before names it, or it was released)");
    }
    return it->second;
  }

  ObjectPtr Target(const std::string& name, size_t number) const {
    const Variant& value = held_[IndexOf(name, number)].value;
    ObjectPtr object = value.IsObject() ? value.ToObject() : nullptr;
    if (!object) {
      platform::Raise(platform::err::kObjectRequired, kSource,
                      "Step " + std::to_string(number) + ": Object required: '" + name +
                          "' holds no object");
    }
    return object;
  }

  platform::ObjectTags Tags(size_t number) {
    platform::ObjectTags tags;
    tags.create = [this](const std::string& progid) {
      Variant object(Create(progid));
      held_.push_back(Held{{}, progid, object, true});
      return object;
    };
    tags.refer = [this, number](const std::string& name) {
      return held_[IndexOf(name, number)].value;
    };
    return tags;
  }

  Variant Value(const Json& json, const std::string& what, size_t number) {
    try {
      return platform::FromJson(json, Tags(number));
    } catch (const platform::ComError& e) {
      if (e.source() == kSource) throw;  // says where already
      throw platform::ComError(e.number(), e.source(),
                               "Step " + std::to_string(number) + ", " + what + ": " +
                                   e.description());
    }
  }

  // The step's arguments; refs[i] names the script object passed by
  // reference as argument i (a {"$ref"} standing alone).
  std::vector<Variant> Arguments(const Step& step, size_t number,
                                 std::vector<std::optional<std::string>>& refs) {
    std::vector<Variant> args;
    if (!step.args) return args;
    args.reserve(step.args->size() + 1);
    refs.reserve(step.args->size());
    for (size_t i = 0; i < step.args->size(); ++i) {
      const Json& arg = (*step.args)[i];
      if (arg.is_object() && arg.size() == 1 && arg.contains("$ref") && arg["$ref"].is_string()) {
        const std::string name = arg["$ref"].get<std::string>();
        args.push_back(held_[IndexOf(name, number)].value);
        refs.emplace_back(name);
      } else {
        args.push_back(Value(arg, "argument " + std::to_string(i + 1), number));
        refs.emplace_back();
      }
    }
    return args;
  }

  platform::ObjectContext& context_;
  std::vector<Held> held_;                         // in the order the script acquired them
  std::unordered_map<std::string, size_t> names_;  // name -> index in held_
};

}  // namespace

ScriptOutcome ExecuteScript(std::string_view text) {
  ScriptOutcome outcome;
  Json script;
  std::vector<Step> steps;
  try {
    if (text.size() > kMaxScriptBytes) {
      platform::Raise(platform::err::kOutOfMemory, kSource,
                      "The script is larger than " + std::to_string(kMaxScriptBytes >> 20) +
                          " MB; split the request");
    }
    script = platform::ParseJsonDocument(text, "The script");
    if (!script.is_array()) {
      platform::Raise(platform::err::kInvalidProcedureCall, kSource,
                      "A script is a JSON array of steps, not " + Shown(script));
    }
    steps.reserve(script.size());
    for (size_t i = 0; i < script.size(); ++i) steps.push_back(Compile(script[i], i + 1));
  } catch (...) {
    outcome.answers.push_back(ErrorEntry(platform::CurrentError()));
    outcome.failed = true;
    return outcome;
  }

  // The request's object context, as the component host gives a page: the
  // web application's state with its message manager.
  auto application = platform::Dictionary::New();
  platform::InstallMessageManager(*application);
  platform::Activity activity(application);
  Run run(activity.context());
  const bool completed = run.Steps(steps, outcome.answers);
  const bool released = run.ReleaseAll(outcome.answers);
  outcome.failed = !completed || !released;
  return outcome;
}

std::string ReadScriptText(const std::string& file) {
  const auto too_large = [] {
    platform::Raise(platform::err::kOutOfMemory, kSource,
                    "The script is larger than " + std::to_string(kMaxScriptBytes >> 20) +
                        " MB; split the request");
  };
  std::ifstream opened;
  std::istream* in = &std::cin;
  if (file != "-") {
    opened.open(file, std::ios::binary);
    if (!opened) {
      platform::Raise(platform::err::kFileNotFound, kSource,
                      "Cannot read the script '" + file + "' (" + std::strerror(errno) + ")");
    }
    in = &opened;
  }
  // Read in pieces up to one byte past the limit, so a huge file or an
  // endless pipe is refused without being held.
  std::string text;
  std::array<char, 64 * 1024> buffer;
  while (*in) {
    in->read(buffer.data(), buffer.size());
    text.append(buffer.data(), static_cast<size_t>(in->gcount()));
    if (text.size() > kMaxScriptBytes) too_large();
  }
  if (in->bad()) {
    platform::Raise(platform::err::kFileNotFound, kSource,
                    "Reading the script '" + file + "' failed");
  }
  return text;
}

}  // namespace vendra_cli
