// `vendra demo`: builds a throw-away demo instance and walks through what the
// system does so far, one step at a time. Each later piece of work adds its
// steps to kSteps below.

#include <stdlib.h>

#include <algorithm>
#include <iostream>
#include <map>
#include <sstream>
#include <system_error>

#include <pugixml.hpp>

#include "apps/instance/instance_setup.h"
#include "apps/vendra/commands.h"
#include "apps/vendra/demo.h"
#include "platform/host/instance.h"
#include "platform/services/log.h"

namespace vendra_cli {

namespace {

constexpr size_t kWidth = 78;
constexpr const char* kIndent = "   ";

std::string ShellQuote(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

// CR LF line ends of the error layout shown as plain lines; the leading empty
// line of the layout is dropped so the block starts with "ERROR 0x".
std::vector<std::string> Lines(std::string_view text) {
  std::vector<std::string> lines;
  std::string line;
  for (char c : text) {
    if (c == '\r') continue;
    if (c == '\n') {
      lines.push_back(std::move(line));
      line.clear();
    } else {
      line += c;
    }
  }
  if (!line.empty()) lines.push_back(std::move(line));
  while (!lines.empty() && lines.front().empty()) lines.erase(lines.begin());
  return lines;
}

std::string Hex(int32_t number) {
  std::ostringstream s;
  s << "0x" << std::uppercase << std::hex << static_cast<uint32_t>(number);
  return s.str();
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// ---------------------------------------------------------------- the steps

void StepInstance(DemoContext& demo) {
  demo.Say("The demo created a new instance with the demo shop, as 'vendra init --home DIR "
           "--demo' does. Everything the shop keeps at run time lives under this one "
           "directory, " + demo.home().string() + ":");
  static const std::map<std::string, std::string> kWhat = {
      {"platform.xml", "web applications and where their configuration lives"},
      {"config", "VendraConfiguration.xml (sales parameters), siteconfiguration.xml"},
      {"data", "the databases"},
      {"logs", "the platform log, one entry per line"},
      {"mail", "mail dropped into the pickup directory"},
      {"exchange", "export files exchanged with the ERP"},
  };
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(demo.home())) {
    names.push_back(entry.path().filename().string() + (entry.is_directory() ? "/" : ""));
  }
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    std::string bare = name.back() == '/' ? name.substr(0, name.size() - 1) : name;
    auto it = kWhat.find(bare);
    demo.Show(name, it == kWhat.end() ? "" : it->second);
  }
}

void StepParameters(DemoContext& demo) {
  demo.Say("Shop-wide settings come from Vendra.SalesParameter. The demo creates it by its "
           "identifier and calls GetParameterValue by name, as a web page does; it reads "
           "config/VendraConfiguration.xml on every call:");
  for (const char* name : {"EnableFreight", "TaxSource", "CreditCardUse", "Ship-from Zone",
                           "Expiration Period", "Send Notification"}) {
    std::vector<platform::Variant> args{platform::Variant(name)};
    demo.Show(name, Quoted(CallLateBound("Vendra.SalesParameter", "GetParameterValue", args)
                               .ToString()));
  }
  demo.Say("Blanks around a name do not matter when finding its section. A name the sales "
           "objects do not know (names are exact, so 'enablefreight' is one) gives empty "
           "text, not an error:");
  for (const char* name : {" EnableFreight ", "enablefreight"}) {
    std::vector<platform::Variant> args{platform::Variant(name)};
    demo.Show(Quoted(name), Quoted(CallLateBound("Vendra.SalesParameter", "GetParameterValue",
                                                 args)
                                       .ToString()));
  }
}

void StepDoor(DemoContext& demo) {
  demo.Say("'vendra call' is the same late-bound door from the shell: the arguments and the "
           "result travel as JSON. GetParameterValue takes its argument by reference, so the "
           "arguments are shown as they are after the call:");
  demo.ShowCall("Vendra.SalesParameter", "GetParameterValue", {"\"Expiration Period\""});
  demo.Say("An identifier nobody registered fails cleanly with error 429 naming it, written "
           "to standard error; the program exits with 1:");
  demo.ShowCall("Vendra.NoSuchObject", "Run", {});
}

void StepFailingRead(DemoContext& demo) {
  const std::filesystem::path file = demo.home() / "config" / "VendraConfiguration.xml";
  const std::string removed = "Logo";
  pugi::xml_document doc;
  if (!doc.load_file(file.c_str(), pugi::parse_default | pugi::parse_comments)) {
    platform::Raise(platform::err::kFileNotFound, "vendra.demo", "Cannot read " + file.string());
  }
  pugi::xpath_node item = doc.select_node(
      ("//section[@name='QUOTATION_PARAMETERS']/item[@key='" + removed + "']").c_str());
  if (!item) {
    platform::Raise(platform::err::kFileNotFound, "vendra.demo",
                    "The demo configuration holds no parameter " + removed);
  }
  item.node().parent().remove_child(item.node());
  if (!doc.save_file(file.c_str(), "  ")) {
    platform::Raise(platform::err::kPermissionDenied, "vendra.demo",
                    "Cannot write " + file.string());
  }

  demo.Say("Now the demo deletes the parameter '" + removed +
           "' from config/VendraConfiguration.xml and reads it again. A parameter the sales "
           "objects know but the file lacks is an error; the caller receives it with its "
           "number and source, and a description in the fixed layout:");
  const size_t entries_before = platform::ReadLogEntries().size();
  try {
    std::vector<platform::Variant> args{platform::Variant(removed)};
    CallLateBound("Vendra.SalesParameter", "GetParameterValue", args);
    demo.Say("(The read did not fail: the parameter was found after all.)");
  } catch (const platform::ComError& e) {
    demo.ShowError(e);
  }

  const std::vector<platform::LogEntry> entries = platform::ReadLogEntries();
  const size_t written = entries.size() - std::min(entries.size(), entries_before);
  demo.Say("The failure also wrote " + std::to_string(written) +
           (written == 1 ? " entry" : " entries") +
           " to logs/platform.log. The logged text holds the formatted block once more "
           "inside its DESC line, because the log records the failure as it stood when it "
           "was handled:");
  for (size_t i = entries_before; i < entries.size(); ++i) {
    const platform::LogEntry& entry = entries[i];
    demo.Show("time", entry.time);
    demo.Show("level", std::to_string(entry.level));
    demo.Show("source", entry.source);
    demo.Show("text", "");
    std::string block;
    for (const std::string& line : Lines(entry.text)) block += line + "\n";
    demo.Verbatim(block);
  }
}

}  // namespace

// The road of an order (demo_orders.cpp).
void StepOrderBasket(DemoContext& demo);
void StepOrderSubmit(DemoContext& demo);
void StepOrderSettings(DemoContext& demo);
void StepOrderRefused(DemoContext& demo);
void StepScript(DemoContext& demo);  // demo_script.cpp
// Price lists and the order document (demo_pricing.cpp).
void StepPricingWebPrice(DemoContext& demo);
void StepPricingOrderDocument(DemoContext& demo);
// On to the ERP (demo_erp.cpp).
void StepErpHandover(DemoContext& demo);
void StepErpAtOnce(DemoContext& demo);
void StepErpRefused(DemoContext& demo);
void StepImport(DemoContext& demo);  // demo_import.cpp
void StepErpDocuments(DemoContext& demo);
void StepFreight(DemoContext& demo), StepParameterTables(DemoContext& demo);  // demo_freight.cpp
void StepQuotation(DemoContext& demo), StepQuotationOrder(DemoContext& demo);  // demo_quotations.cpp
void StepMasterDelete(DemoContext& demo);  // demo_master.cpp
void StepQuotationDocument(DemoContext& demo);  // demo_quotation_reminders.cpp
void StepQuotationReminders(DemoContext& demo);

namespace {

// The walk-through, in order. Add new steps at the end of the part they
// belong to.
const DemoStep kSteps[] = {
    {"A fresh demo instance", StepInstance},
    {"Sales parameters, read late-bound", StepParameters},
    {"The late-bound door from the shell", StepDoor},
    {"Several steps on live objects: vendra script", StepScript},
    {"A failing read and its log entry", StepFailingRead},
    {"A basket for anna", StepOrderBasket},
    {"The basket becomes an order", StepOrderSubmit},
    {"Customer and back-end instance settings", StepOrderSettings},
    {"A basket that cannot be ordered", StepOrderRefused},
    {"Price lists and the web price", StepPricingWebPrice},
    {"A basket as its order document", StepPricingOrderDocument},
    {"The periodic hand-over to the ERP", StepErpHandover},
    {"An order numbered by the ERP at once", StepErpAtOnce},
    {"An order the ERP refuses", StepErpRefused},
    {"The ERP's documents of an order", StepErpDocuments},
    {"anna's basket becomes a quotation", StepQuotation},
    {"The quotation as its printable document", StepQuotationDocument},
    {"A changed quantity, then the quotation becomes an order", StepQuotationOrder},
    {"Quotation reminders: vendra notify-quotations", StepQuotationReminders},
    {"Product data import: prodloader and dtsrun", StepImport},
    {"Freight of anna's basket", StepFreight},
    {"Parameter tables through Vendra.Manager", StepParameterTables},
    {"Deleting master data: a refused and a completed delete", StepMasterDelete},
};

// The temporary directory goes when the demo ends, however it ends.
class ScratchDirectory {
 public:
  explicit ScratchDirectory(bool keep) : keep_(keep) {
    std::string pattern = (std::filesystem::temp_directory_path() / "vendra-demo-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
      platform::Raise(platform::err::kPermissionDenied, "vendra.demo",
                      "Cannot create a temporary directory under " +
                          std::filesystem::temp_directory_path().string());
    }
    path_ = pattern;
  }
  ~ScratchDirectory() {
    if (keep_) return;
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  bool keep_;
  std::filesystem::path path_;
};

}  // namespace

// ------------------------------------------------------------ the context

void DemoContext::EndTable() {
  if (in_table_) out_ << '\n';
  in_table_ = false;
}

void DemoContext::Heading(int number, std::string_view title) {
  EndTable();
  out_ << number << ". " << title << "\n\n";
}

void DemoContext::Say(std::string_view text) {
  EndTable();
  std::string line = kIndent;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find(' ', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view word = text.substr(pos, end - pos);
    if (line.size() > std::string_view(kIndent).size() && line.size() + 1 + word.size() > kWidth) {
      out_ << line << '\n';
      line = kIndent;
    }
    if (line.size() > std::string_view(kIndent).size()) line += ' ';
    line += word;
    pos = end + 1;
  }
  out_ << line << "\n\n";
}

void DemoContext::Show(std::string_view name, std::string_view value) {
  in_table_ = true;
  std::string left = std::string(kIndent) + "  " + std::string(name);
  if (value.empty()) {
    out_ << left << '\n';
    return;
  }
  left += ' ';
  while (left.size() < 30) left += '.';
  out_ << left << ' ' << value << '\n';
}

void DemoContext::Verbatim(std::string_view text) {
  in_table_ = false;
  for (const std::string& line : Lines(text)) out_ << kIndent << "    " << line << '\n';
  out_ << '\n';
}

int DemoContext::ShowCall(const std::string& progid, const std::string& method,
                          const std::vector<std::string>& arg_texts) {
  std::string command = "$ vendra --home " + ShellQuote(home_.string()) + " call " + progid + " " +
                        method;
  for (const std::string& arg : arg_texts) command += " " + ShellQuote(arg);
  std::ostringstream out;
  std::ostringstream err;
  const int code = RunCall(home_, progid, method, arg_texts, out, err);
  Verbatim(command + "\n" + out.str() + err.str());
  return code;
}

void DemoContext::ShowError(const platform::ComError& error) {
  Show("number", Hex(error.number()) + " (" + std::to_string(error.number()) + ")");
  Show("source", error.source());
  Show("description", "");
  Verbatim(error.description());
}

int RunDemo(bool keep, std::ostream& out, std::ostream& err) {
  try {
    ScratchDirectory scratch(keep);
    const std::filesystem::path home = scratch.path() / "shop";
    vendra_instance::CreateInstance(home, /*demo=*/true);
    platform::InstanceHome::Set(home);

    out << "Vendra demo\n===========\n\n";
    DemoContext demo(home, out);
    int failed = 0;
    int number = 0;
    for (const DemoStep& step : kSteps) {
      demo.Heading(++number, step.title);
      try {
        step.run(demo);
      } catch (...) {
        // One broken step should not hide what the others show.
        ++failed;
        const platform::ComError e = platform::CurrentError();
        out << kIndent << "THIS STEP FAILED:\n";
        demo.ShowError(e);
      }
    }
    demo.EndTable();
    if (keep) {
      out << "The demo instance is kept in " << home.string() << "; try\n"
          << kIndent << "vendra --home " << ShellQuote(home.string())
          << " call Vendra.SalesParameter GetParameterValue '\"EnableFreight\"'\n";
    } else {
      out << "The demo instance is removed now (keep it with 'vendra demo --keep').\n";
    }
    if (failed > 0) {
      err << "vendra demo: " << failed << " step(s) failed\n";
      return kExitFailed;
    }
    return kExitOk;
  } catch (...) {
    const platform::ComError e = platform::CurrentError();
    err << "vendra demo: " << e.description() << " (error " << e.number() << ")\n";
    return kExitFailed;
  }
}

}  // namespace vendra_cli
