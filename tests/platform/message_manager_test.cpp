// The web application's label cache over a real label table: what it answers,
// that it reads a locale once and keeps it, that it is safe to share between
// request threads, and that it finds the instance's sales database itself.
#include "platform/services/message_manager.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/core/com_error.h"
#include "platform/data/connection.h"
#include "platform/host/registry.h"
#include "tests/support/test_instance.h"

namespace {

using platform::I18NMessageManager;

class MessageManagerTest : public ::testing::Test {
 protected:
  MessageManagerTest()
      : connection_string_("Provider=SQLite;Data Source=" + directory_.path().string() +
                           ";Initial Catalog=Labels") {}
  ~MessageManagerTest() override {
    platform::data::ReleasePooledSessions(platform::data::DatabaseFilePath(connection_string_));
  }

  void CreateLabels() {
    platform::data::CreateDatabaseFile(connection_string_);
    Execute(
        "CREATE TABLE I18NTEXT (LOCALEID INT NOT NULL, LABEL NVARCHAR(40) COLLATE NOCASE NOT NULL,"
        " TEXT NVARCHAR(400), PRIMARY KEY (LOCALEID, LABEL));"
        "INSERT INTO I18NTEXT VALUES (1033, 'SLBSA3557', 'Customer');"
        "INSERT INTO I18NTEXT VALUES (1031, 'SLBSA3557', 'Kunde');"
        "INSERT INTO I18NTEXT VALUES (1033, 'SLBSA7012', 'yyyy');"
        "INSERT INTO I18NTEXT VALUES (1031, 'SLBSA7012', 'JJJJ');"
        "INSERT INTO I18NTEXT VALUES (1033, 'SLBSA0622', NULL);");
  }
  void Execute(const std::string& sql) {
    platform::data::Connection connection;
    connection.Open(connection_string_);
    platform::data::ExecuteScript(connection, sql);
    connection.Close();
  }

  vendra_test::TemporaryDirectory directory_;
  std::string connection_string_;
};

TEST_F(MessageManagerTest, AnswersPerLocaleAndEmptyForWhatItDoesNotKnow) {
  CreateLabels();
  I18NMessageManager manager(connection_string_);
  EXPECT_EQ(manager.GetMessage("SLBSA3557", "1033"), "Customer");
  EXPECT_EQ(manager.GetMessage("SLBSA3557", "1031"), "Kunde");
  EXPECT_EQ(manager.GetMessage("slbsa7012", "1031"), "JJJJ");  // codes compare as the table does
  EXPECT_EQ(manager.GetMessage("SLBSA9999", "1033"), "");
  EXPECT_EQ(manager.GetMessage("SLBSA0622", "1033"), "");  // a caption nobody wrote
  EXPECT_EQ(manager.GetMessage("SLBSA3557", "1036"), "");  // a locale without labels
  EXPECT_EQ(manager.GetMessage("SLBSA3557", "de-DE"), "");  // no locale id at all
  EXPECT_EQ(manager.LoadedLocales(), 3);
}

TEST_F(MessageManagerTest, ReadsALocaleOnceAndKeepsIt) {
  CreateLabels();
  I18NMessageManager manager(connection_string_);
  EXPECT_EQ(manager.GetMessage("SLBSA3557", "1033"), "Customer");
  Execute("UPDATE I18NTEXT SET TEXT = 'Client' WHERE LABEL = 'SLBSA3557';"
          "INSERT INTO I18NTEXT VALUES (1033, 'SLBSA3558', 'Order date');");
  EXPECT_EQ(manager.GetMessage("SLBSA3557", "1033"), "Customer");
  EXPECT_EQ(manager.GetMessage("SLBSA3558", "1033"), "");
  EXPECT_EQ(manager.LoadedLocales(), 1);
  // A locale read for the first time sees the table as it is now.
  EXPECT_EQ(manager.GetMessage("SLBSA3557", "1031"), "Client");
  // A new application starts afresh.
  EXPECT_EQ(I18NMessageManager(connection_string_).GetMessage("SLBSA3558", "1033"), "Order date");
}

TEST_F(MessageManagerTest, UnreadableLabelsRaiseAndAreTriedAgain) {
  I18NMessageManager manager(connection_string_);
  EXPECT_THROW(manager.GetMessage("SLBSA3557", "1033"), platform::ComError);
  EXPECT_EQ(manager.LoadedLocales(), 0);
  CreateLabels();
  EXPECT_EQ(manager.GetMessage("SLBSA3557", "1033"), "Customer");
}

TEST_F(MessageManagerTest, RequestThreadsShareOneManager) {
  CreateLabels();
  I18NMessageManager manager(connection_string_);
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) {
        const bool german = (i + t) % 2 == 0;
        const std::string text = manager.GetMessage("SLBSA3557", german ? "1031" : "1033");
        if (text != (german ? "Kunde" : "Customer")) ++wrong;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(manager.LoadedLocales(), 2);
}

TEST_F(MessageManagerTest, IsInstalledInTheApplicationStateAndCalledByName) {
  CreateLabels();
  auto application = platform::Dictionary::New();
  auto manager = platform::InstallMessageManager(*application, connection_string_);
  const platform::ObjectPtr stored = application->Item("I18NMessageManager").ToObject();
  EXPECT_EQ(stored, platform::ObjectPtr(manager));
  EXPECT_EQ(platform::Call(stored, "GetMessage", {"SLBSA7012", platform::Variant(int32_t{1033})})
                .ToString(),
            "yyyy");
}

TEST(MessageManagerInstanceTest, FindsTheInstanceSalesDatabase) {
  vendra_test::TestInstance instance;
  auto manager = platform::CreateObject("I18NMessageManager");
  EXPECT_EQ(platform::Call(manager, "GetMessage", {"SLBSA7012", "1033"}).ToString(), "yyyy");
  EXPECT_EQ(platform::Call(manager, "GetMessage", {"SLBSA7012", "1031"}).ToString(), "JJJJ");
  EXPECT_EQ(platform::Call(manager, "GetMessage", {"VendraError_ProductDisabled", "1033"})
                .ToString(),
            "This product is no longer available.");
}

}  // namespace
