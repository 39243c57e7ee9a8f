// Log is the platform log ("Orvanta.Log"): every failure a public operation
// handles ends up here as one entry. Entries go to logs/platform.log under the
// instance home, one JSON object per line:
//   {"time":"2026-12-08T14:30:00.123+01:00","level":0,"source":"Vendra.Basket.Restore()",
//    "text":"\r\nERROR 0x5B\r\n ...","pid":4711}
// ("extra" is added only when the caller passes a value.)
//
// Thread-safety: a Log object is used by one caller at a time, but any number
// of objects, threads and processes may append to the same file at once: each
// entry is a single write(2) on an O_APPEND descriptor under an exclusive
// flock, so lines never interleave and a reader never sees half a line.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/dispatch.h"

namespace platform {

// Level values the system writes.
namespace log_level {
inline constexpr int32_t kFailure = 0;
inline constexpr int32_t kWarning = 2;
}  // namespace log_level

class Log : public Dispatchable<Log> {
 public:
  static const ClassBinding<Log>& Binding();

  // Appends one entry. Raises 70 when the log file cannot be opened or written.
  void WriteEntry(const std::string& source, const std::string& text, int32_t level,
                  const std::optional<Variant>& extra);
};

// One entry read back from a log file.
struct LogEntry {
  std::string time;
  int32_t level = 0;
  std::string source;
  std::string text;
  int64_t pid = 0;
  std::optional<std::string> extra;
};

// logs/platform.log of the current instance.
std::filesystem::path LogFilePath();

// Reads every entry of a log file in order; a missing file has none. A line
// that is not a complete entry raises 13 naming the line, so a torn or
// interleaved write cannot go unnoticed.
std::vector<LogEntry> ReadLogEntries(const std::filesystem::path& file);
std::vector<LogEntry> ReadLogEntries();

}  // namespace platform
