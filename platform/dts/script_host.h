// ScriptHost is the script engine of one package run: an embedded Lua 5.4
// state in which the package's task code (stored as text in the package)
// runs. Every task gets an environment of its own over the shared globals,
// so two tasks may both define Main; the package's global variables live in
// one table all tasks share (DTSGlobalVariables(name).Value), so an object
// one task stores there (the open exception log) is there for the next.
//
// What task code sees:
//   DTSGlobalVariables(name).Value            read or set a package variable
//   DTSSource(name) / DTSSource[name]          the current source row's value (nil: Null)
//   DTSSourceColumns                           the source column names, in order
//   DTSDestination[name] = value               a destination value of the row
//   DTSLookups(name).Execute(...)              a named lookup: its first row's value,
//                                              a list for several columns, nil for no row
//   DTSTransformStat_* / DTSTransformstat_*    the row results; DTSTaskExecResult_*
//   CreateObject("Scripting.FileSystemObject") FolderExists, CreateFolder, DeleteFile,
//                                              FileExists, BuildPath, CreateTextFile
//                                              (WriteLine, Write, Close)
//   DTS_PATH_SEPARATOR                         the platform's path separator
//
// Thread-safety: one host per run, used by one thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "platform/core/variant.h"

struct lua_State;

namespace platform::dts {

// Row results (the values of the transform-status constants).
enum TransformStatus : int32_t {
  kTransformOk = 1,
  kTransformSkipRow = 2,
  kTransformInsertQuery = 16,
  kTransformUpdateQuery = 32,
  kTransformExceptionRow = 256,
  kTransformError = 8192,
};
inline constexpr int32_t kTaskExecSuccess = 0;
inline constexpr int32_t kTaskExecFailure = 1;

class ScriptHost {
 public:
  ScriptHost();
  ~ScriptHost();
  ScriptHost(const ScriptHost&) = delete;
  ScriptHost& operator=(const ScriptHost&) = delete;

  lua_State* state() { return L_; }

  // Sets a package variable (as text) before the tasks run.
  void SetGlobalVariable(const std::string& name, const std::string& value);
  // A package variable's value as text ("" for nil; objects by their kind).
  std::string GlobalVariable(const std::string& name);

  // Files the script's DeleteFile must leave alone (the open package log:
  // a file in use is not deleted).
  void ProtectFile(const std::filesystem::path& file);

  // Compiles a task's code in an environment of its own and returns a
  // reference (in the Lua registry) to that environment. Raises 5 with the
  // compiler's message for code that does not compile, or when the code
  // defines no function called function_name.
  int LoadTask(const std::string& task_name, const std::string& code,
               const std::string& function_name);
  void ReleaseTask(int env_ref);

  // Pushes the task's entry function onto the stack.
  void PushFunction(int env_ref, const std::string& function_name);

  // Calls the function on top of the stack with no arguments and returns its
  // result as an integer (0 when it returns none). false and the error text
  // in error when the code fails.
  bool CallEntry(int32_t& result, std::string& error);

  // Lua <-> Variant, the one conversion task code sees: nil is Null, text is
  // text, integers that fit 32 bits are Longs, other numbers Doubles.
  static Variant ToVariant(lua_State* L, int index);
  static void Push(lua_State* L, const Variant& value);

  const std::set<std::filesystem::path>& protected_files() const { return protected_; }

 private:
  lua_State* L_ = nullptr;
  int globals_ref_ = -1;  // the table of package variables
  std::set<std::filesystem::path> protected_;
};

}  // namespace platform::dts
