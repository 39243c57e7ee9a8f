// Reading export files: row ends, qualifiers, and the rows that cannot be read.

#include "platform/dts/flat_file.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "tests/support/failure.h"
#include "tests/support/test_instance.h"

namespace platform::dts {
namespace {

class FlatFile : public ::testing::Test {
 protected:
  Connection File(const std::string& content, bool qualified = false) {
    const auto path = dir_.path() / "export";
    std::ofstream(path, std::ios::binary) << content;
    Connection c;
    c.name = "export";
    c.provider = kFlatFileProvider;
    c.Set("Data Source", path.string());
    c.Set("Row Delimiter", "\r\n");
    c.Set("Column Delimiter", "\t");
    if (qualified) c.Set("Text Qualifier", "\"");
    c.Set("Max characters per delimited column", "255");
    return c;
  }
  std::vector<FlatRow> ReadAll(const Connection& c) {
    FlatFileReader reader(c);
    std::vector<FlatRow> rows;
    FlatRow row;
    while (reader.Next(row)) rows.push_back(row);
    return rows;
  }
  vendra_test::TemporaryDirectory dir_;
};

TEST_F(FlatFile, CrLfAndLfRowsReadAlike) {
  for (const char* text : {"a\tb\r\nc\t\r\n", "a\tb\nc\t\n", "a\tb\r\nc\t"}) {
    const auto rows = ReadAll(File(text));
    ASSERT_EQ(rows.size(), 2u) << text;
    EXPECT_EQ(rows[0].values[0], "a");
    EXPECT_EQ(rows[0].values[1], "b");
    EXPECT_EQ(rows[1].values[0], "c");
    EXPECT_FALSE(rows[1].values[1].has_value()) << "an empty value is Null";
    EXPECT_TRUE(rows[1].error.empty());
  }
}

TEST_F(FlatFile, QualifiedValuesHoldDelimitersAndQuotes) {
  const auto rows = ReadAll(File("\"Abrasives\"\t\"Grinding\tand polishing\"\r\n"
                                 "\"say \"\"hi\"\"\"\t\"\"\r\n",
                                 true));
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].values[1], "Grinding\tand polishing");
  EXPECT_EQ(rows[1].values[0], "say \"hi\"");
  EXPECT_EQ(rows[1].values[1], "") << "a quoted empty value is an empty text, not Null";
}

TEST_F(FlatFile, ColumnsAreNamedInFileOrder) {
  EXPECT_EQ(FlatFileReader::ColumnName(0), "Col001");
  EXPECT_EQ(FlatFileReader::ColumnName(11), "Col012");
}

TEST_F(FlatFile, RowsThatCannotBeReadCarryTheirError) {
  struct Case {
    std::string text;
    bool qualified;
    const char* error_part;
  };
  const Case cases[] = {
      {"a\tb\r\nc\r\n", false, "has 1 columns; the rows of the file have 2"},
      {"a\tb\r\nc\td\te\r\n", false, "has 3 columns"},
      {"a\tb\r\nc\t\xff\xfe\r\n", false, "not UTF-8"},
      {"a\tb\r\nc\t" + std::string(100000, 'x') + "\r\n", false, "holds 100000 characters"},
      {"\"a\"\t\"b\"\r\n\"c\td\r\n", true, "never closes"},
      {"\"a\"\t\"b\"\r\n\"c\"x\td\r\n", true, "text follows the closing text qualifier"},
  };
  for (const Case& c : cases) {
    const auto rows = ReadAll(File(c.text, c.qualified));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_TRUE(rows[0].error.empty());
    EXPECT_NE(rows[1].error.find(c.error_part), std::string::npos) << rows[1].error;
    EXPECT_EQ(rows[1].number, 2);
  }
}

TEST_F(FlatFile, LongTextWithinTheLimitCountsCharactersNotBytes) {
  std::string value;
  for (int i = 0; i < 200; ++i) value += "\xc3\xa4";  // 200 characters, 400 bytes
  const auto rows = ReadAll(File(value + "\r\n"));
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_TRUE(rows[0].error.empty()) << rows[0].error;
}

TEST_F(FlatFile, SkipRowsAndBlankLines) {
  Connection c = File("header\r\n\r\na\r\n\r\nb\r\n");
  c.Set("Skip Rows", "1");
  const auto rows = ReadAll(c);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].values[0], "a");
  EXPECT_EQ(rows[1].number, 5);
}

TEST_F(FlatFile, MissingFileIsFileNotFound) {
  Connection c;
  c.name = "tiitm001";
  c.provider = kFlatFileProvider;
  c.Set("Data Source", (dir_.path() / "absent").string());
  const ComError e = vendra_test::Failure([&] { FlatFileReader reader(c); });
  EXPECT_EQ(e.number(), err::kFileNotFound);
  EXPECT_NE(e.description().find("absent"), std::string::npos);
  c.Set("Data Source", dir_.path().string());
  EXPECT_EQ(vendra_test::ErrorOf([&] { FlatFileReader reader(c); }), err::kFileNotFound);
}

TEST(Utf8, AcceptsTextAndRefusesMalformedBytes) {
  EXPECT_TRUE(IsUtf8("plain"));
  EXPECT_TRUE(IsUtf8("M\xc3\xbcller \xe2\x82\xac \xf0\x9f\x94\xa7"));
  EXPECT_FALSE(IsUtf8("\xc0\xaf"));          // overlong
  EXPECT_FALSE(IsUtf8("\xed\xa0\x80"));      // surrogate
  EXPECT_FALSE(IsUtf8("M\xfcller"));         // Latin-1
  EXPECT_FALSE(IsUtf8("\xe2\x82"));          // cut short
}

}  // namespace
}  // namespace platform::dts
