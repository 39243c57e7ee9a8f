#include "tests/support/test_instance.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>

#include <optional>
#include <string>
#include <system_error>

#include "apps/instance/databases.h"
#include "apps/instance/instance_setup.h"
#include "platform/core/com_error.h"
#include "platform/core/dispatch.h"
#include "platform/data/connection.h"
#include "platform/data/instance_databases.h"
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
std::string TestDatabaseUrl() {
  const char* url = std::getenv("VENDRA_TEST_PG_URL");
  if (!url || !*url) return {};
  std::string base = url;
  const size_t scheme = base.find("://");
  const size_t slash = base.find('/', scheme == std::string::npos ? 0 : scheme + 3);
  if (slash != std::string::npos) base.resize(slash);
  static int counter = 0;
  return base + "/vt_" + std::to_string(::getpid()) + "_" + std::to_string(++counter);
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
    vendra_instance::CreateInstance(home_, /*demo=*/true, TestDatabaseUrl());
  } catch (...) {
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
