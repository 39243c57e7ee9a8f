// The vendra program: `init` creates an instance, `call` and `script` are the
// late-bound door from the shell, `demo` shows on a throw-away instance what
// works.

#include <iostream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "apps/instance/instance_setup.h"
#include "apps/vendra/commands.h"
#include "apps/vendra/erp_documents.h"

namespace {

// The arguments of `call` after METHOD belong to the called operation and are
// taken verbatim: left to the option parser, a JSON array such as [2,99] would
// be split at its commas and a number such as -5 read as an option. Returns
// them and shortens argc so the parser sees the command line up to METHOD.
std::vector<std::string> TakeCallArguments(int& argc, char** argv) {
  auto is_home = [](std::string_view a) { return a == "--home"; };
  int i = 1;
  for (; i < argc; ++i) {  // program options before the command word
    std::string_view a = argv[i];
    if (is_home(a)) {
      ++i;
    } else if (a.empty() || a.front() != '-') {
      break;
    }
  }
  if (i >= argc || std::string_view(argv[i]) != "call") return {};
  int positionals = 0;
  for (++i; i < argc && positionals < 2; ++i) {  // options, PROGID, METHOD
    std::string_view a = argv[i];
    if (is_home(a)) {
      ++i;
    } else if (a.empty() || a.front() != '-') {
      ++positionals;
    }
  }
  if (positionals < 2) return {};
  std::vector<std::string> args(argv + i, argv + argc);
  argc = i;
  return args;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace vendra_cli;
  std::vector<std::string> call_arguments = TakeCallArguments(argc, argv);

  CLI::App app{"Vendra: the business layer of the B2B web shop", "vendra"};
  app.option_defaults()->always_capture_default(false);
  // Options of the program may follow the command word ("vendra init --home DIR").
  app.fallthrough();
  app.require_subcommand(1);

  std::string home_option;
  app.add_option("--home", home_option, "Instance home directory")
      ->envname("VENDRA_HOME")
      ->type_name("DIR");

  bool demo_data = false;
  CLI::App* init = app.add_subcommand("init", "Create a new instance in the home directory");
  init->add_flag("--demo", demo_data, "Fill the databases with the demo shop");
  std::string database_url;
  init->add_option("--database", database_url,
                   "Keep the databases on a PostgreSQL server: postgresql://user@host:port/prefix")
      ->type_name("URL");

  std::string progid;
  std::string method;
  CLI::App* call = app.add_subcommand(
      "call", "Create an object by identifier and call an operation by name");
  call->add_option("PROGID", progid, "Programmatic identifier, e.g. Vendra.SalesParameter")
      ->required();
  call->add_option("METHOD", method, "Operation or property name")->required();
  call->footer(
      "[ARG ...] after METHOD: each a JSON text, or @FILE holding JSON (@- reads standard input),\n"
      "taken as it stands. See docs/late-bound-calling.md for how values are written in JSON.");

  std::string script_file = "-";
  CLI::App* script = app.add_subcommand(
      "script", "Run a request: a JSON array of steps on objects that live across the steps");
  script->add_option("FILE", script_file, "The script; - or none: standard input")
      ->type_name("FILE");
  script->footer(
      "Steps: {\"new\": PROGID, \"as\": NAME}, {\"call\": \"NAME.Method\", \"args\": [...]},\n"
      "{\"let\": \"NAME.Property\", \"value\": V}, {\"get\": \"NAME.Property\"}, {\"release\": NAME};\n"
      "\"as\" names what a call or get returns, {\"$ref\": NAME} passes a named object itself,\n"
      "{\"$object\": PROGID} a new one, \"continue\": true goes on after the step fails.\n"
      "Prints one JSON array, one answer per step; exit 1 when a step or a release failed.\n"
      "See docs/late-bound-calling.md.");

  bool keep = false;
  CLI::App* demo = app.add_subcommand("demo", "Show what works, on a throw-away instance");
  demo->add_flag("--keep", keep, "Keep the demo instance instead of removing it");

  int32_t handover_instance = 0;
  CLI::App* handover = app.add_subcommand("handover", "Hand an instance's waiting orders to the ERP");
  handover->add_option("--instance", handover_instance, "Back-end instance id")->required();
  CLI::App* notify_quotations = app.add_subcommand(
      "notify-quotations", "Mail the quotation reminders that are due (for cron)");
  int32_t erp_instance = 0;
  std::string erp_order_nr;
  CLI::App* erp = app.add_subcommand("erp", "Show what the ERP received")->require_subcommand(1);
  CLI::App* erp_order = erp->add_subcommand("order", "One sales order as JSON");
  erp_order->add_option("KROID", erp_instance)->required();
  erp_order->add_option("SALESORDERNR", erp_order_nr)->required();
  CLI::App* erp_orders = erp->add_subcommand("orders", "The instance's sales orders as JSON");
  erp_orders->add_option("KROID", erp_instance)->required();
  ErpDocumentOptions erp_documents;
  AddErpDocumentCommands(*erp, erp_documents);
  std::string master_kind;
  std::vector<std::string> master_key;
  CLI::App* master = app.add_subcommand("master", "Maintain master data")->require_subcommand(1);
  CLI::App* master_delete = master->add_subcommand(
      "delete", "Delete a master record unless sales data refers to it (docs/master-data.md)");
  master_delete->add_option("KIND", master_kind, "CUSTOMER, PRODUCT, CURRENCY, ...")->required();
  master_delete->add_option("KEY", master_key, "FIELD=VALUE, e.g. BUSINESSPARTNERID=1004")->required();

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::cout << (app.get_subcommands().empty() ? app.help()
                                                : app.get_subcommands().front()->help());
    return kExitOk;
  } catch (const CLI::CallForAllHelp&) {
    std::cout << app.help("", CLI::AppFormatMode::All);
    return kExitOk;
  } catch (const CLI::ParseError& e) {
    CLI::App* where = app.get_subcommands().empty() ? &app : app.get_subcommands().front();
    std::cerr << "vendra: " << e.what() << "\n\n" << where->help();
    return kExitUsage;
  }

  vendra_instance::RegisterAllComponents();
  const std::optional<std::filesystem::path> home = ChosenHome(home_option);

  if (init->parsed()) {
    if (!home) {
      std::cerr << "vendra: init needs --home DIR (or VENDRA_HOME)\n\n" << init->help();
      return kExitUsage;
    }
    return RunInit(*home, demo_data, std::cout, std::cerr, database_url);
  }
  if (call->parsed()) return RunCall(home, progid, method, call_arguments, std::cout, std::cerr);
  if (script->parsed()) return RunScript(home, script_file, std::cout, std::cerr);
  if (handover->parsed()) return RunHandover(home, handover_instance, std::cout, std::cerr);
  if (notify_quotations->parsed()) return RunNotifyQuotations(home, std::cout, std::cerr);
  if (erp_order->parsed()) return RunErpOrder(home, erp_instance, erp_order_nr, std::cout, std::cerr);
  if (erp_orders->parsed()) return RunErpOrders(home, erp_instance, std::cout, std::cerr);
  if (erp_documents.parsed()) return RunErpDocumentCommand(home, erp_documents, std::cout, std::cerr);
  if (master_delete->parsed()) return RunMasterDelete(home, master_kind, master_key, std::cout, std::cerr);
  return RunDemo(keep, std::cout, std::cerr);
}
