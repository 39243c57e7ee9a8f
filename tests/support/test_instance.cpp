#include "tests/support/test_instance.h"

#include <stdlib.h>

#include <optional>
#include <string>
#include <system_error>

#include "apps/instance/instance_setup.h"
#include "platform/core/com_error.h"
#include "platform/core/dispatch.h"
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
    vendra_instance::CreateInstance(home_, /*demo=*/true);
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
  std::error_code ignored;
  std::filesystem::remove_all(home_, ignored);
}

}  // namespace vendra_test
