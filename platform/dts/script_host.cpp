#include "platform/dts/script_host.h"

#include <lua.hpp>

#include <cmath>
#include <cstdio>
#include <system_error>

#include "platform/core/com_error.h"

namespace platform::dts {

namespace {

namespace fs = std::filesystem;
constexpr char kSource[] = "DTS.ScriptHost";

// What the scripts see beyond the standard library: the package variables,
// the row results and the scripting file-system object. The host passes the
// variables table and the file helpers written in C++.
constexpr char kPrelude[] = R"lua(
local vars, fsx, sep = ...
DTS_PATH_SEPARATOR = sep
DTSTaskExecResult_Success = 0
DTSTaskExecResult_Failure = 1
DTSTransformStat_OK = 1
DTSTransformStat_SkipRow = 2
DTSTransformStat_InsertQuery = 16
DTSTransformStat_UpdateQuery = 32
DTSTransformStat_ExceptionRow = 256
DTSTransformStat_Error = 8192
DTSTransformstat_OK = DTSTransformStat_OK
DTSTransformstat_SkipRow = DTSTransformStat_SkipRow
DTSTransformstat_InsertQuery = DTSTransformStat_InsertQuery
DTSTransformstat_UpdateQuery = DTSTransformStat_UpdateQuery
DTSTransformstat_ExceptionRow = DTSTransformStat_ExceptionRow

local proxies = {}
DTSGlobalVariables = setmetatable({}, {
  __call = function(_, name)
    local p = proxies[name]
    if not p then
      p = setmetatable({}, {
        __index = function(_, key) if key == "Value" then return vars[name] end end,
        __newindex = function(_, key, value)
          if key ~= "Value" then error("a global variable has no property " .. tostring(key), 2) end
          vars[name] = value
        end,
      })
      proxies[name] = p
    end
    return p
  end,
})

local TextStream = {}
TextStream.__index = TextStream
function TextStream:WriteLine(text)
  if not self.file then error("the text file is closed", 2) end
  self.file:write(text == nil and "" or tostring(text), "\r\n")
  self.file:flush()
end
function TextStream:Write(text)
  if not self.file then error("the text file is closed", 2) end
  self.file:write(text == nil and "" or tostring(text))
  self.file:flush()
end
function TextStream:Close()
  if self.file then self.file:close() end
  self.file = nil
end

local FileSystemObject = {}
FileSystemObject.__index = FileSystemObject
function FileSystemObject:FolderExists(path) return fsx.is_dir(path) end
function FileSystemObject:FileExists(path) return fsx.is_file(path) end
function FileSystemObject:CreateFolder(path) fsx.mkdir(path) end
function FileSystemObject:BuildPath(a, b)
  if a:sub(-1) == sep then return a .. b end
  return a .. sep .. b
end
-- Deletes the files matching a pattern ("*" and "?" in the last part);
-- raises "File not found" when none matches. Files in use are left.
function FileSystemObject:DeleteFile(pattern, force) fsx.delete(pattern) end
function FileSystemObject:CreateTextFile(path, overwrite)
  if overwrite == false and fsx.is_file(path) then error("File already exists: " .. path, 2) end
  local f, why = io.open(path, "wb")
  if not f then error("The file " .. path .. " cannot be created: " .. tostring(why), 2) end
  return setmetatable({file = f}, TextStream)
end

function CreateObject(progid)
  if progid == "Scripting.FileSystemObject" then return setmetatable({}, FileSystemObject) end
  error("ActiveX component can't create object: " .. tostring(progid), 2)
end
)lua";

ScriptHost* HostOf(lua_State* L) {
  return static_cast<ScriptHost*>(lua_touserdata(L, lua_upvalueindex(1)));
}

int FsIsDir(lua_State* L) {
  std::error_code ec;
  lua_pushboolean(L, fs::is_directory(luaL_checkstring(L, 1), ec));
  return 1;
}

int FsIsFile(lua_State* L) {
  std::error_code ec;
  lua_pushboolean(L, fs::is_regular_file(luaL_checkstring(L, 1), ec));
  return 1;
}

// Raises a script error with message. Lua unwinds with longjmp, which must
// not pass C++ objects still to be destroyed: callers build the message in
// an inner scope and raise after it has closed.
int RaiseText(lua_State* L, const char* message) { return luaL_error(L, "%s", message); }

int FsMkdir(lua_State* L) {
  const char* text = luaL_checkstring(L, 1);
  char message[1024] = {};
  {
    const fs::path path = text;
    std::error_code ec;
    if (fs::exists(path, ec)) {
      std::snprintf(message, sizeof message, "File already exists: %s", text);
    } else if (!fs::create_directory(path, ec)) {
      std::snprintf(message, sizeof message, "Path not found: %s (%s)", text, ec.message().c_str());
    }
  }
  if (message[0]) return RaiseText(L, message);
  return 0;
}

bool Matches(const char* pattern, const char* name) {
  for (; *pattern; ++pattern, ++name) {
    if (*pattern == '*') {
      for (const char* rest = name;; ++rest) {
        if (Matches(pattern + 1, rest)) return true;
        if (!*rest) return false;
      }
    }
    if (!*name) return false;
    if (*pattern != '?' && std::tolower(static_cast<unsigned char>(*pattern)) !=
                               std::tolower(static_cast<unsigned char>(*name)))
      return false;
  }
  return *name == 0;
}

int FsDelete(lua_State* L) {
  const char* text = luaL_checkstring(L, 1);
  const ScriptHost* host = HostOf(L);
  char message[1024] = {};
  {
    const fs::path pattern = text;
    const fs::path folder = pattern.has_parent_path() ? pattern.parent_path() : fs::path(".");
    const std::string name_pattern = pattern.filename().string();
    std::error_code ec;
    int matched = 0;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
      if (!it->is_regular_file(ec)) continue;
      if (!Matches(name_pattern.c_str(), it->path().filename().string().c_str())) continue;
      ++matched;
      const fs::path file = fs::absolute(it->path()).lexically_normal();
      if (host->protected_files().count(file)) continue;  // in use
      std::error_code rm;
      fs::remove(it->path(), rm);
      if (rm) std::snprintf(message, sizeof message, "Permission denied: %s", it->path().c_str());
    }
    if (!message[0] && matched == 0) std::snprintf(message, sizeof message, "File not found: %s", text);
  }
  if (message[0]) return RaiseText(L, message);
  return 0;
}

}  // namespace

