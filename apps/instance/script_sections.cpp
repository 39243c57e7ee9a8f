#include "apps/instance/script_sections.h"

#include <cctype>

#include "platform/core/com_error.h"
#include "platform/data/driver.h"

namespace vendra_instance {

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

// "-- sqlite-only: begin ..." -> the section's driver and whether it opens.
bool ParseMarker(std::string_view line, ScriptDriver* driver, bool* begin) {
  line = Trim(line);
  if (!line.starts_with("--")) return false;
  line = Trim(line.substr(2));
  std::string_view rest;
  if (line.starts_with("sqlite-only:")) {
    *driver = ScriptDriver::kSqlite;
    rest = Trim(line.substr(12));
  } else if (line.starts_with("postgresql-only:")) {
    *driver = ScriptDriver::kPostgres;
    rest = Trim(line.substr(16));
  } else {
    return false;
  }
  if (rest.starts_with("begin")) {
    *begin = true;
  } else if (rest.starts_with("end")) {
    *begin = false;
  } else {
    return false;
  }
  return true;
}

}  // namespace

std::string ScriptForDriver(std::string_view script, ScriptDriver driver) {
  std::string out;
  out.reserve(script.size());
  bool inside = false;
  ScriptDriver section = ScriptDriver::kSqlite;
  int line_number = 0;
  size_t at = 0;
  while (at < script.size()) {
    size_t end = script.find('\n', at);
    const bool last = end == std::string_view::npos;
    if (last) end = script.size();
    const std::string_view line = script.substr(at, end - at);
    ++line_number;
    ScriptDriver marked;
    bool begin = false;
    if (ParseMarker(line, &marked, &begin)) {
      if (begin == inside || (!begin && marked != section)) {
        platform::Raise(platform::err::kInvalidProcedureCall, "vendra.databases",
                        "Line " + std::to_string(line_number) +
                            ": a driver section marker without its pair (" +
                            std::string(Trim(line)) + ")");
      }
      inside = begin;
      section = marked;
    } else if (!inside || section == driver) {
      out.append(line);
    }
    if (!last) out.push_back('\n');
    at = last ? end : end + 1;
  }
  if (inside) {
    platform::Raise(platform::err::kInvalidProcedureCall, "vendra.databases",
                    "A driver section is not closed at the end of the script");
  }
  return out;
}

ScriptDriver DriverOf(std::string_view connection_string) {
  const auto settings = platform::data::ConnectionSettings::Parse(connection_string);
  std::string provider = settings.provider();
  for (char& c : provider) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return provider == "POSTGRESQL" || provider == "POSTGRES" ? ScriptDriver::kPostgres
                                                              : ScriptDriver::kSqlite;
}

}  // namespace vendra_instance
