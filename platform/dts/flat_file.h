// FlatFileReader streams the rows of a delimited export file as a flat-file
// connection describes it: rows end with the row delimiter (a file with LF
// alone is read the same), columns are split at the column delimiter, a
// value may be enclosed in the text qualifier (then it may hold the
// delimiter, and a doubled qualifier stands for one), "Skip Rows" rows are
// passed over first. An empty value is Null; a qualified empty value ("")
// is an empty text. Only one row is held at a time, so memory stays flat
// however long the file is.
//
// A row that cannot be read as the file's rows (more or fewer columns than
// the first row, a value longer than "Max characters per delimited column",
// bytes that are not UTF-8, a qualifier that never closes) is returned with
// its error text; the caller decides what becomes of it.
//
// Thread-safety: one reader per thread.
#pragma once

#include <cstdint>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "platform/dts/package.h"

namespace platform::dts {

struct FlatRow {
  int64_t number = 0;  // the row's place in the file, 1 for the first
  std::vector<std::optional<std::string>> values;  // nullopt: Null
  std::string error;   // not empty: the row could not be read
  std::string raw;     // with error: the row's text as read (for the exception file)
};

class FlatFileReader {
 public:
  // Raises 53 (file not found) or 70 (permission denied) with the path.
  explicit FlatFileReader(const Connection& connection);

  // Reads the next row; false at the end of the file.
  bool Next(FlatRow& row);

  // The column count of the file (that of its first row), 0 before it.
  size_t columns() const { return columns_; }

  // "Col001" for column 0.
  static std::string ColumnName(size_t index);

 private:
  void Split(FlatRow& row) const;
  std::ifstream in_;
  std::string path_;
  char column_delimiter_ = '\t';
  char qualifier_ = 0;
  size_t max_chars_ = 255;
  size_t columns_ = 0;
  int64_t skip_ = 0;
  int64_t line_ = 0;
  bool first_row_names_ = false;
  std::string line_text_;
};

// True when text is well-formed UTF-8.
bool IsUtf8(std::string_view text);

}  // namespace platform::dts
