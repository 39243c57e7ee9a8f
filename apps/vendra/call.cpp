// `vendra call PROGID METHOD [ARG ...]`: the late-bound door from the shell.
// A script creates the object by identifier and calls the operation by name,
// exactly as a page would; the values travel as JSON (apps/vendra/json.h).

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string_view>

#include "apps/vendra/commands.h"
#include "platform/core/object.h"
#include "platform/host/instance.h"
#include "platform/host/registry.h"

namespace vendra_cli {

namespace {

constexpr const char* kSource = "vendra.call";

std::string ReadWholeFile(const std::string& name, const std::string& what) {
  if (name == "-") {
    return std::string(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
  }
  std::ifstream in(name, std::ios::binary);
  if (!in) {
    platform::Raise(platform::err::kFileNotFound, kSource,
                    what + ": cannot read file '" + name + "' (" + std::strerror(errno) + ")");
  }
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) {
    platform::Raise(platform::err::kFileNotFound, kSource,
                    what + ": reading file '" + name + "' failed");
  }
  return text.str();
}

// The shell eats the quotes of a bare word, so `GetParameterValue EnableFreight`
// arrives as EnableFreight: say how to pass it as text.
bool CouldBeJson(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return false;
  const char c = text[first];
  return std::string_view("{[\"-0123456789tfn").find(c) != std::string_view::npos;
}

}  // namespace

std::vector<platform::Variant> ReadArguments(const std::vector<std::string>& arg_texts) {
  // {"$object": PROGID} is a new object of that identifier, released with the
  // other arguments after the call.
  platform::ObjectTags tags;
  tags.create = [](const std::string& progid) { return platform::Variant(NewObject(progid)); };
  std::vector<platform::Variant> args;
  args.reserve(arg_texts.size());
  for (size_t i = 0; i < arg_texts.size(); ++i) {
    const std::string& text = arg_texts[i];
    std::string what = "Argument " + std::to_string(i + 1);
    if (!text.empty() && text.front() == '@') {
      const std::string name = text.substr(1);
      what += " (file '" + name + "')";
      args.push_back(platform::ParseJson(ReadWholeFile(name, what), what, tags));
      continue;
    }
    try {
      args.push_back(platform::ParseJson(text, what, tags));
    } catch (const platform::ComError& e) {
      if (CouldBeJson(text)) throw;
      std::string quoted = platform::ToJsonText(platform::Variant(text));
      throw platform::ComError(e.number(), e.source(),
                               e.description() + " (text is passed in JSON quotes: '" +
                                   quoted + "')");
    }
  }
  return args;
}

platform::ObjectPtr NewObject(const std::string& progid) {
  platform::ObjectPtr object = platform::CreateObject(progid);
  if (!object) {
    platform::Raise(platform::err::kCannotCreateObject, kSource,
                    "ActiveX component can't create object: " + progid);
  }
  return object;
}

void UseHome(const std::optional<std::filesystem::path>& home) {
  if (!home) return;
  // A mistyped home would otherwise surface later as a puzzling
  // configuration failure deep inside the call.
  std::error_code ec;
  if (!std::filesystem::is_regular_file(*home / "platform.xml", ec)) {
    platform::Raise(platform::err::kInvalidProcedureCall, kSource,
                    "No instance at " + home->string() +
                        " (platform.xml is missing); create one with 'vendra init --home " +
                        home->string() + "'");
  }
  platform::InstanceHome::Set(*home);
}

platform::Variant CallLateBound(const std::string& progid, const std::string& method,
                                std::vector<platform::Variant>& args) {
  platform::ObjectPtr object = NewObject(progid);
  // A property getter is bound like a method, so one kind of call reaches both.
  return object->Invoke(method, platform::CallKind::Method, args);
}

platform::Json ResultDocument(const platform::Variant& result,
                              const std::vector<platform::Variant>& args) {
  platform::Json doc = platform::Json::object();
  doc["result"] = platform::ToJson(result);
  platform::Json out_args = platform::Json::array();
  for (const platform::Variant& arg : args) out_args.push_back(platform::ToJson(arg));
  doc["args"] = std::move(out_args);
  return doc;
}

platform::Json ErrorDocument(const platform::ComError& error) {
  platform::Json doc = platform::Json::object();
  doc["number"] = error.number();
  doc["source"] = error.source();
  doc["description"] = error.description();
  return doc;
}

int RunCall(const std::optional<std::filesystem::path>& home, const std::string& progid,
            const std::string& method, const std::vector<std::string>& arg_texts,
            std::ostream& out, std::ostream& err) {
  const auto dump = [](const platform::Json& doc) { return platform::DumpJson(doc, 2); };
  try {
    UseHome(home);
    std::vector<platform::Variant> args = ReadArguments(arg_texts);
    platform::Variant result = CallLateBound(progid, method, args);
    // Rendered before anything is printed, so a value JSON cannot carry
    // fails the call cleanly instead of leaving half a document behind.
    const std::string text = dump(ResultDocument(result, args));
    out << text << '\n' << std::flush;
    return kExitOk;
  } catch (...) {
    err << dump(ErrorDocument(platform::CurrentError())) << '\n' << std::flush;
    return kExitFailed;
  }
}

}  // namespace vendra_cli
