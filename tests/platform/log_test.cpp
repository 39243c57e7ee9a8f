// The platform log: one JSON entry per line, whole lines even when threads
// and processes append at once.
#include "platform/services/log.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "platform/core/com_error.h"
#include "platform/core/object.h"
#include "platform/host/instance.h"
#include "platform/host/registry.h"
#include "tests/support/test_instance.h"

namespace {

using platform::Log;
using platform::LogEntry;
using platform::ReadLogEntries;
using platform::Variant;

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::InstanceHome::Set(dir_.path()); }
  vendra_test::TemporaryDirectory dir_;
};

TEST_F(LogTest, AppendsOneParsableEntryPerCall) {
  Log log;
  log.WriteEntry("Vendra.Basket.Restore()", "\r\nERROR 0x5B\r\n METHOD: x\r\n", 0, std::nullopt);
  log.WriteEntry("Ferrolink.Order", "warned \"here\"", 2, Variant());

  const auto entries = ReadLogEntries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].source, "Vendra.Basket.Restore()");
  EXPECT_EQ(entries[0].text, "\r\nERROR 0x5B\r\n METHOD: x\r\n");
  EXPECT_EQ(entries[0].level, 0);
  EXPECT_EQ(entries[0].pid, ::getpid());
  EXPECT_FALSE(entries[0].extra.has_value());
  EXPECT_EQ(entries[1].text, "warned \"here\"");
  EXPECT_EQ(entries[1].level, 2);
  EXPECT_FALSE(entries[1].extra.has_value()) << "an empty extra is left out";
  // ISO time with milliseconds and offset: 2026-12-08T14:30:00.123+01:00
  ASSERT_EQ(entries[0].time.size(), 29u) << entries[0].time;
  EXPECT_EQ(entries[0].time[10], 'T');
  EXPECT_EQ(entries[0].time[19], '.');

  std::ifstream file(dir_.path() / "logs" / "platform.log");
  std::string line;
  int lines = 0;
  while (std::getline(file, line)) ++lines;
  EXPECT_EQ(lines, 2) << "line breaks inside the text stay escaped";
}

TEST_F(LogTest, LateBoundCallsKeepTheExtraValue) {
  platform::ObjectPtr log = platform::CreateObject("Orvanta.Log");
  platform::Call(log, "WriteEntry", {Variant("src"), Variant("text"), Variant(int32_t{0}),
                                     Variant("order 42")});
  platform::Call(log, "WriteEntry", {Variant("src"), Variant("no extra"), Variant(int32_t{2})});
  const auto entries = ReadLogEntries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].extra.value_or(""), "order 42");
  EXPECT_EQ(entries[1].level, 2);
}

TEST_F(LogTest, TextThatIsNotUtf8IsStillLogged) {
  Log log;
  log.WriteEntry("src", std::string("bad \xff\xfe bytes"), 0, std::nullopt);
  const auto entries = ReadLogEntries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].text.substr(0, 4), "bad ");
}

TEST_F(LogTest, AnUnwritableLogRaisesPermissionDenied) {
  // A directory where the file should be cannot be opened for writing, even
  // by root.
  std::filesystem::create_directories(dir_.path() / "logs" / "platform.log");
  Log log;
  try {
    log.WriteEntry("src", "text", 0, std::nullopt);
    FAIL() << "expected a failure";
  } catch (const platform::ComError& e) {
    EXPECT_EQ(e.number(), platform::err::kPermissionDenied);
    EXPECT_EQ(e.source(), "Orvanta.Log");
    EXPECT_NE(e.description().find("platform.log"), std::string::npos);
  }
}

TEST_F(LogTest, ReaderRejectsATornLine) {
  std::filesystem::create_directories(dir_.path() / "logs");
  std::ofstream(dir_.path() / "logs" / "platform.log") << "{\"time\":\"x\",\"lev";
  EXPECT_THROW(ReadLogEntries(), platform::ComError);
  EXPECT_TRUE(ReadLogEntries(dir_.path() / "missing.log").empty());
}

// Threads of this process and a second process append large entries at the
// same time; every line must come back whole and every entry exactly once.
TEST_F(LogTest, ConcurrentWritersNeverInterleave) {
  constexpr int kThreads = 4;
  constexpr int kPerWriter = 150;
  // Larger than a page and than PIPE_BUF, so a split write would show.
  const std::string filler(9000, 'x');

  auto write_some = [&](const std::string& who) {
    Log log;
    for (int i = 0; i < kPerWriter; ++i)
      log.WriteEntry(who, who + ":" + std::to_string(i) + ":" + filler, 0, std::nullopt);
  };

  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    int code = 0;
    try {
      write_some("process");
    } catch (...) {
      code = 1;
    }
    ::_exit(code);
  }
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back(write_some, "thread" + std::to_string(t));
  for (auto& t : threads) t.join();
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  const auto entries = ReadLogEntries();  // raises on any torn line
  ASSERT_EQ(entries.size(), static_cast<size_t>((kThreads + 1) * kPerWriter));
  std::map<std::string, int> next;  // each writer's entries arrive in its own order
  for (const LogEntry& e : entries) {
    const std::string expected = e.source + ":" + std::to_string(next[e.source]++) + ":" + filler;
    ASSERT_EQ(e.text, expected);
  }
  EXPECT_EQ(next.size(), static_cast<size_t>(kThreads + 1));
}

}  // namespace
