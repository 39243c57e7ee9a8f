#include "tests/support/test_instance.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>

#include "apps/instance/databases.h"
#include "apps/instance/instance_setup.h"
#include "platform/core/com_error.h"
#include "platform/core/dispatch.h"
#include "platform/data/connection.h"
#include "platform/data/instance_databases.h"
#include "platform/data/postgres/pg_driver.h"
#include "platform/data/recordset.h"
#include "platform/host/instance.h"
#include "shared/components.h"

namespace vendra_test {

namespace {

std::filesystem::path MakeTemporaryDirectory() {
  std::string pattern = (std::filesystem::temp_directory_path() / "vendra-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    platform::Raise(platform::err::kPermissionDenied, "vendra_test",
                    "Cannot create a temporary directory from " + pattern);
  }
  return pattern;
}

class RecordingLog : public platform::Dispatchable<RecordingLog> {
 public:
  static const platform::ClassBinding<RecordingLog>& Binding() {
    static const auto b = platform::ClassBinding<RecordingLog>("Log").Method(
        "WriteEntry", &RecordingLog::WriteEntry);
    return b;
  }
  void WriteEntry(const std::string& source, const std::string& text, int32_t level,
                  const std::optional<platform::Variant>& /*extra*/) {
    sink->push_back({source, text, level});
  }
  std::shared_ptr<std::vector<RecordedEntry>> sink;
};

// With VENDRA_TEST_PG_URL (postgresql://user@host:port[/...]) set, the
// instance's databases go to that server, under a prefix of their own.
std::string ServerBase() {
  const char* url = std::getenv("VENDRA_TEST_PG_URL");
  if (!url || !*url) return {};
  std::string base = url;
  const size_t scheme = base.find("://");
  const size_t slash = base.find('/', scheme == std::string::npos ? 0 : scheme + 3);
  if (slash != std::string::npos) base.resize(slash);
  return base;
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

// Creating a demo instance on a server runs every script for six databases:
// seconds per test. So each test program makes one template instance per
// server (its files in a folder, its databases under the prefix
// vt_t<program>) and every test copies it: the folder by file, the
// databases by CREATE DATABASE ... TEMPLATE. The prefix is named after the
// program file (path, size, time), so a rebuilt program makes a new one;
// concurrent test processes take turns through one advisory lock on the
// server, and a table vendra_test_templates there lists the finished ones.
class ServerTemplate {
 public:
  explicit ServerTemplate(const std::string& base) : base_(base) {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    std::string identity = base + '\n' + exe.string();
    if (!ec) {
      identity += '\n' + std::to_string(std::filesystem::file_size(exe, ec));
      identity += '\n' + std::to_string(
          std::filesystem::last_write_time(exe, ec).time_since_epoch().count());
    }
    char hex[17];
    std::snprintf(hex, sizeof hex, "%012llx",
                  static_cast<unsigned long long>(std::hash<std::string>()(identity) & 0xffffffffffffULL));
    prefix_ = std::string("vt_t") + hex;
    home_ = std::filesystem::temp_directory_path() / ("vendra-test-" + prefix_);
  }

  // Makes the template when the server does not hold it yet.
  void Ensure() {
    platform::data::Connection server;
    server.Open(platform::data::postgres::ConnectionStringFromUrl(base_));
    server.Execute("SELECT pg_advisory_lock(" + std::to_string(lock_key_) + ")");
    try {
      server.Execute(
          "CREATE TABLE IF NOT EXISTS vendra_test_templates (prefix NVARCHAR(40) PRIMARY KEY)");
      auto done = server.Execute("SELECT prefix FROM vendra_test_templates WHERE prefix = '" +
                                 prefix_ + "'");
      std::error_code ec;
      if (done->Eof() || !std::filesystem::exists(home_ / "platform.xml", ec)) Make(server);
    } catch (...) {
      server.Execute("SELECT pg_advisory_unlock(" + std::to_string(lock_key_) + ")");
      throw;
    }
    server.Execute("SELECT pg_advisory_unlock(" + std::to_string(lock_key_) + ")");
    server.Close();
  }

  // A copy of the template: its files into home, its databases under prefix.
  void CopyTo(const std::filesystem::path& home, const std::string& prefix) {
    std::filesystem::copy(home_, home, std::filesystem::copy_options::recursive |
                                           std::filesystem::copy_options::overwrite_existing);
    const std::filesystem::path platform_file = home / "platform.xml";
    std::string text;
    {
      std::ifstream in(platform_file, std::ios::binary);
      text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    {
      std::ofstream out(platform_file, std::ios::binary | std::ios::trunc);
      out << Replaced(text, prefix_ + "_", prefix + "_");
    }
    platform::data::ForgetInstanceDatabases();
    platform::data::Connection server;
    server.Open(platform::data::postgres::ConnectionStringFromUrl(base_));
    auto present = server.Execute("SELECT datname FROM pg_database WHERE datname LIKE '" +
                                  prefix_ + "%'");
    std::vector<std::string> names;
    for (; !present->Eof(); present->MoveNext()) names.push_back(present->Value("datname").ToString());
    for (const std::string& name : names) {
      server.Execute("CREATE DATABASE \"" + Replaced(name, prefix_ + "_", prefix + "_") +
                     "\" TEMPLATE \"" + name + "\" STRATEGY FILE_COPY");
    }
    server.Close();
  }

 private:
  void Make(platform::data::Connection& server) {
    auto stale = server.Execute("SELECT datname FROM pg_database WHERE datname LIKE '" + prefix_ +
                                "%'");
    std::vector<std::string> names;
    for (; !stale->Eof(); stale->MoveNext()) names.push_back(stale->Value("datname").ToString());
    for (const std::string& name : names)
      server.Execute("DROP DATABASE IF EXISTS \"" + name + "\" WITH (FORCE)");
    server.Execute("DELETE FROM vendra_test_templates WHERE prefix = '" + prefix_ + "'");
    std::error_code ignored;
    std::filesystem::remove_all(home_, ignored);
    platform::InstanceHome::Set(home_);
    vendra_instance::CreateInstance(home_, /*demo=*/true, base_ + "/" + prefix_);
    // A template takes no connections while it is copied.
    lib_sales::ResetThreadCaches();
    platform::data::ReleasePooledSessions();
    server.Execute("INSERT INTO vendra_test_templates (prefix) VALUES ('" + prefix_ + "')");
  }

  std::string base_, prefix_;
  std::filesystem::path home_;
  // One lock for every test program: the first of them also creates the table.
  static constexpr int64_t lock_key_ = 0x76656e647261;  // "vendra"
};

// Creates the instance at home: on the test server when one is named, from
// this program's template there.
void CreateTestInstance(const std::filesystem::path& home) {
  const std::string base = ServerBase();
  if (base.empty()) {
    vendra_instance::CreateInstance(home, /*demo=*/true);
    return;
  }
  static ServerTemplate server_template(base);
  static std::once_flag made;
  std::call_once(made, [&] {
    server_template.Ensure();
    // The template's files were made with the instance home pointing there.
    platform::InstanceHome::Set(home);
  });
  static std::atomic<int> counter{0};
  server_template.CopyTo(home, "vt_" + std::to_string(::getpid()) + "_" + std::to_string(++counter));
}

}  // namespace

ScopedRecordingLog::ScopedRecordingLog()
    : entries_(std::make_shared<std::vector<RecordedEntry>>()),
      registration_("Orvanta.Log", [sink = entries_] {
        auto log = std::make_shared<RecordingLog>();
        log->sink = sink;
        return platform::ObjectPtr(log);
      }) {}

TemporaryDirectory::TemporaryDirectory() : path_(MakeTemporaryDirectory()) {}

TemporaryDirectory::~TemporaryDirectory() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

TestInstance::TestInstance() : home_(MakeTemporaryDirectory()) {
  platform::InstanceHome::Set(home_);
  try {
    CreateTestInstance(home_);
  } catch (...) {
    // A copy that failed half-way leaves no databases behind on the server.
    try {
      if (!platform::data::ReadInstanceDatabases(home_ / "platform.xml").empty()) {
        platform::data::ReleasePooledSessions();
        vendra_instance::DropServerDatabases(home_);
        platform::data::ForgetInstanceDatabases();
      }
    } catch (...) {
    }
    std::error_code ignored;
    std::filesystem::remove_all(home_, ignored);
    throw;
  }
  lib_sales::ResetThreadCaches();
}

TestInstance::~TestInstance() {
  // The next test must not find this instance's connection string or objects.
  lib_sales::ResetThreadCaches();
  if (!platform::data::ReadInstanceDatabases(home_ / "platform.xml").empty()) {
    platform::data::ReleasePooledSessions();
    vendra_instance::DropServerDatabases(home_);
    platform::data::ForgetInstanceDatabases();
  }
  std::error_code ignored;
  std::filesystem::remove_all(home_, ignored);
}

}  // namespace vendra_test
