// TestInstance gives a test a fresh demo instance of its own: a unique
// temporary directory made by vendra_instance::CreateInstance(home, demo =
// true), set as the instance home, with this thread's caches of the shared
// runtime forgotten so nothing leaks from an earlier test. It is removed
// again at the end. With VENDRA_TEST_PG_URL set (a PostgreSQL server's
// postgresql:// address), its databases live on that server instead, under
// a prefix of their own, copied from a template instance the test program
// makes there once, and are dropped at the end (driver_text.h tells a test
// which driver it runs on).
//
//   TEST_F(InstanceTest, ...) { ... home() ... }      // the fixture
//   vendra_test::TestInstance instance;               // or by hand
//
// ScopedRecordingLog catches the log entries a test provokes.
//
// Thread-safety: one per test; the instance home is process-wide, so tests
// using it do not run in parallel within one program.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/host/registry.h"

namespace vendra_test {

class TestInstance {
 public:
  TestInstance();
  ~TestInstance();
  TestInstance(const TestInstance&) = delete;
  TestInstance& operator=(const TestInstance&) = delete;

  const std::filesystem::path& home() const { return home_; }
  std::filesystem::path config_dir() const { return home_ / "config"; }

 private:
  std::filesystem::path home_;
};

// A unique empty temporary directory, removed with its contents at the end;
// for tests that must create an instance themselves.
class TemporaryDirectory {
 public:
  TemporaryDirectory();
  ~TemporaryDirectory();
  TemporaryDirectory(const TemporaryDirectory&) = delete;
  TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Puts a recording "Orvanta.Log" in place for its lifetime: every entry the
// code under test writes is kept in entries() instead of the log file.
struct RecordedEntry {
  std::string source;
  std::string text;
  int32_t level = 0;
};

class ScopedRecordingLog {
 public:
  ScopedRecordingLog();
  const std::vector<RecordedEntry>& entries() const { return *entries_; }
  void clear() { entries_->clear(); }

 private:
  std::shared_ptr<std::vector<RecordedEntry>> entries_;
  platform::ScopedRegistration registration_;
};

class InstanceTest : public ::testing::Test {
 protected:
  const std::filesystem::path& home() const { return instance_.home(); }
  std::filesystem::path config_dir() const { return instance_.config_dir(); }

 private:
  TestInstance instance_;
};

}  // namespace vendra_test
