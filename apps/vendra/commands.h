// The commands of the vendra program (init, call, demo) and the pieces of the
// late-bound door the demo shows off. main.cpp parses the command line and
// hands over here; each command returns the program's exit code: 0 done,
// 1 failed (the failure already written to the error stream), 2 usage.
//
// Thread-safety: the program runs its command on the main thread.
#pragma once

#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/com_error.h"
#include "platform/core/variant.h"
#include "apps/vendra/json.h"

namespace vendra_cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// --home, else VENDRA_HOME, made absolute; nullopt when neither is given.
std::optional<std::filesystem::path> ChosenHome(const std::string& home_option);

// database_url: a PostgreSQL server for the databases (empty: SQLite files).
int RunInit(const std::filesystem::path& home, bool demo, std::ostream& out, std::ostream& err,
            const std::string& database_url = {});

// `vendra call`: the home (when one is chosen) must hold an instance.
int RunCall(const std::optional<std::filesystem::path>& home, const std::string& progid,
            const std::string& method, const std::vector<std::string>& arg_texts,
            std::ostream& out, std::ostream& err);

// `vendra script [FILE | -]`: runs the script (apps/vendra/script.h) and
// prints its answers on out; 1 when a step or a release failed.
int RunScript(const std::optional<std::filesystem::path>& home, const std::string& file,
              std::ostream& out, std::ostream& err);

int RunDemo(bool keep, std::ostream& out, std::ostream& err);

// Makes the chosen home the instance to work on; raises 5 when it holds no
// instance. Without a home the objects that need none still work.
void UseHome(const std::optional<std::filesystem::path>& home);
// As UseHome, for the commands that need an instance: raises 5 without a
// home too, naming the command (handover.cpp).
void EnterInstance(const std::optional<std::filesystem::path>& home, const char* command);

// Creates an object by identifier; 429 for one nobody registered.
platform::ObjectPtr NewObject(const std::string& progid);
// `vendra handover --instance N` (handover.cpp); `vendra erp order|orders` (erp.cpp).
int RunHandover(const std::optional<std::filesystem::path>& home, int32_t instance,
                std::ostream& out, std::ostream& err);
// `vendra notify-quotations` (notify_quotations.cpp).
int RunNotifyQuotations(const std::optional<std::filesystem::path>& home, std::ostream& out,
                        std::ostream& err);
int RunErpOrder(const std::optional<std::filesystem::path>& home, int32_t kro_id,
                const std::string& sales_order, std::ostream& out, std::ostream& err);
int RunErpOrders(const std::optional<std::filesystem::path>& home, int32_t kro_id,
                 std::ostream& out, std::ostream& err);
// `vendra master delete KIND FIELD=VALUE...` (master.cpp): prints what was
// removed, or who holds the record (exit 1).
int RunMasterDelete(const std::optional<std::filesystem::path>& home, const std::string& kind,
                    const std::vector<std::string>& key_texts, std::ostream& out,
                    std::ostream& err);

// The arguments of a call from their command-line texts: JSON, or "@FILE"
// ("@-" for standard input) holding JSON; {"$object": PROGID} creates a new
// object. Raises 13 for bad JSON and 53 for a file that cannot be read,
// naming the argument.
std::vector<platform::Variant> ReadArguments(const std::vector<std::string>& arg_texts);

// Creates the object by identifier and calls the operation by name; in/out
// values come back in args.
platform::Variant CallLateBound(const std::string& progid, const std::string& method,
                                std::vector<platform::Variant>& args);

// {"result": ..., "args": [...]} and {"number": N, "source": ..., "description": ...}.
platform::Json ResultDocument(const platform::Variant& result,
                              const std::vector<platform::Variant>& args);
platform::Json ErrorDocument(const platform::ComError& error);

}  // namespace vendra_cli
