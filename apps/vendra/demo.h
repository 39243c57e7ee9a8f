// The demo is a list of steps, each showing in plain words one thing the
// system does, run in order on a throw-away demo instance. A step is a
// function taking the DemoContext; to show something new, write the step
// (in demo.cpp or a demo_<topic>.cpp of its own) and add it to the list in
// demo.cpp.
//
// Thread-safety: the demo runs on the main thread only.
#pragma once

#include <filesystem>
#include <initializer_list>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/com_error.h"
#include "platform/core/variant.h"

namespace vendra_cli {

class DemoContext {
 public:
  DemoContext(std::filesystem::path home, std::ostream& out) : home_(std::move(home)), out_(out) {}

  const std::filesystem::path& home() const { return home_; }
  std::ostream& out() { return out_; }

  // The title of a step.
  void Heading(int number, std::string_view title);
  // A paragraph of plain text, wrapped to the width of a terminal.
  void Say(std::string_view text);
  // "  name ........ value" lines of a small table.
  void Show(std::string_view name, std::string_view value);
  // Text shown as it is, indented (command lines, JSON, error texts).
  void Verbatim(std::string_view text);

  // Runs `vendra call` in-process exactly as the shell would, printing the
  // command line and what the program prints. Returns the call's exit code.
  int ShowCall(const std::string& progid, const std::string& method,
               const std::vector<std::string>& arg_texts);

  // A failure as the caller receives it: number, source and the description
  // in its fixed layout, one line per line.
  void ShowError(const platform::ComError& error);

  // Closes a table with an empty line before whatever comes next.
  void EndTable();

 private:
  std::filesystem::path home_;
  std::ostream& out_;
  bool in_table_ = false;
};

struct DemoStep {
  const char* title;
  void (*run)(DemoContext&);
};

}  // namespace vendra_cli
