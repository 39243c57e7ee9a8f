#include "platform/services/log.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <nlohmann/json.hpp>

#include "platform/core/com_error.h"
#include "platform/host/instance.h"

namespace platform {

namespace {

constexpr const char* kSource = "Orvanta.Log";

// The wall-clock moment of the entry, with milliseconds and the UTC offset, so
// entries of several hosts can be merged. This is deliberately not Clock: a
// test that fixes "today" still wants to see when things really happened.
std::string TimeStamp() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t secs = std::chrono::system_clock::to_time_t(now);
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm local{};
  localtime_r(&secs, &local);
  char date[32];
  std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
  char zone[8];
  std::strftime(zone, sizeof zone, "%z", &local);  // "+0100"
  char out[64];
  std::snprintf(out, sizeof out, "%s.%03d%.3s:%.2s", date, static_cast<int>(millis), zone,
                zone + 3);
  return out;
}

[[noreturn]] void RaiseFileError(const std::filesystem::path& file, const char* what, int error) {
  Raise(err::kPermissionDenied, kSource,
        "Permission denied: cannot " + std::string(what) + " the log file '" + file.string() +
            "': " + std::strerror(error));
}

// Closes the descriptor (and so drops the lock) on every path.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

void AppendLine(const std::filesystem::path& file, const std::string& line) {
  std::error_code ec;
  std::filesystem::create_directories(file.parent_path(), ec);  // open() reports what matters
  FileDescriptor fd(::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
  if (fd.get() < 0) RaiseFileError(file, "open", errno);
  // O_APPEND alone keeps one write(2) in one piece on a local file system;
  // the lock also covers a short write finished by a second call, and file
  // systems that do not honour O_APPEND atomically.
  while (::flock(fd.get(), LOCK_EX) != 0) {
    if (errno != EINTR) RaiseFileError(file, "lock", errno);
  }
  const char* data = line.data();
  size_t left = line.size();
  while (left > 0) {
    const ssize_t n = ::write(fd.get(), data, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      RaiseFileError(file, "write", errno);
    }
    data += n;
    left -= static_cast<size_t>(n);
  }
}

}  // namespace

const ClassBinding<Log>& Log::Binding() {
  static const auto b = ClassBinding<Log>("Log").Method("WriteEntry", &Log::WriteEntry);
  return b;
}

void Log::WriteEntry(const std::string& source, const std::string& text, int32_t level,
                     const std::optional<Variant>& extra) {
  nlohmann::ordered_json entry;
  entry["time"] = TimeStamp();
  entry["level"] = level;
  entry["source"] = source;
  entry["text"] = text;
  entry["pid"] = static_cast<int64_t>(::getpid());
  if (extra && !extra->IsMissing()) entry["extra"] = extra->ToString();
  // A failure text may quote bytes that are not UTF-8 (a SQL literal, a file
  // name); replacing them keeps the entry instead of losing the failure.
  std::string line = entry.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  line += '\n';
  AppendLine(LogFilePath(), line);
}

std::filesystem::path LogFilePath() { return InstanceHome::Get() / "logs" / "platform.log"; }

std::vector<LogEntry> ReadLogEntries(const std::filesystem::path& file) {
  std::vector<LogEntry> entries;
  std::ifstream in(file, std::ios::binary);
  if (!in) return entries;
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    const auto json = nlohmann::json::parse(line, nullptr, /*allow_exceptions=*/false);
    if (!json.is_object() || !json.contains("time") || !json.contains("level") ||
        !json.contains("source") || !json.contains("text")) {
      Raise(err::kTypeMismatch, kSource,
            "Line " + std::to_string(number) + " of '" + file.string() +
                "' is not a log entry: " + line.substr(0, 200));
    }
    LogEntry e;
    e.time = json.value("time", "");
    e.level = json.value("level", 0);
    e.source = json.value("source", "");
    e.text = json.value("text", "");
    e.pid = json.value("pid", int64_t{0});
    if (json.contains("extra")) e.extra = json.value("extra", "");
    entries.push_back(std::move(e));
  }
  return entries;
}

std::vector<LogEntry> ReadLogEntries() { return ReadLogEntries(LogFilePath()); }

}  // namespace platform