ScriptHost::ScriptHost() {
  L_ = luaL_newstate();
  if (!L_) Raise(err::kOutOfMemory, kSource, "The script engine cannot start");
  // The standard library, without starting processes or ending this one:
  // task code works on rows and files.
  luaL_openlibs(L_);
  lua_getglobal(L_, "os");
  for (const char* name : {"execute", "exit"}) {
    lua_pushnil(L_);
    lua_setfield(L_, -2, name);
  }
  lua_pop(L_, 1);
  lua_getglobal(L_, "io");
  lua_pushnil(L_);
  lua_setfield(L_, -2, "popen");
  lua_pop(L_, 1);

  lua_newtable(L_);
  globals_ref_ = luaL_ref(L_, LUA_REGISTRYINDEX);

  if (luaL_loadbuffer(L_, kPrelude, sizeof kPrelude - 1, "=dts") != LUA_OK)
    Raise(err::kUnspecified, kSource, lua_tostring(L_, -1));
  lua_rawgeti(L_, LUA_REGISTRYINDEX, globals_ref_);
  lua_newtable(L_);
  const luaL_Reg helpers[] = {{"is_dir", FsIsDir}, {"is_file", FsIsFile}, {"mkdir", FsMkdir},
                              {"delete", FsDelete}, {nullptr, nullptr}};
  lua_pushlightuserdata(L_, this);
  luaL_setfuncs(L_, helpers, 1);
  const std::string separator(1, static_cast<char>(fs::path::preferred_separator));
  lua_pushstring(L_, separator.c_str());
  if (lua_pcall(L_, 3, 0, 0) != LUA_OK)
    Raise(err::kUnspecified, kSource, lua_tostring(L_, -1));
}

ScriptHost::~ScriptHost() {
  if (L_) lua_close(L_);  // closes the files scripts left open
}

void ScriptHost::SetGlobalVariable(const std::string& name, const std::string& value) {
  lua_rawgeti(L_, LUA_REGISTRYINDEX, globals_ref_);
  lua_pushlstring(L_, value.data(), value.size());
  lua_setfield(L_, -2, name.c_str());
  lua_pop(L_, 1);
}

std::string ScriptHost::GlobalVariable(const std::string& name) {
  lua_rawgeti(L_, LUA_REGISTRYINDEX, globals_ref_);
  lua_getfield(L_, -1, name.c_str());
  std::string text;
  if (lua_type(L_, -1) == LUA_TSTRING || lua_type(L_, -1) == LUA_TNUMBER) {
    size_t n = 0;
    const char* p = lua_tolstring(L_, -1, &n);
    text.assign(p, n);
  } else if (!lua_isnil(L_, -1)) {
    text = luaL_typename(L_, -1);
  }
  lua_pop(L_, 2);
  return text;
}

void ScriptHost::ProtectFile(const fs::path& file) {
  protected_.insert(fs::absolute(file).lexically_normal());
}

