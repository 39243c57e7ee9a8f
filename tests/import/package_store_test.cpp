// The package store: versions by name, the latest loaded, nothing stored by
// a save that fails.

#include "platform/dts/package_store.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/data/fault_injection.h"
#include "tests/support/failure.h"
#include "tests/support/test_instance.h"

namespace platform::dts {
namespace {

Package Sample(const std::string& name, const std::string& marker) {
  Package p;
  p.name = name;
  p.description = marker;
  p.global_variables = {{"Version", marker}};
  Connection c;
  c.id = 7;
  c.name = "export";
  c.provider = kFlatFileProvider;
  c.Set("Column Delimiter", "\t");
  c.Set("Row Delimiter", "\r\n");
  p.connections.push_back(c);
  Step s;
  s.name = "One";
  s.task_name = "T";
  s.precedence = {{"Zero", PrecedenceBasis::kSuccess}};
  p.steps.push_back(s);
  Task t;
  t.name = "T";
  t.kind = TaskKind::kDataDrivenQuery;
  t.script = "function Main() return 1 end -- ]] ]=] \"quoted\"";
  t.lookups = {{"FindKey", 12, "SELECT X FROM Y WHERE Z = ?"}};
  t.insert_columns = {"A", "B"};
  p.tasks.push_back(t);
  return p;
}

TEST(PackageStore, KeepsVersionsAndLoadsTheLatest) {
  vendra_test::TemporaryDirectory dir;
  PackageStore store(dir.path());
  const PackageVersion first = store.Save(Sample("Prodloader_4c_Common", "one"), "sa", "secret");
  const PackageVersion second = store.Save(Sample("Prodloader_4c_Common", "two"));
  store.Save(Sample("Other", "three"));
  EXPECT_NE(first.version_id, second.version_id);
  EXPECT_LT(first.sequence, second.sequence);

  const Package latest = store.LoadLatest("prodloader_4C_common");  // names ignore case
  EXPECT_EQ(latest.description, "two");
  EXPECT_EQ(latest.ToJson(), Sample("Prodloader_4c_Common", "two").ToJson())
      << "the package comes back as it was stored";
  ASSERT_EQ(latest.tasks.size(), 1u);
  EXPECT_EQ(latest.tasks[0].script, "function Main() return 1 end -- ]] ]=] \"quoted\"");
  EXPECT_EQ(latest.steps[0].precedence[0].basis, PrecedenceBasis::kSuccess);
  EXPECT_EQ(latest.connections[0].Get("Row Delimiter"), "\r\n");

  const auto versions = store.Versions("Prodloader_4c_Common");
  ASSERT_EQ(versions.size(), 2u);
  EXPECT_EQ(versions[0].description, "one");
  EXPECT_EQ(versions[1].version_id, second.version_id);
}

TEST(PackageStore, UnknownServerAndUnknownNameAreClearErrors) {
  vendra_test::TemporaryDirectory dir;
  const ComError server = vendra_test::Failure([&] { PackageStore(dir.path() / "nowhere"); });
  EXPECT_EQ(server.number(), store_err::kServerNotFound);
  EXPECT_NE(server.description().find("nowhere"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "nowhere")) << "nothing is created";

  PackageStore store(dir.path());
  EXPECT_EQ(vendra_test::ErrorOf([&] { store.LoadLatest("Prodloader_4c_Common"); }),
            store_err::kPackageNotFound);
  store.Save(Sample("Prodloader_4c_Common", "one"));
  const ComError name = vendra_test::Failure([&] { store.LoadLatest("Prodloader_5_Common"); });
  EXPECT_EQ(name.number(), store_err::kPackageNotFound);
  EXPECT_NE(name.description().find("Prodloader_5_Common"), std::string::npos);
}

// A save that fails at any of its statements leaves the store as it was.
TEST(PackageStore, FailedSaveStoresNothing) {
  vendra_test::TemporaryDirectory dir;
  PackageStore store(dir.path());
  store.Save(Sample("P", "kept"));
  data::FaultInjection::FailNthStatement(0);
  store.Save(Sample("Q", "counting"));
  const int32_t statements = data::FaultInjection::StatementsSeen();
  ASSERT_GE(statements, 2);
  for (int32_t n = 1; n <= statements; ++n) {
    {
      data::ScopedFault fault(n);
      EXPECT_NE(vendra_test::ErrorOf([&] { store.Save(Sample("P", "lost")); }), 0) << n;
    }
    EXPECT_EQ(store.LoadLatest("P").description, "kept") << n;
    EXPECT_EQ(store.Versions("P").size(), 1u) << n;
  }
}

TEST(PackageStore, TextThatIsNotAPackageIsTypeMismatch) {
  EXPECT_EQ(vendra_test::ErrorOf([] { Package::FromJson("{\"name\": 3}"); }), err::kTypeMismatch);
  EXPECT_EQ(vendra_test::ErrorOf([] { Package::FromJson("not json"); }), err::kTypeMismatch);
}

}  // namespace
}  // namespace platform::dts