int ScriptHost::LoadTask(const std::string& task_name, const std::string& code,
                         const std::string& function_name) {
  const std::string chunk = "=" + task_name;
  if (luaL_loadbuffer(L_, code.data(), code.size(), chunk.c_str()) != LUA_OK) {
    std::string message = lua_tostring(L_, -1);
    lua_pop(L_, 1);
    Raise(err::kInvalidProcedureCall, kSource, "The script does not compile: " + message);
  }
  // env = setmetatable({}, {__index = _G}), the chunk's _ENV.
  lua_newtable(L_);
  lua_newtable(L_);
  lua_pushglobaltable(L_);
  lua_setfield(L_, -2, "__index");
  lua_setmetatable(L_, -2);
  lua_pushvalue(L_, -1);
  const int env_ref = luaL_ref(L_, LUA_REGISTRYINDEX);
  lua_setupvalue(L_, -2, 1);
  if (lua_pcall(L_, 0, 0, 0) != LUA_OK) {
    std::string message = lua_tostring(L_, -1);
    lua_pop(L_, 1);
    luaL_unref(L_, LUA_REGISTRYINDEX, env_ref);
    Raise(err::kInvalidProcedureCall, kSource, "The script fails while loading: " + message);
  }
  lua_rawgeti(L_, LUA_REGISTRYINDEX, env_ref);
  lua_getfield(L_, -1, function_name.c_str());
  const bool is_function = lua_isfunction(L_, -1);
  lua_pop(L_, 2);
  if (!is_function) {
    luaL_unref(L_, LUA_REGISTRYINDEX, env_ref);
    Raise(err::kInvalidProcedureCall, kSource,
          "The script defines no function " + function_name + " to run");
  }
  return env_ref;
}

void ScriptHost::ReleaseTask(int env_ref) { luaL_unref(L_, LUA_REGISTRYINDEX, env_ref); }

void ScriptHost::PushFunction(int env_ref, const std::string& function_name) {
  lua_rawgeti(L_, LUA_REGISTRYINDEX, env_ref);
  lua_getfield(L_, -1, function_name.c_str());
  lua_remove(L_, -2);
}

bool ScriptHost::CallEntry(int32_t& result, std::string& error) {
  if (lua_pcall(L_, 0, 1, 0) != LUA_OK) {
    const char* message = lua_tostring(L_, -1);
    error = message ? message : "the script failed with an error that is not text";
    lua_pop(L_, 1);
    return false;
  }
  result = 0;
  if (lua_isinteger(L_, -1)) {
    result = static_cast<int32_t>(lua_tointeger(L_, -1));
  } else if (lua_isnumber(L_, -1)) {
    result = static_cast<int32_t>(std::lround(lua_tonumber(L_, -1)));
  } else if (!lua_isnil(L_, -1)) {
    error = std::string("the script returned ") + luaL_typename(L_, -1) + ", not a result code";
    lua_pop(L_, 1);
    return false;
  }
  lua_pop(L_, 1);
  return true;
}

Variant ScriptHost::ToVariant(lua_State* L, int index) {
  switch (lua_type(L, index)) {
    case LUA_TNIL:
      return Variant::Null();
    case LUA_TBOOLEAN:
      return Variant(lua_toboolean(L, index) != 0);
    case LUA_TNUMBER:
      if (lua_isinteger(L, index)) {
        const lua_Integer i = lua_tointeger(L, index);
        if (i >= INT32_MIN && i <= INT32_MAX) return Variant(static_cast<int32_t>(i));
        return Variant(static_cast<double>(i));
      }
      return Variant(lua_tonumber(L, index));
    case LUA_TSTRING: {
      size_t n = 0;
      const char* p = lua_tolstring(L, index, &n);
      return Variant(std::string(p, n));
    }
    default:
      Raise(err::kTypeMismatch, kSource,
            std::string("A ") + luaL_typename(L, index) + " cannot be a column value");
  }
}

void ScriptHost::Push(lua_State* L, const Variant& value) {
  if (value.IsMissing()) {
    lua_pushnil(L);
  } else if (const auto* s = value.Get<std::string>()) {
    lua_pushlstring(L, s->data(), s->size());
  } else if (const auto* l = value.Get<int32_t>()) {
    lua_pushinteger(L, *l);
  } else if (const auto* d = value.Get<double>()) {
    lua_pushnumber(L, *d);
  } else if (const auto* b = value.Get<bool>()) {
    lua_pushboolean(L, *b);
  } else if (const auto* i = value.Get<int16_t>()) {
    lua_pushinteger(L, *i);
  } else if (const auto* y = value.Get<uint8_t>()) {
    lua_pushinteger(L, *y);
  } else if (value.IsNumeric()) {
    lua_pushnumber(L, value.ToDouble());
  } else {
    const std::string text = value.ToString();
    lua_pushlstring(L, text.data(), text.size());
  }
}

}  // namespace platform::dts
